#include "tarn_core_support.h"

#include <cstdlib>

namespace tarn_test {

std::string text_of(const SpkString *s, const char *none) {
    if (!s) return none;
    char *u = spk_str_to_utf8(s);
    std::string out = u ? u : "";
    free(u);
    return out;
}

std::vector<std::string> states(const void *h) {
    std::vector<std::string> out;
    for (int i = 1; i <= spk_error_count(h); i++) out.push_back(text_of(spk_error_record(h, i)->sqlstate));
    return out;
}

std::string first_state(const void *h) {
    auto s = states(h);
    return s.empty() ? "" : s[0];
}

std::string message(const void *h, int n) {
    const SpkError *e = spk_error_record(h, n);
    return e ? text_of(e->message) : "";
}

}  // namespace tarn_test
