// Helpers for scripting replies of the fake server: statuses, schemas and
// column-wise row sets.
#include <thrift/protocol/TBinaryProtocol.h>
#include <thrift/transport/TBufferTransports.h>

#include "fake_server.h"

namespace tarn_fake {

tcli::TStatus ok_status() {
    tcli::TStatus s;
    s.statusCode = tcli::TStatusCode::SUCCESS_STATUS;
    return s;
}

tcli::TStatus error_status(const std::string &message, const std::string &sql_state, int error_code,
                           tcli::TStatusCode::type code) {
    tcli::TStatus s;
    s.statusCode = code;
    if (!message.empty()) s.__set_errorMessage(message);
    if (!sql_state.empty()) s.__set_sqlState(sql_state);
    if (error_code) s.__set_errorCode(error_code);
    return s;
}

tcli::TColumnDesc column_desc(const std::string &name, tcli::TTypeId::type type, int position,
                              const std::map<std::string, int32_t> &qualifiers) {
    tcli::TPrimitiveTypeEntry primitive;
    primitive.type = type;
    if (!qualifiers.empty()) {
        tcli::TTypeQualifiers q;
        for (const auto &[key, value] : qualifiers) {
            tcli::TTypeQualifierValue v;
            v.__set_i32Value(value);
            q.qualifiers[key] = v;
        }
        primitive.__set_typeQualifiers(q);
    }
    tcli::TTypeEntry entry;
    entry.__set_primitiveEntry(primitive);
    tcli::TColumnDesc desc;
    desc.columnName = name;
    desc.typeDesc.types.push_back(entry);
    desc.position = position;
    return desc;
}

tcli::TTableSchema schema(const std::vector<tcli::TColumnDesc> &columns) {
    tcli::TTableSchema s;
    s.columns = columns;
    return s;
}

namespace {

// The null bitmap of the rows whose flag is set, least significant bit
// first, as short as the last null allows (the server trims it likewise).
std::string null_bits(const std::vector<bool> &nulls) {
    std::string bits;
    for (size_t r = 0; r < nulls.size(); r++) {
        if (!nulls[r]) continue;
        if (bits.size() <= r / 8) bits.resize(r / 8 + 1, '\0');
        bits[r / 8] = (char)(bits[r / 8] | (1 << (r % 8)));
    }
    return bits;
}

bool null_at(const std::string &bits, size_t r) {
    return r / 8 < bits.size() && (((unsigned char)bits[r / 8] >> (r % 8)) & 1);
}

template <class Col, class T, class Opt> Col make_column(const std::vector<Opt> &values) {
    Col c;
    std::vector<bool> nulls;
    for (const Opt &v : values) {
        c.values.push_back(v ? (T)*v : T());
        nulls.push_back(!v);
    }
    c.nulls = null_bits(nulls);
    return c;
}

template <class Col> Col slice_of(const Col &c, size_t first, size_t count) {
    Col out;
    std::vector<bool> nulls;
    for (size_t r = first; r < c.values.size() && r < first + count; r++) {
        out.values.push_back(c.values[r]);
        nulls.push_back(null_at(c.nulls, r));
    }
    out.nulls = null_bits(nulls);
    return out;
}

}  // namespace

tcli::TColumn bool_column(const std::vector<std::optional<bool>> &values) {
    tcli::TColumn c;
    c.__set_boolVal(make_column<tcli::TBoolColumn, bool>(values));
    return c;
}
tcli::TColumn byte_column(const std::vector<std::optional<int8_t>> &values) {
    tcli::TColumn c;
    c.__set_byteVal(make_column<tcli::TByteColumn, int8_t>(values));
    return c;
}
tcli::TColumn i16_column(const std::vector<std::optional<int16_t>> &values) {
    tcli::TColumn c;
    c.__set_i16Val(make_column<tcli::TI16Column, int16_t>(values));
    return c;
}
tcli::TColumn i32_column(const std::vector<std::optional<int32_t>> &values) {
    tcli::TColumn c;
    c.__set_i32Val(make_column<tcli::TI32Column, int32_t>(values));
    return c;
}
tcli::TColumn i64_column(const std::vector<std::optional<int64_t>> &values) {
    tcli::TColumn c;
    c.__set_i64Val(make_column<tcli::TI64Column, int64_t>(values));
    return c;
}
tcli::TColumn double_column(const std::vector<std::optional<double>> &values) {
    tcli::TColumn c;
    c.__set_doubleVal(make_column<tcli::TDoubleColumn, double>(values));
    return c;
}
tcli::TColumn string_column(const std::vector<std::optional<std::string>> &values) {
    tcli::TColumn c;
    c.__set_stringVal(make_column<tcli::TStringColumn, std::string>(values));
    return c;
}
tcli::TColumn binary_column(const std::vector<std::optional<std::string>> &values) {
    tcli::TColumn c;
    c.__set_binaryVal(make_column<tcli::TBinaryColumn, std::string>(values));
    return c;
}

size_t column_rows(const tcli::TColumn &c) {
    if (c.__isset.boolVal) return c.boolVal.values.size();
    if (c.__isset.byteVal) return c.byteVal.values.size();
    if (c.__isset.i16Val) return c.i16Val.values.size();
    if (c.__isset.i32Val) return c.i32Val.values.size();
    if (c.__isset.i64Val) return c.i64Val.values.size();
    if (c.__isset.doubleVal) return c.doubleVal.values.size();
    if (c.__isset.stringVal) return c.stringVal.values.size();
    if (c.__isset.binaryVal) return c.binaryVal.values.size();
    return 0;
}

tcli::TColumn column_slice(const tcli::TColumn &c, size_t first, size_t count) {
    tcli::TColumn out;
    if (c.__isset.boolVal) out.__set_boolVal(slice_of(c.boolVal, first, count));
    if (c.__isset.byteVal) out.__set_byteVal(slice_of(c.byteVal, first, count));
    if (c.__isset.i16Val) out.__set_i16Val(slice_of(c.i16Val, first, count));
    if (c.__isset.i32Val) out.__set_i32Val(slice_of(c.i32Val, first, count));
    if (c.__isset.i64Val) out.__set_i64Val(slice_of(c.i64Val, first, count));
    if (c.__isset.doubleVal) out.__set_doubleVal(slice_of(c.doubleVal, first, count));
    if (c.__isset.stringVal) out.__set_stringVal(slice_of(c.stringVal, first, count));
    if (c.__isset.binaryVal) out.__set_binaryVal(slice_of(c.binaryVal, first, count));
    return out;
}

tcli::TColumn column_empty_like(const tcli::TColumn &c) { return column_slice(c, 0, 0); }

tcli::TColumn column_empty_for(tcli::TTypeId::type type) {
    tcli::TColumn c;
    switch (type) {
    case tcli::TTypeId::BOOLEAN_TYPE: c.__set_boolVal(tcli::TBoolColumn()); break;
    case tcli::TTypeId::TINYINT_TYPE: c.__set_byteVal(tcli::TByteColumn()); break;
    case tcli::TTypeId::SMALLINT_TYPE: c.__set_i16Val(tcli::TI16Column()); break;
    case tcli::TTypeId::INT_TYPE: c.__set_i32Val(tcli::TI32Column()); break;
    case tcli::TTypeId::BIGINT_TYPE: c.__set_i64Val(tcli::TI64Column()); break;
    case tcli::TTypeId::FLOAT_TYPE:
    case tcli::TTypeId::DOUBLE_TYPE: c.__set_doubleVal(tcli::TDoubleColumn()); break;
    case tcli::TTypeId::BINARY_TYPE: c.__set_binaryVal(tcli::TBinaryColumn()); break;
    default: c.__set_stringVal(tcli::TStringColumn()); break;
    }
    return c;
}

std::string message_bytes(const std::string &name, int type, int32_t seqid,
                          const std::function<void(apache::thrift::protocol::TProtocol &)> &body) {
    auto buffer = std::make_shared<apache::thrift::transport::TMemoryBuffer>();
    apache::thrift::protocol::TBinaryProtocol p(buffer, 0, 0, true, true);
    p.writeMessageBegin(name, (apache::thrift::protocol::TMessageType)type, seqid);
    if (body) body(p);
    p.writeMessageEnd();
    return buffer->getBufferAsString();
}

std::string be32(uint32_t value) {
    std::string s(4, '\0');
    s[0] = (char)(value >> 24);
    s[1] = (char)(value >> 16);
    s[2] = (char)(value >> 8);
    s[3] = (char)value;
    return s;
}

}  // namespace tarn_fake
