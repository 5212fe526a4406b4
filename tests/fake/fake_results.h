// Result-set helpers for the fake server: row sets built batch by batch,
// null bitmaps of any length, and the shapes a server uses to say "no more
// rows".
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "fake_server.h"

namespace tarn_fake {

// The column with its null bitmap replaced by `bits` as given (any length:
// empty, shorter than the rows, or padded past them).
tcli::TColumn with_null_bitmap(tcli::TColumn column, const std::string &bits);

// A batch of the given columns.
tcli::TRowSet row_set(const std::vector<tcli::TColumn> &columns);
// A batch without a `columns` field (how a server answers a statement that
// has no rows), and one with an empty `columns` list.
tcli::TRowSet row_set_without_columns();
tcli::TRowSet row_set_with_zero_columns();

// One INT column "n" holding first, first + 1, ... (count values).
FakeResult int_sequence(int32_t first, int count);

// The maxRows of every FetchResults request the server received, in order.
std::vector<int64_t> fetch_requests(const FakeServer &server);

}  // namespace tarn_fake
