// Helpers for tests that link the driver core directly: the diagnostics
// posted on a handle, text of driver strings.
#pragma once

#include <string>
#include <vector>

#include "spk_err.h"
#include "spk_string.h"

namespace tarn_test {

// UTF-8 of a driver string ("" for none, unless `none` is given).
std::string text_of(const SpkString *s, const char *none = "");
// The SQLSTATEs of a handle's records, in order.
std::vector<std::string> states(const void *h);
std::string first_state(const void *h);
// The message of record n (1-based), "" when there is none.
std::string message(const void *h, int n = 1);
inline std::string first_message(const void *h) { return message(h, 1); }

}  // namespace tarn_test
