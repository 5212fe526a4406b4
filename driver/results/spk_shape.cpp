// Catalog result shapes over the server's rows.
#include "spk_shape.h"

#include <sql.h>
#include <sqlext.h>

#include <cctype>
#include <cstring>
#include <strings.h>

#include "spk_describe.h"
#include "spk_operation.h"

namespace {

// More names than any catalog holds: past this, rows are no longer checked
// for repeats, so a server cannot make the driver remember without bound.
constexpr size_t kMaxSeen = 1u << 20;

void set_null(SpkValue *out) {
    out->kind = SPK_VALUE_NONE;
    out->i = 0;
    out->d = 0;
    out->bytes = nullptr;
    out->length = 0;
}

void set_int(SpkValue *out, int64_t v) {
    set_null(out);
    out->kind = SPK_VALUE_INT;
    out->i = v;
}

bool row_current(const SpkOperation *op) {
    return op->has_row_set && op->current_row >= 0 && op->current_row < op->active_rows;
}

// The server row's column type, described as the result description would.
bool row_type(const SpkOperation *op, const SpkResultShape &sh, SpkSqlType *t) {
    SpkValue v;
    spk_row_value(op, sh.types.type_name, &v);
    SpkTypeName tn;
    if (v.kind != SPK_VALUE_STRING || !spk_parse_type_name(v.bytes, v.length, &tn)) {
        spk_row_value(op, sh.types.data_type, &v);
        if (v.kind != SPK_VALUE_INT) return false;
        tn.type_id = spk_type_id_of_jdbc(v.i);
        if (tn.type_id < 0) return false;
        tn.precision = tn.scale = tn.length = -1;
        if (tn.type_id == tcli::TTypeId::DECIMAL_TYPE) {
            spk_row_value(op, sh.types.column_size, &v);
            if (v.kind == SPK_VALUE_INT) tn.precision = (int32_t)v.i;
            spk_row_value(op, sh.types.decimal_digits, &v);
            if (v.kind == SPK_VALUE_INT) tn.scale = (int32_t)v.i;
        }
    }
    int32_t p = tn.precision >= 0 ? tn.precision : 10;
    int32_t s = tn.scale >= 0 ? tn.scale : 0;
    int32_t L = tn.length > 0 ? tn.length : sh.col_length;
    return spk_sql_type_of(tn.type_id, p, s, L, sh.odbc2, t);
}

bool exact_numeric(int t) {
    switch (t) {
    case SQL_BIT:
    case SQL_TINYINT:
    case SQL_SMALLINT:
    case SQL_INTEGER:
    case SQL_BIGINT:
    case SQL_NUMERIC:
    case SQL_DECIMAL: return true;
    default: return false;
    }
}

bool approximate_numeric(int t) { return t == SQL_REAL || t == SQL_FLOAT || t == SQL_DOUBLE; }

bool character_or_binary(int t) {
    switch (t) {
    case SQL_CHAR:
    case SQL_VARCHAR:
    case SQL_LONGVARCHAR:
    case SQL_WCHAR:
    case SQL_WVARCHAR:
    case SQL_WLONGVARCHAR:
    case SQL_BINARY:
    case SQL_VARBINARY:
    case SQL_LONGVARBINARY: return true;
    default: return false;
    }
}

// One of the SQLColumns type columns, from the described type.
bool type_column(int rule, const SpkSqlType &t, int64_t *v) {
    switch (rule) {
    case SPK_SHAPE_DATA_TYPE: *v = t.concise; return true;
    case SPK_SHAPE_COLUMN_SIZE: *v = (int64_t)spk_sql_column_size(t.concise, t.precision, t.display); return true;
    case SPK_SHAPE_BUFFER_LENGTH: *v = t.octet; return true;
    case SPK_SHAPE_DECIMAL_DIGITS:
        *v = t.scale;
        return exact_numeric(t.concise) || t.concise == SQL_TYPE_TIMESTAMP || t.concise == SQL_TIMESTAMP;
    case SPK_SHAPE_RADIX:
        *v = 10;
        return (exact_numeric(t.concise) && t.concise != SQL_BIT) || approximate_numeric(t.concise);
    case SPK_SHAPE_SQL_DATA_TYPE: *v = t.verbose; return true;
    case SPK_SHAPE_DATETIME_SUB: *v = t.datetime_code; return t.verbose == SQL_DATETIME;
    case SPK_SHAPE_CHAR_OCTET_LENGTH: *v = t.octet; return character_or_binary(t.concise);
    default: return false;
    }
}

const SpkShapeColumn *shape_column(const SpkResultShape &sh, int column) {
    if (column < 1 || (size_t)column > sh.columns.size()) return nullptr;
    return &sh.columns[(size_t)column - 1];
}

}  // namespace

void spk_shape_init(SpkResultShape *shape, const SpkShapeColumn *columns, int count) {
    shape->columns.assign(columns, columns + count);
    shape->server_columns = 0;
    for (int i = 0; i < count; i++)
        if (columns[i].source > shape->server_columns) shape->server_columns = columns[i].source;
}

int spk_shape_server_columns(const SpkOperation *op) {
    return op && op->shape ? op->shape->server_columns : 0;
}

void spk_shape_value(SpkOperation *op, int column, SpkValue *out) {
    set_null(out);
    const SpkResultShape &sh = *op->shape;
    const SpkShapeColumn *c = shape_column(sh, column);
    if (!c || !row_current(op)) return;
    switch (c->rule) {
    case SPK_SHAPE_COPY:
        if (c->source > 0) spk_row_value(op, c->source, out);
        return;
    case SPK_SHAPE_NULL_IF_EMPTY:
        spk_row_value(op, c->source, out);
        if (out->kind == SPK_VALUE_STRING && out->length == 0) set_null(out);
        return;
    case SPK_SHAPE_CONSTANT: set_int(out, c->constant); return;
    case SPK_SHAPE_ORDINAL:
        spk_row_value(op, c->source, out);
        if (out->kind == SPK_VALUE_INT) out->i += 1 - (sh.ordinal_base == 0 ? 0 : 1);
        return;
    case SPK_SHAPE_IS_NULLABLE: {
        // Made from NULLABLE: some servers send a YES that contradicts it.
        spk_row_value(op, c->source, out);
        const char *text = out->kind != SPK_VALUE_INT ? "" : out->i == SQL_NO_NULLS ? "NO"
                                                          : out->i == SQL_NULLABLE  ? "YES"
                                                                                    : "";
        set_null(out);
        out->kind = SPK_VALUE_STRING;
        out->bytes = text;
        out->length = strlen(text);
        return;
    }
    default: {
        SpkSqlType t;
        int64_t v = 0;
        if (row_type(op, sh, &t) && type_column(c->rule, t, &v)) set_int(out, v);
        return;
    }
    }
}

bool spk_shape_accept_row(SpkOperation *op) {
    SpkResultShape &sh = *op->shape;
    if (sh.ordinal_base < 0) {
        // Positions count from 1 on newer servers and from 0 on older ones;
        // a first row at position 0 tells the older kind.
        for (const SpkShapeColumn &c : sh.columns) {
            if (c.rule != SPK_SHAPE_ORDINAL) continue;
            SpkValue v;
            spk_row_value(op, c.source, &v);
            sh.ordinal_base = v.kind == SPK_VALUE_INT && v.i == 0 ? 0 : 1;
        }
    }
    if (sh.unique_source <= 0 || sh.seen.size() >= kMaxSeen) return true;
    SpkValue v;
    spk_row_value(op, sh.unique_source, &v);
    if (v.kind != SPK_VALUE_STRING) return true;
    return sh.seen.emplace(v.bytes, v.length).second;
}

void spk_shape_schema(const SpkShapeColumn *columns, int count, tcli::TTableSchema *schema) {
    schema->columns.clear();
    for (int i = 0; i < count; i++) {
        tcli::TColumnDesc d;
        d.columnName = columns[i].name;
        tcli::TTypeEntry e;
        tcli::TPrimitiveTypeEntry prim;
        switch (columns[i].sql_type) {
        case SQL_SMALLINT: prim.type = tcli::TTypeId::SMALLINT_TYPE; break;
        case SQL_INTEGER: prim.type = tcli::TTypeId::INT_TYPE; break;
        default: prim.type = tcli::TTypeId::STRING_TYPE; break;
        }
        e.__set_primitiveEntry(prim);
        d.typeDesc.types.push_back(e);
        d.position = i + 1;
        schema->columns.push_back(d);
    }
}

// ---------------------------------------------------------------------------
// Type names

namespace {

struct TypeWord {
    const char *word;
    int32_t type_id;
};

const TypeWord kTypeWords[] = {
    {"BOOLEAN", tcli::TTypeId::BOOLEAN_TYPE},     {"TINYINT", tcli::TTypeId::TINYINT_TYPE},
    {"BYTE", tcli::TTypeId::TINYINT_TYPE},        {"SMALLINT", tcli::TTypeId::SMALLINT_TYPE},
    {"SHORT", tcli::TTypeId::SMALLINT_TYPE},      {"INT", tcli::TTypeId::INT_TYPE},
    {"INTEGER", tcli::TTypeId::INT_TYPE},         {"BIGINT", tcli::TTypeId::BIGINT_TYPE},
    {"LONG", tcli::TTypeId::BIGINT_TYPE},         {"FLOAT", tcli::TTypeId::FLOAT_TYPE},
    {"REAL", tcli::TTypeId::FLOAT_TYPE},          {"DOUBLE", tcli::TTypeId::DOUBLE_TYPE},
    {"STRING", tcli::TTypeId::STRING_TYPE},       {"TIMESTAMP", tcli::TTypeId::TIMESTAMP_TYPE},
    {"TIMESTAMP_NTZ", tcli::TTypeId::TIMESTAMP_TYPE}, {"TIMESTAMP_LTZ", tcli::TTypeId::TIMESTAMP_TYPE},
    {"BINARY", tcli::TTypeId::BINARY_TYPE},       {"ARRAY", tcli::TTypeId::ARRAY_TYPE},
    {"MAP", tcli::TTypeId::MAP_TYPE},             {"STRUCT", tcli::TTypeId::STRUCT_TYPE},
    {"DECIMAL", tcli::TTypeId::DECIMAL_TYPE},     {"DEC", tcli::TTypeId::DECIMAL_TYPE},
    {"NUMERIC", tcli::TTypeId::DECIMAL_TYPE},     {"VOID", tcli::TTypeId::NULL_TYPE},
    {"NULL", tcli::TTypeId::NULL_TYPE},           {"DATE", tcli::TTypeId::DATE_TYPE},
    {"VARCHAR", tcli::TTypeId::VARCHAR_TYPE},     {"CHAR", tcli::TTypeId::CHAR_TYPE},
    {"CHARACTER", tcli::TTypeId::CHAR_TYPE},
};

// Reads an unsigned number at text[*i]; -1 when there is none.
int32_t read_number(const char *text, size_t length, size_t *i) {
    while (*i < length && text[*i] == ' ') ++*i;
    int64_t v = -1;
    while (*i < length && isdigit((unsigned char)text[*i])) {
        v = (v < 0 ? 0 : v) * 10 + (text[*i] - '0');
        if (v > INT32_MAX) return -1;
        ++*i;
    }
    while (*i < length && text[*i] == ' ') ++*i;
    return (int32_t)v;
}

bool contains_word(const char *text, size_t length, const char *word) {
    size_t n = strlen(word);
    for (size_t i = 0; i + n <= length; i++)
        if (strncasecmp(text + i, word, n) == 0) return true;
    return false;
}

}  // namespace

bool spk_parse_type_name(const char *text, size_t length, SpkTypeName *out) {
    out->type_id = -1;
    out->precision = out->scale = out->length = -1;
    size_t i = 0;
    while (i < length && text[i] == ' ') i++;
    size_t start = i;
    while (i < length && (isalpha((unsigned char)text[i]) || text[i] == '_')) i++;
    size_t n = i - start;
    if (n == 0) return false;
    if (n == 8 && strncasecmp(text + start, "INTERVAL", 8) == 0) {
        bool year_month = contains_word(text + i, length - i, "YEAR") || contains_word(text + i, length - i, "MONTH");
        out->type_id = year_month ? tcli::TTypeId::INTERVAL_YEAR_MONTH_TYPE : tcli::TTypeId::INTERVAL_DAY_TIME_TYPE;
        return true;
    }
    for (const TypeWord &w : kTypeWords)
        if (strlen(w.word) == n && strncasecmp(text + start, w.word, n) == 0) out->type_id = w.type_id;
    if (out->type_id < 0) return false;
    if (i < length && text[i] == '(') {
        i++;
        int32_t a = read_number(text, length, &i);
        int32_t b = -1;
        if (i < length && text[i] == ',') {
            i++;
            b = read_number(text, length, &i);
        }
        if (out->type_id == tcli::TTypeId::DECIMAL_TYPE) {
            out->precision = a;
            out->scale = b >= 0 ? b : (a >= 0 ? 0 : -1);
        } else if (out->type_id == tcli::TTypeId::VARCHAR_TYPE || out->type_id == tcli::TTypeId::CHAR_TYPE) {
            out->length = a;
        }
    }
    return true;
}

int32_t spk_type_id_of_jdbc(int64_t jdbc_type) {
    switch (jdbc_type) {
    case 16:                                   // BOOLEAN
    case -7: return tcli::TTypeId::BOOLEAN_TYPE;   // BIT
    case -6: return tcli::TTypeId::TINYINT_TYPE;
    case 5: return tcli::TTypeId::SMALLINT_TYPE;
    case 4: return tcli::TTypeId::INT_TYPE;
    case -5: return tcli::TTypeId::BIGINT_TYPE;
    case 6:                                    // FLOAT: a 4-byte float on this server
    case 7: return tcli::TTypeId::FLOAT_TYPE;
    case 8: return tcli::TTypeId::DOUBLE_TYPE;
    case 2:
    case 3: return tcli::TTypeId::DECIMAL_TYPE;
    case 1: return tcli::TTypeId::CHAR_TYPE;
    case 12:
    case -1:
    case -9:
    case -16:
    case 1111: return tcli::TTypeId::STRING_TYPE;   // OTHER: the intervals
    case 91: return tcli::TTypeId::DATE_TYPE;
    case 93:
    case 2014: return tcli::TTypeId::TIMESTAMP_TYPE;
    case -2:
    case -3:
    case -4: return tcli::TTypeId::BINARY_TYPE;
    case 2003: return tcli::TTypeId::ARRAY_TYPE;
    case 2000: return tcli::TTypeId::MAP_TYPE;
    case 2002: return tcli::TTypeId::STRUCT_TYPE;
    case 0: return tcli::TTypeId::NULL_TYPE;
    default: return -1;
    }
}
