// Result-set helpers for the fake server.
#include "fake_results.h"

#include "TCLIService.h"

namespace tarn_fake {

tcli::TColumn with_null_bitmap(tcli::TColumn c, const std::string &bits) {
    if (c.__isset.boolVal) c.boolVal.nulls = bits;
    if (c.__isset.byteVal) c.byteVal.nulls = bits;
    if (c.__isset.i16Val) c.i16Val.nulls = bits;
    if (c.__isset.i32Val) c.i32Val.nulls = bits;
    if (c.__isset.i64Val) c.i64Val.nulls = bits;
    if (c.__isset.doubleVal) c.doubleVal.nulls = bits;
    if (c.__isset.stringVal) c.stringVal.nulls = bits;
    if (c.__isset.binaryVal) c.binaryVal.nulls = bits;
    return c;
}

tcli::TRowSet row_set(const std::vector<tcli::TColumn> &columns) {
    tcli::TRowSet r;
    r.__set_columns(columns);
    return r;
}

tcli::TRowSet row_set_without_columns() { return tcli::TRowSet(); }

tcli::TRowSet row_set_with_zero_columns() {
    tcli::TRowSet r;
    r.__set_columns({});
    return r;
}

FakeResult int_sequence(int32_t first, int count) {
    FakeResult r;
    r.schema = schema({column_desc("n", tcli::TTypeId::INT_TYPE, 1)});
    std::vector<std::optional<int32_t>> values;
    for (int i = 0; i < count; i++) values.push_back(first + i);
    r.columns = {i32_column(values)};
    return r;
}

std::vector<int64_t> fetch_requests(const FakeServer &server) {
    std::vector<int64_t> out;
    for (const Record &rec : server.records("FetchResults"))
        out.push_back(decode_args<tcli::TCLIService_FetchResults_args>(rec.message).req.maxRows);
    return out;
}

}  // namespace tarn_fake
