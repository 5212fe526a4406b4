// One value of the current row, as the row set holds it.  Typed members are
// handed over as numbers, strings and byte strings in place (not copied).
#pragma once

#include <cstddef>
#include <cstdint>

#include "spk_batch.h"
#include "spk_handles.h"

enum SpkValueKind {
    SPK_VALUE_NONE = 0,     // SQL NULL, or no value at all (no row, no such column)
    SPK_VALUE_BOOL,         // `i` is 0 or 1
    SPK_VALUE_INT,          // `i` (8-, 16-, 32- or 64-bit members)
    SPK_VALUE_DOUBLE,       // `d`
    SPK_VALUE_STRING,       // `bytes`/`length`: UTF-8 text
    SPK_VALUE_BINARY,       // `bytes`/`length`: raw bytes
};

struct SpkValue {
    int kind;
    int64_t i;
    double d;
    const char *bytes;
    size_t length;
};

// The current row's value of result column `column` (1-based).  Kind
// SPK_VALUE_NONE when there is no row set, no such column, the current row is
// past the column's values, or the row's null bit is set.
void spk_column_value(SpkStatement *stmt, int column, SpkValue *out);
// The same for column `column` of the operation's row set as the server sent
// it (a catalog result's shape is not applied).
void spk_row_value(const SpkOperation *op, int column, SpkValue *out);
// Value `row` of a batch column (SPK_VALUE_NONE for a null or a row past
// its values).
void spk_batch_value(const SpkBatchColumn &column, size_t row, SpkValue *out);
