// From the server's result schema to ODBC descriptions.
#include "spk_describe.h"

#include "spk_desc.h"
#include "spk_err.h"
#include "spk_handle.h"
#include "spk_log.h"
#include "spk_operation.h"
#include "spk_sql.h"
#include "spk_stmt.h"
#include "spk_tcli.h"

static SpkConnection *conn_of(SpkStatement *stmt) { return (SpkConnection *)stmt->parent; }

// One row per server type: what the column is described as.
struct SpkTypeDescription {
    int32_t type_id;
    int16_t concise, verbose;
    int32_t display, precision, scale, length, octet, radix;   // -1: the string length L
    const char *type_name;
    int32_t searchable;
    const char *prefix, *suffix;
};

enum { L_ = -1 };

static const SpkTypeDescription spk_type_table[] = {
    {tcli::TTypeId::BOOLEAN_TYPE, SQL_BIT, SQL_BIT, 1, 1, 0, 2, 1, 0, "boolean", 2, nullptr, nullptr},
    {tcli::TTypeId::TINYINT_TYPE, SQL_TINYINT, SQL_TINYINT, 4, 3, 0, 3, 1, 0, "tinyint", 2, nullptr, nullptr},
    {tcli::TTypeId::SMALLINT_TYPE, SQL_SMALLINT, SQL_SMALLINT, 6, 5, 0, 11, 2, 0, "smallint", 2, nullptr, nullptr},
    {tcli::TTypeId::INT_TYPE, SQL_INTEGER, SQL_INTEGER, 11, 10, 0, 11, 4, 0, "int", 2, nullptr, nullptr},
    {tcli::TTypeId::BIGINT_TYPE, SQL_BIGINT, SQL_BIGINT, 20, 19, 0, 19, 8, 0, "bigint", 2, nullptr, nullptr},
    {tcli::TTypeId::FLOAT_TYPE, SQL_REAL, SQL_REAL, 15, 24, 0, 24, 4, 2, "real", 2, nullptr, nullptr},
    {tcli::TTypeId::DOUBLE_TYPE, SQL_DOUBLE, SQL_DOUBLE, 24, 53, 0, 53, 8, 2, "double", 2, nullptr, nullptr},
    {tcli::TTypeId::TIMESTAMP_TYPE, SQL_TYPE_TIMESTAMP, SQL_DATETIME, 26, 6, 6, 26, 16, 0, "datetime", 3, "{ts '",
     "'}"},
    {tcli::TTypeId::BINARY_TYPE, SQL_VARBINARY, SQL_VARBINARY, L_, L_, 0, L_, L_, 0, "binary", 3, "'", "'"},
    {tcli::TTypeId::DATE_TYPE, SQL_TYPE_DATE, SQL_DATETIME, 10, 0, 0, 10, 6, 0, "date", 3, "{d '", "'}"},
    {tcli::TTypeId::CHAR_TYPE, SQL_CHAR, SQL_CHAR, L_, L_, 0, L_, L_, 0, "char", 3, "'", "'"},
};
static const SpkTypeDescription spk_type_varchar = {-1, SQL_VARCHAR, SQL_VARCHAR, L_, L_, 0, L_, L_, 0,
                                                     "varchar", 3, "'", "'"};

static int32_t spk_qualifier(const tcli::TPrimitiveTypeEntry &e, const char *name, int32_t fallback) {
    if (!e.__isset.typeQualifiers) return fallback;
    auto it = e.typeQualifiers.qualifiers.find(name);
    if (it == e.typeQualifiers.qualifiers.end() || !it->second.__isset.i32Value) return fallback;
    return it->second.i32Value;
}

static int spk_set_text(SpkString **field, const char *text) {
    spk_str_free(*field);
    *field = nullptr;
    if (!text) return 0;
    *field = spk_str_from_latin1(text);
    return *field ? 0 : -1;
}

int setup_descriptor_fields(SpkStatement *stmt, SpkDescriptor *ird, int i, const tcli::TColumnDesc &column) {
    SPK_LOG(stmt, LOG_ENTRY, "setup_descriptor_fields: column %d", i);
    const auto &types = column.typeDesc.types;
    if (types.size() != 1) {
        SPK_LOG(stmt, LOG_ERROR, "setup_descriptor_fields: multiple types (%d) for column %d", (int)types.size(), i);
        spk_post_error(stmt, "HY000", 0, "non single type column %d", i);
        return -1;
    }
    const tcli::TTypeEntry &entry = types[0];
    SPK_LOG(stmt, LOG_DETAIL, "setup_descriptor_fields: type %d %d %d %d %d %d", (int)entry.__isset.primitiveEntry,
            (int)entry.__isset.arrayEntry, (int)entry.__isset.mapEntry, (int)entry.__isset.structEntry,
            (int)entry.__isset.unionEntry, (int)entry.__isset.userDefinedTypeEntry);
    if (!entry.__isset.primitiveEntry) {
        SPK_LOG(stmt, LOG_ERROR, "setup_descriptor_fields: non primative type column %d", i);
        spk_post_error(stmt, "HY000", 0, "non primative type column %d", i);
        return -1;
    }
    const tcli::TPrimitiveTypeEntry &prim = entry.primitiveEntry;
    SpkField *f = spk_desc_record(ird, i + 1);
    if (!f) return spk_post_error(stmt, "HY001", 0, nullptr), -1;

    SpkString *name = spk_str_from_utf8(column.columnName.data(), (long)column.columnName.size());
    if (!name) return spk_post_error(stmt, "HY001", 0, nullptr), -1;
    spk_str_free(f->name);
    f->name = name;
    f->unnamed = 1;
    spk_str_free(f->table_name);
    spk_str_free(f->base_column_name);
    f->table_name = f->base_column_name = nullptr;
    f->max_length = 0;
    f->server_type = (int32_t)prim.type;
    f->precision = 0;
    f->scale = 0;
    f->nullable = SQL_NULLABLE;
    f->searchable = 3;
    f->updatable = 0;
    f->is_unsigned = 0;

    int32_t p = spk_qualifier(prim, "precision", 0);
    int32_t s = spk_qualifier(prim, "scale", 0);
    int32_t L = spk_qualifier(prim, "characterMaximumLength", conn_of(stmt)->col_length);
    char tname[16];
    const char *type_log_name = spk_type_id_name((int32_t)prim.type, tname);
    SPK_LOG(stmt, LOG_DETAIL, "setup_descriptor_fields: col %d name '%S' type %s max len %d precision %d scale %d, ",
            i, f->name, type_log_name, L, p, s);

    int32_t type = (int32_t)prim.type;
    SpkOperation *op = stmt->operation;
    if (op && op->handle.operationType == tcli::TOperationType::GET_COLUMNS && (i == 4 || i == 8 || i == 10))
        type = tcli::TTypeId::SMALLINT_TYPE;
    if (type < 0 || type > 22) return 0;

    if (spk_set_text(&f->local_type_name, type_log_name) != 0) return spk_post_error(stmt, "HY001", 0, nullptr), -1;

    SpkSqlType t;
    spk_sql_type_of(type, p, s, L, spk_env_of(stmt)->odbc_version == SQL_OV_ODBC2, &t);
    f->concise_type = t.concise;
    f->type = t.verbose;
    f->display_size = t.display;
    f->precision = t.precision;
    f->scale = t.scale;
    f->length = t.length;
    f->octet_length = t.octet;
    f->radix = t.radix;
    f->searchable = t.searchable;
    f->datetime_subcode = t.datetime_code;
    f->datetime_precision = t.datetime_precision;
    if (spk_set_text(&f->type_name, t.type_name) || spk_set_text(&f->literal_prefix, t.prefix) ||
        spk_set_text(&f->literal_suffix, t.suffix))
        return spk_post_error(stmt, "HY001", 0, nullptr), -1;
    return 0;
}

bool spk_sql_type_of(int32_t type_id, int32_t p, int32_t s, int32_t L, bool odbc2, SpkSqlType *out) {
    *out = SpkSqlType{};
    if (type_id < 0 || type_id > 22) return false;
    if (type_id == tcli::TTypeId::DECIMAL_TYPE) {
        int32_t d = s < 1 ? p + 1 : p + 2;
        out->concise = out->verbose = SQL_NUMERIC;
        out->display = out->length = out->octet = d;
        out->precision = p;
        out->scale = s;
        out->radix = 10;
        out->searchable = 2;
        out->type_name = "decimal";
        return true;
    }
    const SpkTypeDescription *t = &spk_type_varchar;
    for (const SpkTypeDescription &row : spk_type_table)
        if (row.type_id == type_id) t = &row;
    auto pick = [L](int32_t v) -> int32_t { return v == L_ ? L : v; };
    out->concise = t->concise;
    if (odbc2 && t->concise == SQL_TYPE_TIMESTAMP) out->concise = SQL_TIMESTAMP;
    if (odbc2 && t->concise == SQL_TYPE_DATE) out->concise = SQL_DATE;
    out->verbose = t->verbose;
    out->display = pick(t->display);
    out->precision = pick(t->precision);
    out->scale = t->scale;
    out->length = pick(t->length);
    out->octet = pick(t->octet);
    out->radix = t->radix;
    out->searchable = t->searchable;
    if (type_id == tcli::TTypeId::TIMESTAMP_TYPE) {
        out->datetime_code = SQL_CODE_TIMESTAMP;
        out->datetime_precision = 6;
    } else if (type_id == tcli::TTypeId::DATE_TYPE) {
        out->datetime_code = SQL_CODE_DATE;
    }
    out->type_name = t->type_name;
    out->prefix = t->prefix;
    out->suffix = t->suffix;
    return true;
}

// The description given to a parameter when no better one can be had.
static int spk_default_param_description(SpkField *f) {
    f->concise_type = SQL_VARCHAR;
    f->type = SQL_VARCHAR;
    f->display_size = f->precision = f->length = f->octet_length = 8192;
    f->scale = 0;
    f->nullable = SQL_NO_NULLS;
    f->searchable = 3;
    f->updatable = 2;
    f->case_sensitive = 1;
    f->is_unsigned = 0;
    f->auto_unique_value = 0;
    f->fixed_prec_scale = 0;
    f->radix = 0;
    spk_str_free(f->name);
    f->name = nullptr;
    f->unnamed = 1;
    return spk_set_text(&f->literal_prefix, "'") | spk_set_text(&f->literal_suffix, "'") |
           spk_set_text(&f->type_name, "VARCHAR") | spk_set_text(&f->local_type_name, "VARCHAR");
}

int spk_describe_parameters(SpkStatement *stmt) {
    SPK_LOG(stmt, LOG_DETAIL, "describing %d parameters, param_described = %d, re_prepare = %d",
            (int)stmt->param_count, (int)stmt->param_described, (int)stmt->re_prepare);
    int n = stmt->param_count;
    if (n == 0) {
        stmt->param_described = 1;
        return 0;
    }
    if (stmt->param_described && !stmt->re_prepare) return 0;
    SpkDescriptor *ipd = stmt->ipd;
    if (ipd->count < n && spk_desc_grow(ipd, n) != 0) {
        SPK_LOG(stmt, LOG_ERROR, "failed to allocate new descriptors in describe_param fails");
        spk_post_error(stmt, "HY001", 0, nullptr);
        return -1;
    }
    SpkString *query = spk_describe_param_sql(stmt, stmt->processed_sql);
    int described = 0;   // parameters described from the derived query
    if (query) {
        SPK_LOG(stmt, LOG_DETAIL, "describing %d parameters, extracted string '%S'", n, query);
        SpkStatement *tmp = nullptr;
        try {
            tmp = spk_stmt_new(conn_of(stmt));
        } catch (...) {
            tmp = nullptr;
        }
        if (!tmp) {
            spk_str_free(query);
            SPK_LOG(stmt, LOG_ERROR, "validate_delete: failed to create statement");
            spk_post_error(stmt, "HY000", 0, nullptr);
            return -1;
        }
        int rc = spk_stmt_set_text(tmp, query);
        if (rc != 0) SPK_LOG(stmt, LOG_ERROR, "spk_describe_parameters: failed to process query");
        if (rc == 0) rc = describe_stmt(tmp);
        if (rc != 0) {
            for (const SpkError *e = tmp->diagnostics; e; e = e->next) spk_copy_error(stmt, e);
            spk_close_stmt(tmp, 1);
            spk_stmt_free(tmp, true);
            spk_str_free(query);
            return -1;
        }
        SpkDescriptor *tird = tmp->implicit_ird;
        int cols = spk_desc_column_count(tird);
        for (int i = 1; i <= n && i <= cols; i++) {
            if (spk_field_copy(spk_desc_record(tird, i), spk_desc_record(ipd, i)) != 0) {
                spk_close_stmt(tmp, 1);
                spk_stmt_free(tmp, true);
                spk_str_free(query);
                spk_post_error(stmt, "HY001", 0, nullptr);
                return -1;
            }
            described = i;
        }
        spk_close_stmt(tmp, 1);
        spk_stmt_free(tmp, true);
        spk_str_free(query);
    } else {
        SPK_LOG(stmt, LOG_DETAIL, "describing %d parameters: map to default", n);
    }
    // Parameters the derived query did not describe get the default.
    for (int i = described + 1; i <= n; i++) {
        if (spk_default_param_description(spk_desc_record(ipd, i)) != 0) {
            spk_post_error(stmt, "HY001", 0, nullptr);
            return -1;
        }
    }
    stmt->re_prepare = 0;
    stmt->param_described = 1;
    return 0;
}

// ---------------------------------------------------------------------------
// Shared bodies of the exports

static SpkField spk_bookmark_on, spk_bookmark_var;

static const SpkField *spk_bookmark_record(SpkStatement *stmt) {
    static bool ready = [] {
        spk_field_init(&spk_bookmark_on);
        spk_field_init(&spk_bookmark_var);
        spk_bookmark_on.concise_type = spk_bookmark_on.type = SQL_INTEGER;
        spk_bookmark_on.display_size = 10;
        spk_bookmark_on.length = 11;
        spk_bookmark_on.octet_length = 4;
        spk_bookmark_on.is_unsigned = 1;
        spk_bookmark_var.concise_type = spk_bookmark_var.type = SQL_VARBINARY;
        spk_bookmark_var.display_size = 8;
        spk_bookmark_var.length = 8;
        spk_bookmark_var.octet_length = 4;
        return true;
    }();
    (void)ready;
    return stmt->attrs.use_bookmarks == SQL_UB_ON ? &spk_bookmark_on : &spk_bookmark_var;
}

// Describes the statement when needed before a column is read.
static int spk_ensure_described(SpkStatement *stmt, const char *fn) {
    if (stmt->described) return 0;
    if (!stmt->processed_sql) {
        SPK_LOG(stmt, LOG_ERROR, "%s: no prepared sql", fn);
        spk_post_error(stmt, "HY000", 0, "no prepared sql");
        return -1;
    }
    if (!spk_stmt_has_run(stmt) && describe_stmt(stmt) != 0) {
        SPK_LOG(stmt, LOG_ERROR, "%s: failed describing statement", fn);
        return -1;
    }
    return 0;
}

SQLRETURN spk_num_result_cols(SpkStatement *stmt, SQLSMALLINT *count) {
    SPK_ENTRY(stmt, "SQLNumResultCols: statement_handle=%p, column_count=%p, described=%d, executed=%d", stmt, count,
              (int)stmt->described, (int)spk_stmt_has_run(stmt));
    if (!count) return spk_post_error(stmt, "HY009", 0, nullptr);
    if (!stmt->described && !spk_stmt_has_run(stmt) && stmt->processed_sql && describe_stmt(stmt) != 0) {
        SPK_LOG(stmt, LOG_ERROR, "SQLNumResultCols: failed describing statement");
        return SQL_ERROR;
    }
    int n = stmt->processed_sql || stmt->described ? spk_desc_column_count(stmt->ird) : 0;
    SPK_LOG(stmt, LOG_DETAIL, "SQLNumResultCols: column count=%d", n);
    *count = (SQLSMALLINT)n;
    return SQL_SUCCESS;
}

static const SpkField *spk_column_record(SpkStatement *stmt, int column) {
    if (column == 0) return stmt->attrs.use_bookmarks ? spk_bookmark_record(stmt) : nullptr;
    if (column < 0 || column > spk_desc_column_count(stmt->ird)) return nullptr;
    return spk_desc_record(stmt->ird, column);
}

SQLULEN spk_sql_column_size(int concise_type, int64_t precision, int64_t display_size) {
    switch (concise_type) {
    case SQL_NUMERIC:
    case SQL_DECIMAL:
    case SQL_BINARY:
    case SQL_VARBINARY:
    case SQL_LONGVARBINARY:
    case SQL_BIGINT: return (SQLULEN)precision;
    case SQL_INTEGER: return 10;
    case SQL_SMALLINT: return 5;
    case SQL_FLOAT:
    case SQL_DOUBLE: return 15;
    case SQL_REAL: return 7;
    case SQL_BIT: return 1;
    case SQL_TINYINT: return 3;
    default: return (SQLULEN)display_size;
    }
}

static SQLULEN spk_column_size(const SpkField *f) {
    return spk_sql_column_size(f->concise_type, f->precision, f->display_size);
}

static SQLRETURN spk_copy_name(SpkStatement *stmt, const SpkString *s, void *buffer, long buffer_length,
                               long *length, int wide, int wide_bytes) {
    static SpkString empty = {nullptr, 0, 0};
    const SpkString *text = s ? s : &empty;
    if (wide) {
        return wide_bytes ? spk_copy_wide_bytes(stmt, text, buffer, buffer_length, length)
                          : spk_copy_wide_chars(stmt, text, buffer, buffer_length, length);
    }
    return spk_copy_ansi(stmt, text, buffer, buffer_length, length);
}

SQLRETURN spk_describe_col(SpkStatement *stmt, SQLUSMALLINT column, void *name, SQLSMALLINT buffer_length,
                           SQLSMALLINT *name_length, SQLSMALLINT *data_type, SQLULEN *column_size,
                           SQLSMALLINT *decimal_digits, SQLSMALLINT *nullable, int wide, const char *fn) {
    SPK_ENTRY(stmt,
              "%s: statement_handle=%p, column_number=%d, column_name=%p, buffer_length=%d, name_length=%p, "
              "data_type=%p, column_size=%p, decimal_digits=%p, nullable=%p",
              fn, stmt, (int)column, name, (int)buffer_length, name_length, data_type, column_size, decimal_digits,
              nullable);
    if (buffer_length < 0) return spk_post_error(stmt, "HY090", 0, nullptr);
    if (spk_ensure_described(stmt, fn) != 0) return SQL_ERROR;
    SPK_LOG(stmt, LOG_DETAIL, "%s: column count=%d", fn, spk_desc_column_count(stmt->ird));
    const SpkField *f = spk_column_record(stmt, column);
    if (!f) {
        SPK_LOG(stmt, LOG_DETAIL, "%s: invalid column_number %d from %d", fn, (int)column,
                spk_desc_column_count(stmt->ird));
        return spk_post_error(stmt, "07009", 0, nullptr);
    }
    long len = 0;
    SQLRETURN rc = spk_copy_name(stmt, f->name, name, buffer_length, &len, wide, 0);
    if (rc == SQL_ERROR) return rc;
    if (name_length) *name_length = (SQLSMALLINT)(len > 32767 ? 32767 : len);
    if (data_type) *data_type = (SQLSMALLINT)f->concise_type;
    if (column_size) *column_size = spk_column_size(f);
    if (decimal_digits) *decimal_digits = (SQLSMALLINT)f->scale;
    if (nullable) *nullable = (SQLSMALLINT)f->nullable;
    return rc;
}

SQLRETURN spk_col_attribute(SpkStatement *stmt, SQLUSMALLINT column, SQLUSMALLINT field, void *character_attribute,
                            SQLSMALLINT buffer_length, SQLSMALLINT *string_length, SQLLEN *numeric_attribute,
                            int wide, int odbc2, const char *fn) {
    SPK_ENTRY(stmt,
              "%s: statement_handle=%p, column_number=%d, field_identifier=%d, character_attribute=%p, "
              "buffer_length=%d, string_length=%p, numeric_attribute=%p",
              fn, stmt, (int)column, (int)field, character_attribute, (int)buffer_length, string_length,
              numeric_attribute);
    if (spk_ensure_described(stmt, fn) != 0) return SQL_ERROR;
    int ncols = spk_desc_column_count(stmt->ird);
    enum { NUM_LEN, NUM_INT, TEXT } kind = NUM_INT;
    SQLLEN number = 0;
    const SpkString *text = nullptr;

    const SpkField *f = nullptr;
    if (field != SQL_COLUMN_COUNT && field != SQL_DESC_COUNT) {
        f = spk_column_record(stmt, column);
        if (!f) {
            SPK_LOG(stmt, LOG_ERROR, "Invalid descriptor index %d for type %d", (int)column, (int)field);
            return spk_post_error(stmt, "07009", 0, nullptr);
        }
    }
    bool ansi_odbc2 = odbc2 && !wide;
    switch (field) {
    case SQL_COLUMN_COUNT:
    case SQL_DESC_COUNT: kind = NUM_LEN; number = ncols; break;
    case SQL_COLUMN_NAME:
    case SQL_COLUMN_LABEL:
    case SQL_DESC_BASE_COLUMN_NAME:
    case SQL_DESC_NAME: kind = TEXT; text = f->name; break;
    case SQL_COLUMN_TYPE:
        number = f->concise_type;
        if (odbc2) {
            number = f->type;
            if (number == SQL_DATETIME && conn_of(stmt)->odbc_version == SQL_OV_ODBC2)
                number = f->datetime_subcode == 2 ? 10 : f->datetime_subcode == 3 ? 11 : 9;
        }
        break;
    case SQL_COLUMN_LENGTH:
    case SQL_DESC_LENGTH: kind = NUM_LEN; number = (SQLLEN)f->length; break;
    case SQL_COLUMN_PRECISION:
    case SQL_DESC_PRECISION:
        number = (SQLLEN)f->precision;
        if (ansi_odbc2 && (f->concise_type == SQL_FLOAT || f->concise_type == SQL_REAL || f->concise_type == SQL_DOUBLE))
            number = (SQLLEN)f->display_size;
        break;
    case SQL_COLUMN_SCALE:
    case SQL_DESC_SCALE: number = f->scale; break;
    case SQL_COLUMN_DISPLAY_SIZE: kind = NUM_LEN; number = (SQLLEN)f->display_size; break;
    case SQL_COLUMN_NULLABLE:
    case SQL_DESC_NULLABLE: number = f->nullable; break;
    case SQL_COLUMN_UNSIGNED: number = f->is_unsigned; break;
    case SQL_COLUMN_MONEY: number = odbc2 ? 0 : f->fixed_prec_scale; break;
    case SQL_COLUMN_UPDATABLE: number = f->updatable; break;
    case SQL_COLUMN_AUTO_INCREMENT: number = f->auto_unique_value; break;
    case SQL_COLUMN_CASE_SENSITIVE: number = f->case_sensitive; break;
    case SQL_COLUMN_SEARCHABLE: number = f->searchable; break;
    case SQL_COLUMN_TYPE_NAME: kind = TEXT; text = f->type_name; break;
    case SQL_COLUMN_TABLE_NAME:
    case SQL_DESC_BASE_TABLE_NAME: kind = TEXT; text = f->table_name; break;
    case SQL_COLUMN_OWNER_NAME:
    case SQL_COLUMN_QUALIFIER_NAME: kind = TEXT; text = nullptr; break;
    case SQL_DESC_LITERAL_PREFIX: kind = TEXT; text = f->literal_prefix; break;
    case SQL_DESC_LITERAL_SUFFIX: kind = TEXT; text = f->literal_suffix; break;
    case SQL_DESC_LOCAL_TYPE_NAME: kind = TEXT; text = f->local_type_name; break;
    case SQL_DESC_NUM_PREC_RADIX: number = f->radix; break;
    case SQL_DESC_TYPE: number = f->type; break;
    case SQL_DESC_UNNAMED: number = f->name && spk_str_length(f->name) > 0 ? SQL_NAMED : SQL_UNNAMED; break;
    case SQL_DESC_OCTET_LENGTH: kind = NUM_LEN; number = (SQLLEN)f->octet_length; break;
    default:
        SPK_LOG(stmt, LOG_ERROR, "Invalid descriptor field index %d for type %d", (int)column, (int)field);
        return spk_post_error(stmt, "HY091", 0, nullptr);
    }
    if (kind == TEXT) {
        SPK_LOG(stmt, LOG_ENTRY, "%s: returns string value '%S'", fn, text);
        if (buffer_length < 0 && character_attribute) return spk_post_error(stmt, "HY090", 0, nullptr);
        long len = 0;
        SQLRETURN rc = spk_copy_name(stmt, text, character_attribute, buffer_length, &len, wide, 1);
        if (rc == SQL_ERROR) return rc;
        if (string_length) *string_length = (SQLSMALLINT)(len > 32767 ? 32767 : len);
        return rc;
    }
    if (kind == NUM_LEN)
        SPK_LOG(stmt, LOG_ENTRY, "%s: returns ulen value '%d'", fn, (int)number);
    else
        SPK_LOG(stmt, LOG_ENTRY, "%s: returns integer value '%d'", fn, (int)number);
    if (numeric_attribute) *numeric_attribute = number;
    if (string_length) *string_length = (wide || kind == NUM_LEN) ? 8 : 4;
    return SQL_SUCCESS;
}

SQLRETURN spk_describe_param(SpkStatement *stmt, SQLUSMALLINT number, SQLSMALLINT *data_type, SQLULEN *size,
                             SQLSMALLINT *decimal_digits, SQLSMALLINT *nullable) {
    SPK_ENTRY(stmt, "SQLDescribeParam: statement_handle=%p, ipar=%d, pf_sql_type=%p, pcb_param_def=%p, "
                    "pib_scale=%p, pf_nullable=%p",
              stmt, (int)number, data_type, size, decimal_digits, nullable);
    if (number == 0 || number > stmt->param_count) {
        SPK_LOG(stmt, LOG_DETAIL, "SQLDescribeParam: ipar=%d, found_param_count=%d", (int)number,
                (int)stmt->param_count);
        return spk_post_error(stmt, "07009", 0, nullptr);
    }
    if (!stmt->param_described || stmt->re_prepare) {
        if (spk_describe_parameters(stmt) != 0)
            return spk_post_error(stmt, "HY000", 0, "Unable to describe parameters for this statement");
        stmt->param_described = 1;
    }
    SPK_LOG(stmt, LOG_DETAIL, "SQLDescribeParam: ipar=%d, descriptor_count=%d", (int)number, (int)stmt->ipd->count);
    const SpkField *f = nullptr;
    if (stmt->ipd->count >= number) {
        f = spk_desc_record(stmt->ipd, number);
    } else if (stmt->apd->count >= number) {
        const SpkField *a = spk_desc_record(stmt->apd, number);
        if (a->data_ptr || a->indicator_ptr) f = a;
    }
    if (!f) return spk_post_error(stmt, "07009", 0, nullptr);
    if (data_type) *data_type = (SQLSMALLINT)f->concise_type;
    if (size) {
        switch (f->concise_type) {
        case SQL_NUMERIC:
        case SQL_DECIMAL:
        case SQL_BINARY:
        case SQL_VARBINARY:
        case SQL_LONGVARBINARY: *size = (SQLULEN)f->precision; break;
        default: *size = (SQLULEN)f->display_size;
        }
    }
    if (decimal_digits) *decimal_digits = (SQLSMALLINT)f->scale;
    if (nullable) *nullable = (SQLSMALLINT)f->nullable;
    return SQL_SUCCESS;
}
