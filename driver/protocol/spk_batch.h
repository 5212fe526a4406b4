// One batch of fetched rows, held column by column the way the server sends
// them: every column's values in one array (numbers in host order, strings
// end to end in one buffer), so that reading a value costs an index and
// reading a reply costs no allocation per value.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "TCLIService_types.h"

namespace apache::thrift::protocol {
class TProtocol;
}

// Which member of the server's column union carried the values.
enum SpkBatchKind {
    SPK_BATCH_NONE = 0,
    SPK_BATCH_BOOL,     // 1 byte each, 0 or 1
    SPK_BATCH_BYTE,     // int8_t
    SPK_BATCH_I16,
    SPK_BATCH_I32,
    SPK_BATCH_I64,
    SPK_BATCH_DOUBLE,
    SPK_BATCH_STRING,   // UTF-8 text
    SPK_BATCH_BINARY,   // raw bytes
};

struct SpkBatchColumn {
    int kind = SPK_BATCH_NONE;
    size_t count = 0;            // values
    std::string nulls;           // the null bitmap as sent: bit r % 8 of byte r / 8
    // Numbers: `count` values of the member's width, in host byte order.
    std::vector<unsigned char> fixed;
    // Strings and byte strings: value r is text[offsets[r], offsets[r + 1]).
    std::vector<uint32_t> offsets;
    std::string text;

    // Row r is NULL when its bit is set; rows past a short bitmap are not.
    bool is_null(size_t r) const {
        return r / 8 < nulls.size() && ((static_cast<unsigned char>(nulls[r / 8]) >> (r % 8)) & 1) != 0;
    }
    template <class T> T number(size_t r) const {
        T v;
        std::memcpy(&v, fixed.data() + r * sizeof(T), sizeof(T));
        return v;
    }
    // The integer of an integer or boolean member.
    int64_t integer(size_t r) const {
        switch (kind) {
        case SPK_BATCH_BOOL: return fixed[r];
        case SPK_BATCH_BYTE: return (int8_t)fixed[r];
        case SPK_BATCH_I16: return number<int16_t>(r);
        case SPK_BATCH_I32: return number<int32_t>(r);
        default: return number<int64_t>(r);
        }
    }
    const char *bytes(size_t r, size_t *length) const {
        *length = offsets[r + 1] - offsets[r];
        return text.data() + offsets[r];
    }
};

struct SpkBatch {
    std::vector<SpkBatchColumn> columns;
};

// A FetchResults reply.
struct SpkFetchReply {
    tcli::TStatus status;
    bool has_results = false;    // a row set came
    bool has_columns = false;    // ... with its rows in column form (then `batch` holds them)
    bool other_form = false;     // ... with rows in a form this driver does not read
    SpkBatch batch;
};

// Columns one reply may carry.
enum : int { SPK_MAX_BATCH_COLUMNS = 1 << 16 };

// Reads the result struct of a FetchResults reply (what follows the message
// header) with the binary protocol `p`: the success field into `reply`, with
// strings of at most `string_limit` bytes.  Throws TProtocolException on a
// malformed reply and whatever the transport throws.  True when the success
// field was there.
bool spk_batch_read_result(apache::thrift::protocol::TProtocol *p, int32_t string_limit, SpkFetchReply *reply);

// The same batch from a row set built in memory (rows the driver makes
// itself, tests); a column with no member set stays SPK_BATCH_NONE.
void spk_batch_from_row_set(const tcli::TRowSet &rows, SpkBatch *batch);
