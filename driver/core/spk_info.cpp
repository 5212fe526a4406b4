// Driver information.  Every answer of SQLGetInfo(W) lives in INFO_TABLE;
// three texts are asked from the server.  SQLGetFunctions reports the
// functions this library exports: the build writes the export list into
// spk_export_list.inc, and the bitmap below is computed from it at compile
// time, so the Driver Manager is never told about a function that is missing
// or kept from one that exists.
#include "core/spk_info.h"

#include <climits>
#include <cstring>

#include "connect/spk_logon.h"
#include "core/spk_err.h"
#include "core/spk_log.h"

namespace {

// One answer per info type: the ANSI and wide exports say the same thing.
constexpr SpkInfoEntry U16(uint16_t type, uint32_t value) { return {type, SPK_INFO_U16, value, nullptr}; }
constexpr SpkInfoEntry U32(uint16_t type, uint32_t value) { return {type, SPK_INFO_U32, value, nullptr}; }
constexpr SpkInfoEntry TEXT(uint16_t type, const char *text) { return {type, SPK_INFO_TEXT, 0, text}; }
constexpr SpkInfoEntry FROM(uint16_t type, SpkInfoKind kind) { return {type, kind, 0, nullptr}; }

// What the scanner translates (spk_escape.cpp; a unit test holds the two
// together) and what Spark SQL does natively.
constexpr uint32_t STRING_FUNCTIONS =
    SQL_FN_STR_CONCAT | SQL_FN_STR_LEFT | SQL_FN_STR_LTRIM | SQL_FN_STR_LENGTH | SQL_FN_STR_LOCATE |
    SQL_FN_STR_LCASE | SQL_FN_STR_REPEAT | SQL_FN_STR_REPLACE | SQL_FN_STR_RIGHT | SQL_FN_STR_RTRIM |
    SQL_FN_STR_SUBSTRING | SQL_FN_STR_UCASE | SQL_FN_STR_ASCII | SQL_FN_STR_CHAR | SQL_FN_STR_LOCATE_2 |
    SQL_FN_STR_SOUNDEX | SQL_FN_STR_SPACE | SQL_FN_STR_BIT_LENGTH | SQL_FN_STR_CHAR_LENGTH |
    SQL_FN_STR_CHARACTER_LENGTH | SQL_FN_STR_OCTET_LENGTH | SQL_FN_STR_POSITION;
// Every numeric function but TRUNCATE.
constexpr uint32_t NUMERIC_FUNCTIONS = 0xFFFFFF & ~(uint32_t)SQL_FN_NUM_TRUNCATE;
// Spark has no TIME type: no CURTIME, no CURRENT_TIME.
constexpr uint32_t TIMEDATE_FUNCTIONS = 0x1FFFFF & ~(uint32_t)(SQL_FN_TD_CURTIME | SQL_FN_TD_CURRENT_TIME);
constexpr uint32_t SYSTEM_FUNCTIONS = SQL_FN_SYS_USERNAME | SQL_FN_SYS_DBNAME | SQL_FN_SYS_IFNULL;
constexpr uint32_t INTERVALS = SQL_FN_TSI_SECOND | SQL_FN_TSI_MINUTE | SQL_FN_TSI_HOUR | SQL_FN_TSI_DAY |
                               SQL_FN_TSI_WEEK | SQL_FN_TSI_MONTH | SQL_FN_TSI_QUARTER | SQL_FN_TSI_YEAR;

// CONVERT targets by source type, as Spark's CAST allows them.
constexpr uint32_t CVT_TEXT = SQL_CVT_CHAR | SQL_CVT_VARCHAR | SQL_CVT_LONGVARCHAR | SQL_CVT_WCHAR |
                              SQL_CVT_WVARCHAR | SQL_CVT_WLONGVARCHAR;
constexpr uint32_t CVT_NUMBER = SQL_CVT_NUMERIC | SQL_CVT_DECIMAL | SQL_CVT_INTEGER | SQL_CVT_SMALLINT |
                                SQL_CVT_FLOAT | SQL_CVT_REAL | SQL_CVT_DOUBLE | SQL_CVT_TINYINT | SQL_CVT_BIGINT |
                                SQL_CVT_BIT;
constexpr uint32_t CVT_BINARY = SQL_CVT_BINARY | SQL_CVT_VARBINARY | SQL_CVT_LONGVARBINARY;
constexpr uint32_t CVT_FROM_NUMBER = CVT_TEXT | CVT_NUMBER;
constexpr uint32_t CVT_FROM_TEXT = CVT_TEXT | CVT_NUMBER | CVT_BINARY | SQL_CVT_DATE | SQL_CVT_TIMESTAMP;
constexpr uint32_t CVT_FROM_DATETIME = CVT_TEXT | SQL_CVT_DATE | SQL_CVT_TIMESTAMP;
constexpr uint32_t CVT_FROM_BINARY = CVT_TEXT | CVT_BINARY;

const char KEYWORDS[] =
    "BREAK,BROWSE,BULK,CHECKPOINT,CLUSTERED,COMMITTED,COMPUTE,CONFIRM,CONTROLROW,DATABASE,DBCC,DISK,DISTRIBUTED,"
    "DUMMY,DUMP,ERRLVL,ERROREXIT,EXIT,FILE,FILLFACTOR,FLOPPY,HOLDLOCK,IDENTITY_INSERT,IDENTITYCOL,IF,KILL,LINENO,"
    "LOAD,MIRROREXIT,NONCLUSTERED,OFF,OFFSETS,ONCE,OVER,PERCENT,PERM,PERMANENT,PLAN,PRINT,PROC,PROCESSEXIT,"
    "RAISERROR,READ,READTEXT,RECONFIGURE,REPEATABLE,RETURN,ROWCOUNT,RULE,SAVE,SERIALIZABLE,SETUSER,SHUTDOWN,"
    "STATISTICS,TAPE,TEMP,TEXTSIZE,TOP,TRAN,TRIGGER,TRUNCATE,TSEQUEL,UNCOMMITTED,UPDATETEXT,USE,WAITFOR,WHILE,"
    "WRITETEXT";

// In ascending info-type order (checked below); one row per info type.
constexpr uint32_t OJ_CAPABILITIES = SQL_OJ_LEFT | SQL_OJ_RIGHT | SQL_OJ_FULL | SQL_OJ_NESTED | SQL_OJ_NOT_ORDERED |
                                     SQL_OJ_INNER | SQL_OJ_ALL_COMPARISON_OPS;

constexpr SpkInfoEntry INFO_TABLE[] = {
    U16(SQL_MAX_DRIVER_CONNECTIONS, 0),
    U16(SQL_MAX_CONCURRENT_ACTIVITIES, 0),
    FROM(SQL_DATA_SOURCE_NAME, SPK_INFO_DSN),
    TEXT(SQL_DRIVER_NAME, "libtarndrv.so"),
    TEXT(SQL_DRIVER_VER, "01.00.0000"),
    U32(SQL_FETCH_DIRECTION, SQL_FD_FETCH_NEXT),
    U16(SQL_ODBC_API_CONFORMANCE, SQL_OAC_NONE),
    TEXT(SQL_ODBC_VER, "03.51.0000"),
    TEXT(SQL_ROW_UPDATES, "N"),
    U16(SQL_ODBC_SAG_CLI_CONFORMANCE, 0),
    FROM(SQL_SERVER_NAME, SPK_INFO_SERVER),
    TEXT(SQL_SEARCH_PATTERN_ESCAPE, "\\"),
    U16(SQL_ODBC_SQL_CONFORMANCE, 1),
    FROM(SQL_DATABASE_NAME, SPK_INFO_DATABASE),
    FROM(SQL_DBMS_NAME, SPK_INFO_SERVER),
    FROM(SQL_DBMS_VER, SPK_INFO_SERVER),
    TEXT(SQL_ACCESSIBLE_TABLES, "Y"),
    TEXT(SQL_ACCESSIBLE_PROCEDURES, "N"),
    TEXT(SQL_PROCEDURES, "N"),
    U16(SQL_CONCAT_NULL_BEHAVIOR, 0),
    U16(SQL_CURSOR_COMMIT_BEHAVIOR, 2),
    U16(SQL_CURSOR_ROLLBACK_BEHAVIOR, 2),
    TEXT(SQL_DATA_SOURCE_READ_ONLY, "N"),
    U32(SQL_DEFAULT_TXN_ISOLATION, 0),   // no transactions: no isolation either
    TEXT(SQL_EXPRESSIONS_IN_ORDERBY, "Y"),
    U16(SQL_IDENTIFIER_CASE, 4),
    TEXT(SQL_IDENTIFIER_QUOTE_CHAR, "`"),
    U16(SQL_MAX_COLUMN_NAME_LEN, 128),
    U16(SQL_MAX_CURSOR_NAME_LEN, 128),
    U16(SQL_MAX_SCHEMA_NAME_LEN, 0),
    U16(SQL_MAX_PROCEDURE_NAME_LEN, 0),
    U16(SQL_MAX_CATALOG_NAME_LEN, 0),
    U16(SQL_MAX_TABLE_NAME_LEN, 128),
    TEXT(SQL_MULT_RESULT_SETS, "N"),
    TEXT(SQL_MULTIPLE_ACTIVE_TXN, "N"),
    TEXT(SQL_OUTER_JOINS, "Y"),
    TEXT(SQL_SCHEMA_TERM, "database"),
    TEXT(SQL_PROCEDURE_TERM, "stored procedure"),
    TEXT(SQL_CATALOG_NAME_SEPARATOR, ""),
    TEXT(SQL_CATALOG_TERM, ""),
    U32(SQL_SCROLL_CONCURRENCY, 0),
    U32(SQL_SCROLL_OPTIONS, 1),
    TEXT(SQL_TABLE_TERM, "table"),
    U16(SQL_TXN_CAPABLE, SQL_TC_NONE),   // Spark has no transactions
    FROM(SQL_USER_NAME, SPK_INFO_UID),
    U32(SQL_CONVERT_FUNCTIONS, SQL_FN_CVT_CONVERT | SQL_FN_CVT_CAST),
    U32(SQL_NUMERIC_FUNCTIONS, NUMERIC_FUNCTIONS),
    U32(SQL_STRING_FUNCTIONS, STRING_FUNCTIONS),
    U32(SQL_SYSTEM_FUNCTIONS, SYSTEM_FUNCTIONS),
    U32(SQL_TIMEDATE_FUNCTIONS, TIMEDATE_FUNCTIONS),
    U32(SQL_CONVERT_BIGINT, CVT_FROM_NUMBER),
    U32(SQL_CONVERT_BINARY, CVT_FROM_BINARY),
    U32(SQL_CONVERT_BIT, CVT_FROM_NUMBER),
    U32(SQL_CONVERT_CHAR, CVT_FROM_TEXT),
    U32(SQL_CONVERT_DATE, CVT_FROM_DATETIME),
    U32(SQL_CONVERT_DECIMAL, CVT_FROM_NUMBER),
    U32(SQL_CONVERT_DOUBLE, CVT_FROM_NUMBER),
    U32(SQL_CONVERT_FLOAT, CVT_FROM_NUMBER),
    U32(SQL_CONVERT_INTEGER, CVT_FROM_NUMBER),
    U32(SQL_CONVERT_LONGVARCHAR, CVT_FROM_TEXT),
    U32(SQL_CONVERT_NUMERIC, CVT_FROM_NUMBER),
    U32(SQL_CONVERT_REAL, CVT_FROM_NUMBER),
    U32(SQL_CONVERT_SMALLINT, CVT_FROM_NUMBER),
    U32(SQL_CONVERT_TIME, 0),
    U32(SQL_CONVERT_TIMESTAMP, CVT_FROM_DATETIME),
    U32(SQL_CONVERT_TINYINT, CVT_FROM_NUMBER),
    U32(SQL_CONVERT_VARBINARY, CVT_FROM_BINARY),
    U32(SQL_CONVERT_VARCHAR, CVT_FROM_TEXT),
    U32(SQL_CONVERT_LONGVARBINARY, CVT_FROM_BINARY),
    U32(SQL_TXN_ISOLATION_OPTION, 0),
    TEXT(SQL_INTEGRITY, "N"),
    U16(SQL_CORRELATION_NAME, SQL_CN_ANY),
    U16(SQL_NON_NULLABLE_COLUMNS, 1),
    TEXT(SQL_DRIVER_ODBC_VER, "03.51"),
    U32(SQL_LOCK_TYPES, 0),
    U32(SQL_POS_OPERATIONS, 0),
    U32(SQL_POSITIONED_STATEMENTS, 0),
    U32(SQL_GETDATA_EXTENSIONS, 1),
    U32(SQL_BOOKMARK_PERSISTENCE, 0),
    U32(SQL_STATIC_SENSITIVITY, 0),
    U16(SQL_FILE_USAGE, 0),
    U16(SQL_NULL_COLLATION, 1),
    U32(SQL_ALTER_TABLE, 0),
    TEXT(SQL_COLUMN_ALIAS, "Y"),
    U16(SQL_GROUP_BY, SQL_GB_GROUP_BY_CONTAINS_SELECT),
    TEXT(SQL_KEYWORDS, KEYWORDS),
    TEXT(SQL_ORDER_BY_COLUMNS_IN_SELECT, "N"),
    U32(SQL_SCHEMA_USAGE, SQL_SU_DML_STATEMENTS | SQL_SU_TABLE_DEFINITION),
    U32(SQL_CATALOG_USAGE, 0),
    U16(SQL_QUOTED_IDENTIFIER_CASE, 4),
    // Unquoted Spark identifiers are ASCII letters, digits and '_' only.
    TEXT(SQL_SPECIAL_CHARACTERS, ""),
    U32(SQL_SUBQUERIES, SQL_SQ_COMPARISON | SQL_SQ_EXISTS | SQL_SQ_IN | SQL_SQ_CORRELATED_SUBQUERIES),
    U32(SQL_UNION, SQL_U_UNION | SQL_U_UNION_ALL),
    U16(SQL_MAX_COLUMNS_IN_GROUP_BY, 0),
    U16(SQL_MAX_COLUMNS_IN_INDEX, 0),
    U16(SQL_MAX_COLUMNS_IN_ORDER_BY, 0),
    U16(SQL_MAX_COLUMNS_IN_SELECT, 0),
    U16(SQL_MAX_COLUMNS_IN_TABLE, 0),
    U32(SQL_MAX_INDEX_SIZE, 0),
    TEXT(SQL_MAX_ROW_SIZE_INCLUDES_LONG, "N"),
    U32(SQL_MAX_ROW_SIZE, 0),
    U32(SQL_MAX_STATEMENT_LEN, 0),
    U16(SQL_MAX_TABLES_IN_SELECT, 0),
    U16(SQL_MAX_USER_NAME_LEN, 128),
    U32(SQL_MAX_CHAR_LITERAL_LEN, 0x80000),
    U32(SQL_TIMEDATE_ADD_INTERVALS, INTERVALS),
    U32(SQL_TIMEDATE_DIFF_INTERVALS, INTERVALS),
    TEXT(SQL_NEED_LONG_DATA_LEN, "N"),
    U32(SQL_MAX_BINARY_LITERAL_LEN, 0x80000),
    TEXT(SQL_LIKE_ESCAPE_CLAUSE, "Y"),
    U16(SQL_CATALOG_LOCATION, 0),
    U32(SQL_OJ_CAPABILITIES, OJ_CAPABILITIES),
    U16(SQL_ACTIVE_ENVIRONMENTS, 0),
    U32(SQL_ALTER_DOMAIN, 0),
    U32(SQL_SQL_CONFORMANCE, 1),
    U32(SQL_DATETIME_LITERALS, SQL_DL_SQL92_DATE | SQL_DL_SQL92_TIMESTAMP),
    U32(SQL_BATCH_ROW_COUNT, 0),
    U32(SQL_BATCH_SUPPORT, 0),
    U32(SQL_CONVERT_WCHAR, CVT_FROM_TEXT),
    U32(SQL_CONVERT_INTERVAL_DAY_TIME, 0),
    U32(SQL_CONVERT_INTERVAL_YEAR_MONTH, 0),
    U32(SQL_CONVERT_WLONGVARCHAR, CVT_FROM_TEXT),
    U32(SQL_CONVERT_WVARCHAR, CVT_FROM_TEXT),
    U32(SQL_CREATE_ASSERTION, 0),
    U32(SQL_CREATE_CHARACTER_SET, 0),
    U32(SQL_CREATE_COLLATION, 0),
    U32(SQL_CREATE_DOMAIN, 0),
    U32(SQL_CREATE_SCHEMA, 0),
    U32(SQL_CREATE_TABLE, 0),
    U32(SQL_CREATE_TRANSLATION, 0),
    U32(SQL_CREATE_VIEW, 0),
    U32(SQL_DROP_ASSERTION, 0),
    U32(SQL_DROP_CHARACTER_SET, 0),
    U32(SQL_DROP_COLLATION, 0),
    U32(SQL_DROP_DOMAIN, 0),
    U32(SQL_DROP_SCHEMA, 0),
    U32(SQL_DROP_TABLE, 0),
    U32(SQL_DROP_TRANSLATION, 0),
    U32(SQL_DROP_VIEW, 0),
    U32(SQL_DYNAMIC_CURSOR_ATTRIBUTES1, 0),
    U32(SQL_DYNAMIC_CURSOR_ATTRIBUTES2, 0),
    U32(SQL_FORWARD_ONLY_CURSOR_ATTRIBUTES1, 1),
    U32(SQL_FORWARD_ONLY_CURSOR_ATTRIBUTES2, 0),
    U32(SQL_INDEX_KEYWORDS, 0),
    U32(SQL_INFO_SCHEMA_VIEWS, 0),
    U32(SQL_KEYSET_CURSOR_ATTRIBUTES1, 0),
    U32(SQL_KEYSET_CURSOR_ATTRIBUTES2, 0),
    U32(SQL_ODBC_INTERFACE_CONFORMANCE, SQL_OIC_CORE),
    U32(SQL_PARAM_ARRAY_ROW_COUNTS, SQL_PARC_NO_BATCH),   // one count for all sets
    U32(SQL_PARAM_ARRAY_SELECTS, SQL_PAS_NO_SELECT),
    U32(SQL_SQL92_DATETIME_FUNCTIONS, SQL_SDF_CURRENT_DATE | SQL_SDF_CURRENT_TIMESTAMP),
    U32(SQL_SQL92_FOREIGN_KEY_DELETE_RULE, 0),
    U32(SQL_SQL92_FOREIGN_KEY_UPDATE_RULE, 0),
    U32(SQL_SQL92_GRANT, 0),
    U32(SQL_SQL92_NUMERIC_VALUE_FUNCTIONS, SQL_SNVF_BIT_LENGTH | SQL_SNVF_CHAR_LENGTH | SQL_SNVF_CHARACTER_LENGTH | SQL_SNVF_EXTRACT | SQL_SNVF_OCTET_LENGTH | SQL_SNVF_POSITION),
    U32(SQL_SQL92_PREDICATES, SQL_SP_EXISTS | SQL_SP_ISNOTNULL | SQL_SP_ISNULL | SQL_SP_LIKE | SQL_SP_IN | SQL_SP_BETWEEN | SQL_SP_COMPARISON),
    U32(SQL_SQL92_RELATIONAL_JOIN_OPERATORS, SQL_SRJO_CROSS_JOIN | SQL_SRJO_FULL_OUTER_JOIN | SQL_SRJO_INNER_JOIN | SQL_SRJO_LEFT_OUTER_JOIN | SQL_SRJO_NATURAL_JOIN | SQL_SRJO_RIGHT_OUTER_JOIN),
    U32(SQL_SQL92_REVOKE, 0),
    U32(SQL_SQL92_ROW_VALUE_CONSTRUCTOR, 0),
    U32(SQL_SQL92_STRING_FUNCTIONS, SQL_SSF_LOWER | SQL_SSF_UPPER | SQL_SSF_SUBSTRING | SQL_SSF_TRIM_BOTH | SQL_SSF_TRIM_LEADING | SQL_SSF_TRIM_TRAILING),
    U32(SQL_SQL92_VALUE_EXPRESSIONS, SQL_SVE_CASE | SQL_SVE_CAST | SQL_SVE_COALESCE | SQL_SVE_NULLIF),
    U32(SQL_STANDARD_CLI_CONFORMANCE, 2),
    U32(SQL_STATIC_CURSOR_ATTRIBUTES1, 0),
    U32(SQL_STATIC_CURSOR_ATTRIBUTES2, 0),
    U32(SQL_AGGREGATE_FUNCTIONS, SQL_AF_AVG | SQL_AF_COUNT | SQL_AF_MAX | SQL_AF_MIN | SQL_AF_SUM | SQL_AF_DISTINCT | SQL_AF_ALL),
    U32(SQL_DDL_INDEX, 0),
    U32(SQL_INSERT_STATEMENT, 0),
    U32(SQL_CONVERT_GUID, 0),
    U16(1024, 2),
    U32(1029, 0),
    U32(1199, 2),
    U32(8196, 2),
    TEXT(SQL_XOPEN_CLI_YEAR, "1995"),
    U32(SQL_CURSOR_SENSITIVITY, 0),
    TEXT(SQL_DESCRIBE_PARAMETER, "Y"),
    TEXT(SQL_CATALOG_NAME, "N"),
    TEXT(SQL_COLLATION_SEQ, "UTF-8"),
    U16(SQL_MAX_IDENTIFIER_LEN, 128),
    U32(SQL_ASYNC_MODE, 2),
    U32(SQL_MAX_ASYNC_CONCURRENT_STATEMENTS, 0),
    U32(SQL_ASYNC_DBC_FUNCTIONS, 0),
    U32(65003, OJ_CAPABILITIES),
};

constexpr int INFO_COUNT = (int)(sizeof INFO_TABLE / sizeof INFO_TABLE[0]);

constexpr bool info_table_sorted() {
    for (int i = 1; i < INFO_COUNT; i++)
        if (INFO_TABLE[i - 1].type >= INFO_TABLE[i].type) return false;
    return true;
}
static_assert(info_table_sorted(), "INFO_TABLE must be in strictly ascending info-type order");

}  // namespace

const SpkInfoEntry *spk_info_lookup(unsigned info_type) {
    int lo = 0, hi = INFO_COUNT - 1;
    while (lo <= hi) {
        int mid = (lo + hi) / 2;
        if (INFO_TABLE[mid].type == info_type) return &INFO_TABLE[mid];
        if (INFO_TABLE[mid].type < info_type)
            lo = mid + 1;
        else
            hi = mid - 1;
    }
    return nullptr;
}

const SpkInfoEntry *spk_info_table(int *count) {
    if (count) *count = INFO_COUNT;
    return INFO_TABLE;
}

SQLRETURN spk_get_info(SpkConnection *conn, const char *fn, int wide, SQLUSMALLINT info_type, SQLPOINTER info_value,
                       SQLSMALLINT buffer_length, SQLSMALLINT *string_length) {
    const SpkInfoEntry *e = spk_info_lookup(info_type);
    if (!e) {
        SPK_LOG(conn, LOG_ERROR, "%s: unexpected info_type %d", fn, (int)info_type);
        return spk_post_error(conn, "HYC00", 0, nullptr);
    }

    if (e->kind == SPK_INFO_U16 || e->kind == SPK_INFO_U32) {
        uint32_t value = e->value;
        SPK_LOG(conn, LOG_DETAIL, "%s: info_type %d is %d", fn, (int)info_type, (int)value);
        if (e->kind == SPK_INFO_U16) {
            if (info_value) *(SQLUSMALLINT *)info_value = (SQLUSMALLINT)value;
            if (string_length) *string_length = (SQLSMALLINT)sizeof(SQLUSMALLINT);
        } else {
            if (info_value) *(SQLUINTEGER *)info_value = (SQLUINTEGER)value;
            if (string_length) *string_length = (SQLSMALLINT)sizeof(SQLUINTEGER);
        }
        return SQL_SUCCESS;
    }

    // Text answers.
    if (buffer_length < 0) {
        SPK_LOG(conn, LOG_ERROR, "%s: buffer_length %d is negative", fn, (int)buffer_length);
        return spk_post_error(conn, "HY090", 0, nullptr);
    }
    SpkString *owned = nullptr;
    const SpkString *text = nullptr;     // null: an empty string
    switch (e->kind) {
    case SPK_INFO_TEXT:
        owned = spk_str_from_utf8(e->text, SQL_NTS);
        if (!owned) return spk_post_error(conn, "HY001", 0, nullptr);
        text = owned;
        break;
    case SPK_INFO_DSN: text = conn->dsn; break;
    case SPK_INFO_UID: text = conn->uid; break;
    case SPK_INFO_SERVER:
        if (spk_get_string_info(conn, info_type, &owned) != 0) {
            spk_str_free(owned);
            SPK_LOG(conn, LOG_ERROR, "%s: the server did not answer info_type %d", fn, (int)info_type);
            // The request posts its own diagnostics; make sure the failure is never silent.
            if (spk_error_count(conn) == 0) spk_post_error(conn, "HY000", 0, "GetInfo request failed");
            return SQL_ERROR;
        }
        text = owned;   // null when the server gave no text
        break;
    case SPK_INFO_DATABASE:
        if (spk_get_current_database(conn, &owned) != 0) return SQL_ERROR;
        text = owned;
        break;
    default:   // SPK_INFO_NONE
        break;
    }
    SPK_LOG(conn, LOG_DETAIL, "%s: info_type %d is '%S'", fn, (int)info_type, text);

    // An answer without a value is written as an empty string, so that the
    // application always finds a terminated string in its buffer.
    long length = 0;
    short rc = wide ? spk_copy_wide_bytes(conn, text, info_value, buffer_length, &length)
                    : spk_copy_ansi(conn, text, info_value, buffer_length, &length);
    spk_str_free(owned);
    if (string_length) *string_length = (SQLSMALLINT)(length > SHRT_MAX ? SHRT_MAX : length);
    return rc;
}

// ---------------------------------------------------------------------------
// SQLGetFunctions

namespace {

struct FunctionName {
    const char *name;   // the ANSI name; its wide twin adds "W"
    uint16_t id;
};

// Every ODBC function with its SQL_API_ identifier.
constexpr FunctionName FUNCTIONS[] = {
    {"SQLAllocConnect", SQL_API_SQLALLOCCONNECT},
    {"SQLAllocEnv", SQL_API_SQLALLOCENV},
    {"SQLAllocStmt", SQL_API_SQLALLOCSTMT},
    {"SQLBindCol", SQL_API_SQLBINDCOL},
    {"SQLCancel", SQL_API_SQLCANCEL},
    {"SQLColAttribute", SQL_API_SQLCOLATTRIBUTE},
    {"SQLColAttributes", SQL_API_SQLCOLATTRIBUTES},
    {"SQLConnect", SQL_API_SQLCONNECT},
    {"SQLDescribeCol", SQL_API_SQLDESCRIBECOL},
    {"SQLDisconnect", SQL_API_SQLDISCONNECT},
    {"SQLError", SQL_API_SQLERROR},
    {"SQLExecDirect", SQL_API_SQLEXECDIRECT},
    {"SQLExecute", SQL_API_SQLEXECUTE},
    {"SQLFetch", SQL_API_SQLFETCH},
    {"SQLFreeConnect", SQL_API_SQLFREECONNECT},
    {"SQLFreeEnv", SQL_API_SQLFREEENV},
    {"SQLFreeStmt", SQL_API_SQLFREESTMT},
    {"SQLGetCursorName", SQL_API_SQLGETCURSORNAME},
    {"SQLNumResultCols", SQL_API_SQLNUMRESULTCOLS},
    {"SQLPrepare", SQL_API_SQLPREPARE},
    {"SQLRowCount", SQL_API_SQLROWCOUNT},
    {"SQLSetCursorName", SQL_API_SQLSETCURSORNAME},
    {"SQLSetParam", SQL_API_SQLSETPARAM},
    {"SQLTransact", SQL_API_SQLTRANSACT},
    {"SQLBulkOperations", SQL_API_SQLBULKOPERATIONS},
    {"SQLColumns", SQL_API_SQLCOLUMNS},
    {"SQLDriverConnect", SQL_API_SQLDRIVERCONNECT},
    {"SQLGetConnectOption", SQL_API_SQLGETCONNECTOPTION},
    {"SQLGetData", SQL_API_SQLGETDATA},
    {"SQLGetFunctions", SQL_API_SQLGETFUNCTIONS},
    {"SQLGetInfo", SQL_API_SQLGETINFO},
    {"SQLGetStmtOption", SQL_API_SQLGETSTMTOPTION},
    {"SQLGetTypeInfo", SQL_API_SQLGETTYPEINFO},
    {"SQLParamData", SQL_API_SQLPARAMDATA},
    {"SQLPutData", SQL_API_SQLPUTDATA},
    {"SQLSetConnectOption", SQL_API_SQLSETCONNECTOPTION},
    {"SQLSetStmtOption", SQL_API_SQLSETSTMTOPTION},
    {"SQLSpecialColumns", SQL_API_SQLSPECIALCOLUMNS},
    {"SQLStatistics", SQL_API_SQLSTATISTICS},
    {"SQLTables", SQL_API_SQLTABLES},
    {"SQLBrowseConnect", SQL_API_SQLBROWSECONNECT},
    {"SQLColumnPrivileges", SQL_API_SQLCOLUMNPRIVILEGES},
    {"SQLDataSources", SQL_API_SQLDATASOURCES},
    {"SQLDescribeParam", SQL_API_SQLDESCRIBEPARAM},
    {"SQLExtendedFetch", SQL_API_SQLEXTENDEDFETCH},
    {"SQLForeignKeys", SQL_API_SQLFOREIGNKEYS},
    {"SQLMoreResults", SQL_API_SQLMORERESULTS},
    {"SQLNativeSql", SQL_API_SQLNATIVESQL},
    {"SQLNumParams", SQL_API_SQLNUMPARAMS},
    {"SQLParamOptions", SQL_API_SQLPARAMOPTIONS},
    {"SQLPrimaryKeys", SQL_API_SQLPRIMARYKEYS},
    {"SQLProcedureColumns", SQL_API_SQLPROCEDURECOLUMNS},
    {"SQLProcedures", SQL_API_SQLPROCEDURES},
    {"SQLSetPos", SQL_API_SQLSETPOS},
    {"SQLSetScrollOptions", SQL_API_SQLSETSCROLLOPTIONS},
    {"SQLTablePrivileges", SQL_API_SQLTABLEPRIVILEGES},
    {"SQLDrivers", SQL_API_SQLDRIVERS},
    {"SQLBindParameter", SQL_API_SQLBINDPARAMETER},
    {"SQLAllocHandleStd", SQL_API_SQLALLOCHANDLESTD},
    {"SQLAllocHandle", SQL_API_SQLALLOCHANDLE},
    {"SQLBindParam", SQL_API_SQLBINDPARAM},
    {"SQLCloseCursor", SQL_API_SQLCLOSECURSOR},
    {"SQLCopyDesc", SQL_API_SQLCOPYDESC},
    {"SQLEndTran", SQL_API_SQLENDTRAN},
    {"SQLFreeHandle", SQL_API_SQLFREEHANDLE},
    {"SQLGetConnectAttr", SQL_API_SQLGETCONNECTATTR},
    {"SQLGetDescField", SQL_API_SQLGETDESCFIELD},
    {"SQLGetDescRec", SQL_API_SQLGETDESCREC},
    {"SQLGetDiagField", SQL_API_SQLGETDIAGFIELD},
    {"SQLGetDiagRec", SQL_API_SQLGETDIAGREC},
    {"SQLGetEnvAttr", SQL_API_SQLGETENVATTR},
    {"SQLGetStmtAttr", SQL_API_SQLGETSTMTATTR},
    {"SQLSetConnectAttr", SQL_API_SQLSETCONNECTATTR},
    {"SQLSetDescField", SQL_API_SQLSETDESCFIELD},
    {"SQLSetDescRec", SQL_API_SQLSETDESCREC},
    {"SQLSetEnvAttr", SQL_API_SQLSETENVATTR},
    {"SQLSetStmtAttr", SQL_API_SQLSETSTMTATTR},
    {"SQLFetchScroll", SQL_API_SQLFETCHSCROLL},
    {"SQLCancelHandle", SQL_API_SQLCANCELHANDLE},
};

constexpr unsigned BITMAP_WORDS = SQL_API_ODBC3_ALL_FUNCTIONS_SIZE;

constexpr bool function_ids_fit() {
    for (const FunctionName &f : FUNCTIONS)
        if (f.id == 0 || f.id >= BITMAP_WORDS * 16) return false;
    return true;
}
static_assert(function_ids_fit(), "every SQL_API_ identifier must fit the ODBC 3 bitmap");

// `exported` is `odbc` itself or its wide twin `odbc` + "W".
constexpr bool names_match(const char *exported, const char *odbc) {
    size_t i = 0;
    for (; odbc[i]; i++)
        if (exported[i] != odbc[i]) return false;
    return exported[i] == 0 || (exported[i] == 'W' && exported[i + 1] == 0);
}

constexpr int function_id_of(const char *name) {
    for (const FunctionName &f : FUNCTIONS)
        if (names_match(name, f.name)) return f.id;
    return -1;
}

// What the library exports, as the build lists it.
constexpr const char *EXPORTED[] = {
#define SPK_EXPORTED(name) #name,
#include "spk_export_list.inc"
#undef SPK_EXPORTED
    nullptr,
};

struct FunctionBitmap {
    SQLUSMALLINT words[BITMAP_WORDS];
};

constexpr FunctionBitmap build_bitmap() {
    FunctionBitmap b{};
    for (const char *name : EXPORTED) {
        if (!name) continue;
        int id = function_id_of(name);
        if (id > 0) b.words[id / 16] = (SQLUSMALLINT)(b.words[id / 16] | (1u << (id % 16)));
    }
    return b;
}

constexpr FunctionBitmap SUPPORTED = build_bitmap();

}  // namespace

int spk_function_id(const char *name) { return name ? function_id_of(name) : -1; }

int spk_function_supported(unsigned function_id) {
    if (function_id >= BITMAP_WORDS * 16) return 0;
    return (SUPPORTED.words[function_id / 16] >> (function_id % 16)) & 1;
}

void spk_functions_bitmap(SQLUSMALLINT *words) { memcpy(words, SUPPORTED.words, sizeof SUPPORTED.words); }

void spk_functions_odbc2(SQLUSMALLINT *words) {
    for (unsigned id = 0; id < 100; id++) words[id] = (SQLUSMALLINT)spk_function_supported(id);
}
