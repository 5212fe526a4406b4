// SQLGetTypeInfo: one row for each SQL type the driver reports, answered
// without a server round trip.  Codes, sizes and radixes come from the same
// mapping that describes result columns, so a Spark type has one code
// everywhere.
#include <sql.h>
#include <sqlext.h>

#include <algorithm>
#include <vector>

#include "spk_catalog.h"
#include "spk_describe.h"
#include "spk_err.h"
#include "spk_handle.h"
#include "spk_log.h"

namespace {

struct TypeRow {
    const char *name;          // the Spark type name, as written in DDL
    int32_t type_id;           // the server type it describes as
    const char *create_params;
    const char *prefix, *suffix;
    int case_sensitive;
    int min_scale, max_scale;  // -1: NULL
};

// In the order the server's type ids run; sorted by DATA_TYPE when answered.
const TypeRow kTypeRows[] = {
    {"BOOLEAN", tcli::TTypeId::BOOLEAN_TYPE, nullptr, nullptr, nullptr, 0, -1, -1},
    {"TINYINT", tcli::TTypeId::TINYINT_TYPE, nullptr, nullptr, nullptr, 0, 0, 0},
    {"SMALLINT", tcli::TTypeId::SMALLINT_TYPE, nullptr, nullptr, nullptr, 0, 0, 0},
    {"INT", tcli::TTypeId::INT_TYPE, nullptr, nullptr, nullptr, 0, 0, 0},
    {"BIGINT", tcli::TTypeId::BIGINT_TYPE, nullptr, nullptr, nullptr, 0, 0, 0},
    {"FLOAT", tcli::TTypeId::FLOAT_TYPE, nullptr, nullptr, nullptr, 0, -1, -1},
    {"DOUBLE", tcli::TTypeId::DOUBLE_TYPE, nullptr, nullptr, nullptr, 0, -1, -1},
    {"STRING", tcli::TTypeId::STRING_TYPE, nullptr, "'", "'", 1, -1, -1},
    {"TIMESTAMP", tcli::TTypeId::TIMESTAMP_TYPE, nullptr, "'", "'", 0, 6, 6},
    {"BINARY", tcli::TTypeId::BINARY_TYPE, nullptr, "X'", "'", 0, -1, -1},
    {"DECIMAL", tcli::TTypeId::DECIMAL_TYPE, "precision,scale", nullptr, nullptr, 0, 0, 38},
    {"DATE", tcli::TTypeId::DATE_TYPE, nullptr, "'", "'", 0, -1, -1},
    {"VARCHAR", tcli::TTypeId::VARCHAR_TYPE, "max length", "'", "'", 1, -1, -1},
    {"CHAR", tcli::TTypeId::CHAR_TYPE, "length", "'", "'", 1, -1, -1},
};

constexpr int kMaxDecimalPrecision = 38;

bool valid_sql_type(int t) {
    switch (t) {
    case SQL_ALL_TYPES:
    case SQL_CHAR:
    case SQL_VARCHAR:
    case SQL_LONGVARCHAR:
    case SQL_WCHAR:
    case SQL_WVARCHAR:
    case SQL_WLONGVARCHAR:
    case SQL_DECIMAL:
    case SQL_NUMERIC:
    case SQL_SMALLINT:
    case SQL_INTEGER:
    case SQL_REAL:
    case SQL_FLOAT:
    case SQL_DOUBLE:
    case SQL_BIT:
    case SQL_TINYINT:
    case SQL_BIGINT:
    case SQL_BINARY:
    case SQL_VARBINARY:
    case SQL_LONGVARBINARY:
    case SQL_TYPE_DATE:
    case SQL_TYPE_TIME:
    case SQL_TYPE_TIMESTAMP:
    case SQL_DATE:
    case SQL_TIME:
    case SQL_TIMESTAMP:
    case SQL_GUID: return true;
    default: return t >= SQL_INTERVAL_YEAR && t <= SQL_INTERVAL_MINUTE_TO_SECOND;
    }
}

// The ODBC 3 code for an ODBC 2 date/time code, so that either asks for the
// same row.
int odbc3_code(int t) {
    switch (t) {
    case SQL_DATE: return SQL_TYPE_DATE;
    case SQL_TIME: return SQL_TYPE_TIME;
    case SQL_TIMESTAMP: return SQL_TYPE_TIMESTAMP;
    default: return t;
    }
}

bool numeric_type(int t) {
    switch (t) {
    case SQL_TINYINT:
    case SQL_SMALLINT:
    case SQL_INTEGER:
    case SQL_BIGINT:
    case SQL_NUMERIC:
    case SQL_DECIMAL:
    case SQL_REAL:
    case SQL_FLOAT:
    case SQL_DOUBLE: return true;
    default: return false;
    }
}

}  // namespace

int spk_type_info(SpkStatement *stmt, int data_type) {
    if (!valid_sql_type(data_type)) {
        spk_post_error(stmt, "HY004", 0, "%d", data_type);
        return -1;
    }
    SpkConnection *conn = (SpkConnection *)stmt->parent;
    bool odbc2 = spk_env_of(stmt)->odbc_version == SQL_OV_ODBC2;
    struct Row {
        const TypeRow *row;
        SpkSqlType t;
    };
    std::vector<Row> rows;
    for (const TypeRow &r : kTypeRows) {
        Row row{&r, {}};
        spk_sql_type_of(r.type_id, kMaxDecimalPrecision, 0, conn->col_length, odbc2, &row.t);
        if (data_type == SQL_ALL_TYPES || odbc3_code(row.t.concise) == odbc3_code(data_type)) rows.push_back(row);
    }
    std::stable_sort(rows.begin(), rows.end(), [](const Row &a, const Row &b) { return a.t.concise < b.t.concise; });

    tcli::TRowSet set;
    const SpkShapeColumn *cols = spk_type_info_columns;
    spk_rows_init(&set, cols, SPK_COUNT(spk_type_info_columns));
    for (const Row &row : rows) {
        const TypeRow &r = *row.row;
        const SpkSqlType &t = row.t;
        bool numeric = numeric_type(t.concise);
        spk_rows_add_text(&set, 1, r.name);
        spk_rows_add_int(&set, 2, t.concise);
        spk_rows_add_int(&set, 3, (int64_t)spk_sql_column_size(t.concise, t.precision, t.display));
        spk_rows_add_text(&set, 4, r.prefix);
        spk_rows_add_text(&set, 5, r.suffix);
        spk_rows_add_text(&set, 6, r.create_params);
        spk_rows_add_int(&set, 7, SQL_NULLABLE);
        spk_rows_add_int(&set, 8, r.case_sensitive);
        spk_rows_add_int(&set, 9, t.searchable);
        spk_rows_add_int(&set, 10, 0, !numeric);            // UNSIGNED_ATTRIBUTE
        spk_rows_add_int(&set, 11, 0);                      // FIXED_PREC_SCALE
        spk_rows_add_int(&set, 12, 0, !numeric);            // AUTO_UNIQUE_VALUE
        spk_rows_add_text(&set, 13, r.name);
        spk_rows_add_int(&set, 14, r.min_scale, r.min_scale < 0);
        spk_rows_add_int(&set, 15, r.max_scale, r.max_scale < 0);
        spk_rows_add_int(&set, 16, t.verbose);
        spk_rows_add_int(&set, 17, t.datetime_code, t.verbose != SQL_DATETIME);
        spk_rows_add_int(&set, 18, 10, !numeric);
        spk_rows_add_int(&set, 19, 0, true);                // INTERVAL_PRECISION
    }
    SPK_LOG(stmt, LOG_DETAIL, "type info for %d: %d rows", data_type, (int)rows.size());
    return spk_catalog_open_local(stmt, cols, SPK_COUNT(spk_type_info_columns), &set);
}
