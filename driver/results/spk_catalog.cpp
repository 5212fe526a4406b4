// Catalog results over server operations and over the driver's own rows.
#include "spk_catalog.h"

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <utility>

#include "spk_args.h"
#include "spk_desc.h"
#include "spk_describe.h"
#include "spk_err.h"
#include "spk_handle.h"
#include "spk_log.h"
#include "spk_operation.h"
#include "spk_stmt.h"
#include "spk_tcli.h"

namespace {

SpkConnection *conn_of(SpkStatement *stmt) { return (SpkConnection *)stmt->parent; }

constexpr int V = SQL_VARCHAR, S = SQL_SMALLINT, I = SQL_INTEGER;

// Fills the statement's description from the presented columns.
int describe_columns(SpkStatement *stmt, const SpkShapeColumn *columns, int count) {
    tcli::TTableSchema schema;
    spk_shape_schema(columns, count, &schema);
    SpkDescriptor *ird = stmt->implicit_ird;
    if (spk_desc_reset(ird, count) != 0) {
        spk_post_error(stmt, "HY001", 0, nullptr);
        return -1;
    }
    ird->described_count = count;
    ird->described = 1;
    stmt->described = 1;
    for (int i = 0; i < count; i++) {
        if (setup_descriptor_fields(stmt, ird, i, schema.columns[(size_t)i]) != 0) {
            spk_stmt_forget_columns(stmt);
            return -1;
        }
    }
    return 0;
}

}  // namespace

// ---------------------------------------------------------------------------
// The ODBC layouts (source: the server column at the same position)

const SpkShapeColumn spk_tables_columns[5] = {
    {"TABLE_CAT", V, SPK_SHAPE_COPY, 1, 0},  {"TABLE_SCHEM", V, SPK_SHAPE_COPY, 2, 0},
    {"TABLE_NAME", V, SPK_SHAPE_COPY, 3, 0}, {"TABLE_TYPE", V, SPK_SHAPE_COPY, 4, 0},
    {"REMARKS", V, SPK_SHAPE_COPY, 5, 0},
};

const SpkShapeColumn spk_columns_columns[18] = {
    {"TABLE_CAT", V, SPK_SHAPE_NULL_IF_EMPTY, 1, 0},
    {"TABLE_SCHEM", V, SPK_SHAPE_COPY, 2, 0},
    {"TABLE_NAME", V, SPK_SHAPE_COPY, 3, 0},
    {"COLUMN_NAME", V, SPK_SHAPE_COPY, 4, 0},
    {"DATA_TYPE", S, SPK_SHAPE_DATA_TYPE, 5, 0},
    {"TYPE_NAME", V, SPK_SHAPE_COPY, 6, 0},
    {"COLUMN_SIZE", I, SPK_SHAPE_COLUMN_SIZE, 7, 0},
    {"BUFFER_LENGTH", I, SPK_SHAPE_BUFFER_LENGTH, 8, 0},
    {"DECIMAL_DIGITS", S, SPK_SHAPE_DECIMAL_DIGITS, 9, 0},
    {"NUM_PREC_RADIX", S, SPK_SHAPE_RADIX, 10, 0},
    {"NULLABLE", S, SPK_SHAPE_COPY, 11, 0},
    {"REMARKS", V, SPK_SHAPE_COPY, 12, 0},
    {"COLUMN_DEF", V, SPK_SHAPE_COPY, 13, 0},
    {"SQL_DATA_TYPE", S, SPK_SHAPE_SQL_DATA_TYPE, 14, 0},
    {"SQL_DATETIME_SUB", S, SPK_SHAPE_DATETIME_SUB, 15, 0},
    {"CHAR_OCTET_LENGTH", I, SPK_SHAPE_CHAR_OCTET_LENGTH, 16, 0},
    {"ORDINAL_POSITION", I, SPK_SHAPE_ORDINAL, 17, 0},
    {"IS_NULLABLE", V, SPK_SHAPE_IS_NULLABLE, 11, 0},
};

const SpkShapeColumn spk_statistics_columns[13] = {
    {"TABLE_CAT", V, 0, 1, 0},       {"TABLE_SCHEM", V, 0, 2, 0},      {"TABLE_NAME", V, 0, 3, 0},
    {"NON_UNIQUE", S, 0, 4, 0},      {"INDEX_QUALIFIER", V, 0, 5, 0},  {"INDEX_NAME", V, 0, 6, 0},
    {"TYPE", S, 0, 7, 0},            {"ORDINAL_POSITION", S, 0, 8, 0}, {"COLUMN_NAME", V, 0, 9, 0},
    {"ASC_OR_DESC", V, 0, 10, 0},    {"CARDINALITY", I, 0, 11, 0},     {"PAGES", I, 0, 12, 0},
    {"FILTER_CONDITION", V, 0, 13, 0},
};

const SpkShapeColumn spk_special_columns_columns[8] = {
    {"SCOPE", S, 0, 1, 0},         {"COLUMN_NAME", V, 0, 2, 0},    {"DATA_TYPE", S, 0, 3, 0},
    {"TYPE_NAME", V, 0, 4, 0},     {"COLUMN_SIZE", I, 0, 5, 0},    {"BUFFER_LENGTH", I, 0, 6, 0},
    {"DECIMAL_DIGITS", S, 0, 7, 0}, {"PSEUDO_COLUMN", S, 0, 8, 0},
};

const SpkShapeColumn spk_primary_keys_columns[6] = {
    {"TABLE_CAT", V, 0, 1, 0},   {"TABLE_SCHEM", V, 0, 2, 0}, {"TABLE_NAME", V, 0, 3, 0},
    {"COLUMN_NAME", V, 0, 4, 0}, {"KEY_SEQ", S, 0, 5, 0},     {"PK_NAME", V, 0, 6, 0},
};

const SpkShapeColumn spk_foreign_keys_columns[14] = {
    {"PKTABLE_CAT", V, SPK_SHAPE_NULL_IF_EMPTY, 1, 0}, {"PKTABLE_SCHEM", V, 0, 2, 0},
    {"PKTABLE_NAME", V, 0, 3, 0},                      {"PKCOLUMN_NAME", V, 0, 4, 0},
    {"FKTABLE_CAT", V, SPK_SHAPE_NULL_IF_EMPTY, 5, 0}, {"FKTABLE_SCHEM", V, 0, 6, 0},
    {"FKTABLE_NAME", V, 0, 7, 0},                      {"FKCOLUMN_NAME", V, 0, 8, 0},
    {"KEY_SEQ", S, 0, 9, 0},                           {"UPDATE_RULE", S, 0, 10, 0},
    {"DELETE_RULE", S, 0, 11, 0},                      {"FK_NAME", V, 0, 12, 0},
    {"PK_NAME", V, 0, 13, 0},                          {"DEFERRABILITY", S, 0, 14, 0},
};

// Over GetFunctions (FUNCTION_CAT, FUNCTION_SCHEM, FUNCTION_NAME, REMARKS,
// FUNCTION_TYPE, SPECIFIC_NAME): every server function is a function.
const SpkShapeColumn spk_procedures_columns[8] = {
    {"PROCEDURE_CAT", V, SPK_SHAPE_NULL_IF_EMPTY, 1, 0},
    {"PROCEDURE_SCHEM", V, SPK_SHAPE_COPY, 2, 0},
    {"PROCEDURE_NAME", V, SPK_SHAPE_COPY, 3, 0},
    {"NUM_INPUT_PARAMS", I, SPK_SHAPE_COPY, 0, 0},
    {"NUM_OUTPUT_PARAMS", I, SPK_SHAPE_COPY, 0, 0},
    {"NUM_RESULT_SETS", I, SPK_SHAPE_COPY, 0, 0},
    {"REMARKS", V, SPK_SHAPE_COPY, 4, 0},
    {"PROCEDURE_TYPE", S, SPK_SHAPE_CONSTANT, 0, SQL_PT_FUNCTION},
};

const SpkShapeColumn spk_procedure_columns_columns[19] = {
    {"PROCEDURE_CAT", V, 0, 1, 0},    {"PROCEDURE_SCHEM", V, 0, 2, 0},  {"PROCEDURE_NAME", V, 0, 3, 0},
    {"COLUMN_NAME", V, 0, 4, 0},      {"COLUMN_TYPE", S, 0, 5, 0},      {"DATA_TYPE", S, 0, 6, 0},
    {"TYPE_NAME", V, 0, 7, 0},        {"COLUMN_SIZE", I, 0, 8, 0},      {"BUFFER_LENGTH", I, 0, 9, 0},
    {"DECIMAL_DIGITS", S, 0, 10, 0},  {"NUM_PREC_RADIX", S, 0, 11, 0},  {"NULLABLE", S, 0, 12, 0},
    {"REMARKS", V, 0, 13, 0},         {"COLUMN_DEF", V, 0, 14, 0},      {"SQL_DATA_TYPE", S, 0, 15, 0},
    {"SQL_DATETIME_SUB", S, 0, 16, 0}, {"CHAR_OCTET_LENGTH", I, 0, 17, 0}, {"ORDINAL_POSITION", I, 0, 18, 0},
    {"IS_NULLABLE", V, 0, 19, 0},
};

const SpkShapeColumn spk_table_privileges_columns[7] = {
    {"TABLE_CAT", V, 0, 1, 0}, {"TABLE_SCHEM", V, 0, 2, 0}, {"TABLE_NAME", V, 0, 3, 0},
    {"GRANTOR", V, 0, 4, 0},   {"GRANTEE", V, 0, 5, 0},     {"PRIVILEGE", V, 0, 6, 0},
    {"IS_GRANTABLE", V, 0, 7, 0},
};

const SpkShapeColumn spk_column_privileges_columns[8] = {
    {"TABLE_CAT", V, 0, 1, 0}, {"TABLE_SCHEM", V, 0, 2, 0}, {"TABLE_NAME", V, 0, 3, 0},
    {"COLUMN_NAME", V, 0, 4, 0}, {"GRANTOR", V, 0, 5, 0},   {"GRANTEE", V, 0, 6, 0},
    {"PRIVILEGE", V, 0, 7, 0}, {"IS_GRANTABLE", V, 0, 8, 0},
};

const SpkShapeColumn spk_type_info_columns[19] = {
    {"TYPE_NAME", V, 0, 1, 0},          {"DATA_TYPE", S, 0, 2, 0},         {"COLUMN_SIZE", I, 0, 3, 0},
    {"LITERAL_PREFIX", V, 0, 4, 0},     {"LITERAL_SUFFIX", V, 0, 5, 0},    {"CREATE_PARAMS", V, 0, 6, 0},
    {"NULLABLE", S, 0, 7, 0},           {"CASE_SENSITIVE", S, 0, 8, 0},    {"SEARCHABLE", S, 0, 9, 0},
    {"UNSIGNED_ATTRIBUTE", S, 0, 10, 0}, {"FIXED_PREC_SCALE", S, 0, 11, 0}, {"AUTO_UNIQUE_VALUE", S, 0, 12, 0},
    {"LOCAL_TYPE_NAME", V, 0, 13, 0},   {"MINIMUM_SCALE", S, 0, 14, 0},    {"MAXIMUM_SCALE", S, 0, 15, 0},
    {"SQL_DATA_TYPE", S, 0, 16, 0},     {"SQL_DATETIME_SUB", S, 0, 17, 0}, {"NUM_PREC_RADIX", I, 0, 18, 0},
    {"INTERVAL_PRECISION", S, 0, 19, 0},
};

// ---------------------------------------------------------------------------
// Arguments

SpkCatalogArgs::~SpkCatalogArgs() {
    for (SpkString *s : name) spk_str_free(s);
}

int spk_catalog_args(SpkStatement *stmt, int wide, std::initializer_list<SpkTextArg> args, SpkCatalogArgs *out) {
    int i = 0;
    for (const SpkTextArg &a : args) {
        if (i >= SPK_COUNT(out->name)) break;
        if (spk_text_arg(stmt, a.text, a.length, wide, &out->name[i]) != 0) return -1;
        i++;
    }
    return 0;
}

bool spk_catalog_metadata_id(SpkStatement *stmt) { return stmt->attrs.metadata_id == SQL_TRUE; }

std::string spk_catalog_name(SpkStatement *stmt, const SpkString *arg, bool pattern) {
    size_t len = 0;
    char *utf8 = spk_str_to_utf8_n(arg, &len);
    if (!utf8) throw std::bad_alloc();
    std::string text(utf8, len);
    free(utf8);
    if (!pattern || !spk_catalog_metadata_id(stmt)) return text;
    // An identifier: quotes go, and the pattern characters stand for themselves.
    if (text.size() >= 2 && (text.front() == '`' || text.front() == '"') && text.back() == text.front())
        text = text.substr(1, text.size() - 2);
    std::string out;
    out.reserve(text.size() + 8);
    for (char c : text) {
        if (c == '%' || c == '_' || c == '\\') out += '\\';
        out += c;
    }
    return out;
}

// ---------------------------------------------------------------------------
// Opening results

int spk_catalog_begin(SpkStatement *stmt) {
    SpkConnection *conn = conn_of(stmt);
    if (!conn->connected) {
        spk_post_error(stmt, "08003", 0, "not connected");
        return -1;
    }
    if (spk_close_stmt(stmt, 1) != 0) {
        // The previous operation is still open on the server: replacing it
        // would leak it.
        SPK_LOG(stmt, LOG_ERROR, "catalog: failed to close the previous operation");
        if (!stmt->diagnostics) spk_post_error(stmt, "HY000", 0, "failed to close the previous operation");
        return -1;
    }
    stmt->described = 0;
    stmt->row_count = -1;
    stmt->row_count_valid = 0;
    stmt->ird = stmt->implicit_ird;
    spk_stmt_forget_columns(stmt);
    return 0;
}

int spk_catalog_open_server(SpkStatement *stmt, const tcli::TOperationHandle &handle,
                            const SpkShapeColumn *columns, int count, SpkResultShape **shape_out) {
    SpkConnection *conn = conn_of(stmt);
    SpkOperation *op = stmt->operation;
    spk_stmt_attach_operation(stmt, handle);
    auto shape = std::make_shared<SpkResultShape>();
    spk_shape_init(shape.get(), columns, count);
    shape->col_length = conn->col_length;
    shape->odbc2 = spk_env_of(stmt)->odbc_version == SQL_OV_ODBC2;

    tcli::TGetResultSetMetadataResp resp;
    if (spk_tcli_get_result_set_metadata(stmt, op->handle, &resp) != 0) {
        spk_close_stmt(stmt, 0);
        return -1;
    }
    int server_columns = resp.__isset.schema ? (int)resp.schema.columns.size() : 0;
    SPK_LOG(stmt, LOG_DETAIL, "catalog: server result of %d columns, %d read", server_columns,
            shape->server_columns);
    if (server_columns < shape->server_columns) {
        spk_post_error(stmt, "HY000", 0, "the server's catalog result has %d columns, %d expected", server_columns,
                       shape->server_columns);
        spk_close_stmt(stmt, 0);
        return -1;
    }
    op->shape = shape;
    if (describe_columns(stmt, columns, count) != 0) {
        spk_close_stmt(stmt, 0);
        return -1;
    }
    if (shape_out) *shape_out = shape.get();
    return 0;
}

int spk_catalog_open_local(SpkStatement *stmt, const SpkShapeColumn *columns, int count, tcli::TRowSet *rows) {
    SpkOperation *op = stmt->operation;
    spk_operation_release_rows(op);
    if (describe_columns(stmt, columns, count) != 0) return -1;
    spk_batch_from_row_set(*rows, &op->batch);
    size_t n = op->batch.columns.empty() ? 0 : op->batch.columns[0].count;
    spk_stmt_attach_local(stmt);
    op->has_row_set = n > 0;
    op->active_rows = (int32_t)n;
    op->current_row = -1;
    op->end_of_data = true;
    SPK_LOG(stmt, LOG_DETAIL, "catalog: %d rows made by the driver", (int)n);
    return 0;
}

// ---------------------------------------------------------------------------
// Local rows

void spk_rows_init(tcli::TRowSet *rows, const SpkShapeColumn *columns, int count) {
    *rows = tcli::TRowSet();
    rows->__isset.columns = true;
    for (int i = 0; i < count; i++) {
        tcli::TColumn c;
        switch (columns[i].sql_type) {
        case SQL_SMALLINT: c.__isset.i16Val = true; break;
        case SQL_INTEGER: c.__isset.i32Val = true; break;
        default: c.__isset.stringVal = true; break;
        }
        rows->columns.push_back(c);
    }
}

namespace {

// Marks the row about to be added at `row` NULL in `nulls`.
void set_null_bit(std::string *nulls, size_t row) {
    if (nulls->size() <= row / 8) nulls->resize(row / 8 + 1, '\0');
    (*nulls)[row / 8] = (char)((unsigned char)(*nulls)[row / 8] | (1u << (row % 8)));
}

}  // namespace

void spk_rows_add_text(tcli::TRowSet *rows, int column, const char *text) {
    tcli::TStringColumn &c = rows->columns[(size_t)column - 1].stringVal;
    if (!text) set_null_bit(&c.nulls, c.values.size());
    c.values.emplace_back(text ? text : "");
}

void spk_rows_add_text(tcli::TRowSet *rows, int column, const SpkString *text) {
    if (!text) {
        spk_rows_add_text(rows, column, (const char *)nullptr);
        return;
    }
    size_t len = 0;
    char *utf8 = spk_str_to_utf8_n(text, &len);
    if (!utf8) throw std::bad_alloc();
    tcli::TStringColumn &c = rows->columns[(size_t)column - 1].stringVal;
    c.values.emplace_back(utf8, len);
    free(utf8);
}

void spk_rows_add_int(tcli::TRowSet *rows, int column, int64_t value, bool is_null) {
    tcli::TColumn &c = rows->columns[(size_t)column - 1];
    if (c.__isset.i16Val) {
        if (is_null) set_null_bit(&c.i16Val.nulls, c.i16Val.values.size());
        c.i16Val.values.push_back((int16_t)value);
    } else {
        if (is_null) set_null_bit(&c.i32Val.nulls, c.i32Val.values.size());
        c.i32Val.values.push_back((int32_t)value);
    }
}

// ---------------------------------------------------------------------------
// Argument forms

bool spk_catalog_arg_is(const SpkString *arg, const char *text) {
    if (!arg) return false;
    size_t n = strlen(text);
    if ((size_t)spk_str_length(arg) != n) return false;
    const spk_unit *u = spk_str_units(arg);
    for (size_t i = 0; i < n; i++)
        if (u[i] != (spk_unit)(unsigned char)text[i]) return false;
    return true;
}

bool spk_catalog_arg_empty(const SpkString *arg) { return arg && spk_str_length(arg) == 0; }

std::vector<std::string> spk_catalog_table_types(const SpkString *arg) {
    std::vector<std::string> types;
    if (!arg) return types;
    size_t len = 0;
    char *utf8 = spk_str_to_utf8_n(arg, &len);
    if (!utf8) throw std::bad_alloc();
    std::string text(utf8, len);
    free(utf8);
    size_t start = 0;
    while (start <= text.size()) {
        size_t comma = text.find(',', start);
        if (comma == std::string::npos) comma = text.size();
        std::string item = text.substr(start, comma - start);
        auto strip = [](std::string &s, const char *chars) {
            size_t b = s.find_first_not_of(chars);
            size_t e = s.find_last_not_of(chars);
            s = b == std::string::npos ? std::string() : s.substr(b, e - b + 1);
        };
        strip(item, " \t");
        strip(item, "'\"");
        strip(item, " \t");
        for (char &c : item) c = (char)toupper((unsigned char)c);
        if (!item.empty()) types.push_back(item);
        start = comma + 1;
    }
    return types;
}

int spk_catalog_require_identifiers(SpkStatement *stmt, std::initializer_list<const SpkString *> args) {
    if (!spk_catalog_metadata_id(stmt)) return 0;
    for (const SpkString *a : args) {
        if (!a) {
            spk_post_error(stmt, "HY009", 0, "a name is required when SQL_ATTR_METADATA_ID is on");
            return -1;
        }
    }
    return 0;
}

int spk_catalog_empty_result(SpkStatement *stmt, const SpkShapeColumn *columns, int count) {
    tcli::TRowSet rows;
    spk_rows_init(&rows, columns, count);
    return spk_catalog_open_local(stmt, columns, count, &rows);
}

int spk_catalog_server_major(SpkStatement *stmt) {
    std::string version;
    bool has_text = false;
    if (spk_tcli_get_info(conn_of(stmt), SQL_DBMS_VER, &version, &has_text) != 0 || !has_text) return 0;
    SPK_LOG(stmt, LOG_DETAIL, "catalog: server version '%s'", version.c_str());
    return atoi(version.c_str());
}
