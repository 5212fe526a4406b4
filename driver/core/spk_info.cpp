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

constexpr SpkInfoEntry U16(uint16_t type, uint32_t value) { return {type, SPK_INFO_U16, value, value, nullptr, nullptr}; }
constexpr SpkInfoEntry U16(uint16_t type, uint32_t ansi, uint32_t wide) {
    return {type, SPK_INFO_U16, ansi, wide, nullptr, nullptr};
}
constexpr SpkInfoEntry U32(uint16_t type, uint32_t value) { return {type, SPK_INFO_U32, value, value, nullptr, nullptr}; }
constexpr SpkInfoEntry U32(uint16_t type, uint32_t ansi, uint32_t wide) {
    return {type, SPK_INFO_U32, ansi, wide, nullptr, nullptr};
}
constexpr SpkInfoEntry TEXT(uint16_t type, const char *text) { return {type, SPK_INFO_TEXT, 0, 0, text, text}; }
constexpr SpkInfoEntry TEXT(uint16_t type, const char *ansi, const char *wide) {
    return {type, SPK_INFO_TEXT, 0, 0, ansi, wide};
}
constexpr SpkInfoEntry FROM(uint16_t type, SpkInfoKind kind) { return {type, kind, 0, 0, nullptr, nullptr}; }

const char KEYWORDS[] =
    "BREAK,BROWSE,BULK,CHECKPOINT,CLUSTERED,COMMITTED,COMPUTE,CONFIRM,CONTROLROW,DATABASE,DBCC,DISK,DISTRIBUTED,"
    "DUMMY,DUMP,ERRLVL,ERROREXIT,EXIT,FILE,FILLFACTOR,FLOPPY,HOLDLOCK,IDENTITY_INSERT,IDENTITYCOL,IF,KILL,LINENO,"
    "LOAD,MIRROREXIT,NONCLUSTERED,OFF,OFFSETS,ONCE,OVER,PERCENT,PERM,PERMANENT,PLAN,PRINT,PROC,PROCESSEXIT,"
    "RAISERROR,READ,READTEXT,RECONFIGURE,REPEATABLE,RETURN,ROWCOUNT,RULE,SAVE,SERIALIZABLE,SETUSER,SHUTDOWN,"
    "STATISTICS,TAPE,TEMP,TEXTSIZE,TOP,TRAN,TRIGGER,TRUNCATE,TSEQUEL,UNCOMMITTED,UPDATETEXT,USE,WAITFOR,WHILE,"
    "WRITETEXT";

// "#$" and the Latin-1 letters U+00C0..U+00FF without U+00D7 and U+00F7 (UTF-8).
const char SPECIAL_CHARACTERS[] =
    "#$\u00C0\u00C1\u00C2\u00C3\u00C4\u00C5\u00C6\u00C7\u00C8\u00C9\u00CA\u00CB\u00CC\u00CD\u00CE\u00CF"
    "\u00D0\u00D1\u00D2\u00D3\u00D4\u00D5\u00D6\u00D8\u00D9\u00DA\u00DB\u00DC\u00DD\u00DE\u00DF"
    "\u00E0\u00E1\u00E2\u00E3\u00E4\u00E5\u00E6\u00E7\u00E8\u00E9\u00EA\u00EB\u00EC\u00ED\u00EE\u00EF"
    "\u00F0\u00F1\u00F2\u00F3\u00F4\u00F5\u00F6\u00F8\u00F9\u00FA\u00FB\u00FC\u00FD\u00FE\u00FF";

// In ascending info-type order (checked below); one row per info type.
constexpr SpkInfoEntry INFO_TABLE[] = {
    U16(SQL_MAX_DRIVER_CONNECTIONS, 0),
    U16(SQL_MAX_CONCURRENT_ACTIVITIES, 0),
    FROM(SQL_DATA_SOURCE_NAME, SPK_INFO_DSN),
    TEXT(SQL_DRIVER_NAME, "libtarndrv.so"),
    TEXT(SQL_DRIVER_VER, "01.00.0000"),
    U32(SQL_FETCH_DIRECTION, SQL_FD_FETCH_NEXT),
    U16(SQL_ODBC_API_CONFORMANCE, 2),
    TEXT(SQL_ODBC_VER, "03.51.0000"),
    TEXT(SQL_ROW_UPDATES, "N"),
    U16(SQL_ODBC_SAG_CLI_CONFORMANCE, 0),
    FROM(SQL_SERVER_NAME, SPK_INFO_SERVER),
    TEXT(SQL_SEARCH_PATTERN_ESCAPE, "\\"),
    U16(SQL_ODBC_SQL_CONFORMANCE, 1),
    FROM(SQL_DATABASE_NAME, SPK_INFO_NONE),
    FROM(SQL_DBMS_NAME, SPK_INFO_SERVER),
    FROM(SQL_DBMS_VER, SPK_INFO_SERVER),
    TEXT(SQL_ACCESSIBLE_TABLES, "Y"),
    TEXT(SQL_ACCESSIBLE_PROCEDURES, "N"),
    TEXT(SQL_PROCEDURES, "N"),
    U16(SQL_CONCAT_NULL_BEHAVIOR, 0),
    U16(SQL_CURSOR_COMMIT_BEHAVIOR, 2),
    U16(SQL_CURSOR_ROLLBACK_BEHAVIOR, 2),
    TEXT(SQL_DATA_SOURCE_READ_ONLY, "N"),
    U32(SQL_DEFAULT_TXN_ISOLATION, 2),
    TEXT(SQL_EXPRESSIONS_IN_ORDERBY, "N"),
    U16(SQL_IDENTIFIER_CASE, 4),
    TEXT(SQL_IDENTIFIER_QUOTE_CHAR, "`"),
    U16(SQL_MAX_COLUMN_NAME_LEN, 127, 128),
    U16(SQL_MAX_CURSOR_NAME_LEN, 128),
    U16(SQL_MAX_SCHEMA_NAME_LEN, 0),
    U16(SQL_MAX_PROCEDURE_NAME_LEN, 0),
    U16(SQL_MAX_CATALOG_NAME_LEN, 0),
    U16(SQL_MAX_TABLE_NAME_LEN, 128),
    TEXT(SQL_MULT_RESULT_SETS, "N"),
    TEXT(SQL_MULTIPLE_ACTIVE_TXN, "N"),
    TEXT(SQL_OUTER_JOINS, "N"),
    TEXT(SQL_SCHEMA_TERM, ""),
    TEXT(SQL_PROCEDURE_TERM, "stored procedure"),
    TEXT(SQL_CATALOG_NAME_SEPARATOR, ".", ""),
    TEXT(SQL_CATALOG_TERM, "database", ""),
    U32(SQL_SCROLL_CONCURRENCY, 0),
    U32(SQL_SCROLL_OPTIONS, 1),
    TEXT(SQL_TABLE_TERM, "table"),
    U16(SQL_TXN_CAPABLE, 1),
    FROM(SQL_USER_NAME, SPK_INFO_UID),
    U32(SQL_CONVERT_FUNCTIONS, 0),
    U32(SQL_NUMERIC_FUNCTIONS, 0xFFFFFF),
    U32(SQL_STRING_FUNCTIONS, 0),
    U32(SQL_SYSTEM_FUNCTIONS, 0),
    U32(SQL_TIMEDATE_FUNCTIONS, 0),
    U32(SQL_CONVERT_BIGINT, 0),
    U32(SQL_CONVERT_BINARY, 0),
    U32(SQL_CONVERT_BIT, 0),
    U32(SQL_CONVERT_CHAR, 0),
    U32(SQL_CONVERT_DATE, 0),
    U32(SQL_CONVERT_DECIMAL, 0),
    U32(SQL_CONVERT_DOUBLE, 0),
    U32(SQL_CONVERT_FLOAT, 0),
    U32(SQL_CONVERT_INTEGER, 0),
    U32(SQL_CONVERT_LONGVARCHAR, 0),
    U32(SQL_CONVERT_NUMERIC, 0),
    U32(SQL_CONVERT_REAL, 0),
    U32(SQL_CONVERT_SMALLINT, 0),
    U32(SQL_CONVERT_TIME, 0),
    U32(SQL_CONVERT_TIMESTAMP, 0),
    U32(SQL_CONVERT_TINYINT, 0),
    U32(SQL_CONVERT_VARBINARY, 0),
    U32(SQL_CONVERT_VARCHAR, 0),
    U32(SQL_CONVERT_LONGVARBINARY, 0),
    U32(SQL_TXN_ISOLATION_OPTION, 2),
    TEXT(SQL_INTEGRITY, "N"),
    U16(SQL_CORRELATION_NAME, 0),
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
    TEXT(SQL_COLUMN_ALIAS, "N"),
    U16(SQL_GROUP_BY, 0),
    TEXT(SQL_KEYWORDS, KEYWORDS),
    TEXT(SQL_ORDER_BY_COLUMNS_IN_SELECT, "N"),
    U32(SQL_SCHEMA_USAGE, 0),
    U32(SQL_CATALOG_USAGE, 5, 0),
    U16(SQL_QUOTED_IDENTIFIER_CASE, 4),
    TEXT(SQL_SPECIAL_CHARACTERS, SPECIAL_CHARACTERS),
    U32(SQL_SUBQUERIES, 0),
    U32(SQL_UNION, 0),
    U16(SQL_MAX_COLUMNS_IN_GROUP_BY, 0),
    U16(SQL_MAX_COLUMNS_IN_INDEX, 0),
    U16(SQL_MAX_COLUMNS_IN_ORDER_BY, 0),
    U16(SQL_MAX_COLUMNS_IN_SELECT, 0),
    U16(SQL_MAX_COLUMNS_IN_TABLE, 0),
    U32(SQL_MAX_INDEX_SIZE, 0),
    TEXT(SQL_MAX_ROW_SIZE_INCLUDES_LONG, "N"),
    U32(SQL_MAX_ROW_SIZE, 0),
    U32(SQL_MAX_STATEMENT_LEN, 20000),
    U16(SQL_MAX_TABLES_IN_SELECT, 0),
    U16(SQL_MAX_USER_NAME_LEN, 128),
    U32(SQL_MAX_CHAR_LITERAL_LEN, 0x80000),
    U32(SQL_TIMEDATE_ADD_INTERVALS, 0),
    U32(SQL_TIMEDATE_DIFF_INTERVALS, 0),
    TEXT(SQL_NEED_LONG_DATA_LEN, "N"),
    U32(SQL_MAX_BINARY_LITERAL_LEN, 0x80000),
    TEXT(SQL_LIKE_ESCAPE_CLAUSE, "Y"),
    U16(SQL_CATALOG_LOCATION, 1),
    U32(SQL_OJ_CAPABILITIES, 0),
    U16(SQL_ACTIVE_ENVIRONMENTS, 0),
    U32(SQL_ALTER_DOMAIN, 0),
    U32(SQL_SQL_CONFORMANCE, 1),
    U32(SQL_DATETIME_LITERALS, 0),
    U32(SQL_BATCH_ROW_COUNT, 0),
    U32(SQL_BATCH_SUPPORT, 0),
    U32(SQL_CONVERT_WCHAR, 0),
    U32(SQL_CONVERT_INTERVAL_DAY_TIME, 0),
    U32(SQL_CONVERT_INTERVAL_YEAR_MONTH, 0),
    U32(SQL_CONVERT_WLONGVARCHAR, 0),
    U32(SQL_CONVERT_WVARCHAR, 0),
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
    U32(SQL_ODBC_INTERFACE_CONFORMANCE, 3),
    U32(SQL_PARAM_ARRAY_ROW_COUNTS, 1),
    U32(SQL_PARAM_ARRAY_SELECTS, 0),
    U32(SQL_SQL92_DATETIME_FUNCTIONS, 0),
    U32(SQL_SQL92_FOREIGN_KEY_DELETE_RULE, 0),
    U32(SQL_SQL92_FOREIGN_KEY_UPDATE_RULE, 0),
    U32(SQL_SQL92_GRANT, 0),
    U32(SQL_SQL92_NUMERIC_VALUE_FUNCTIONS, 0),
    U32(SQL_SQL92_PREDICATES, 6),
    U32(SQL_SQL92_RELATIONAL_JOIN_OPERATORS, 0),
    U32(SQL_SQL92_REVOKE, 0),
    U32(SQL_SQL92_ROW_VALUE_CONSTRUCTOR, 0),
    U32(SQL_SQL92_STRING_FUNCTIONS, 0),
    U32(SQL_SQL92_VALUE_EXPRESSIONS, 0),
    U32(SQL_STANDARD_CLI_CONFORMANCE, 2),
    U32(SQL_STATIC_CURSOR_ATTRIBUTES1, 0),
    U32(SQL_STATIC_CURSOR_ATTRIBUTES2, 0),
    U32(SQL_AGGREGATE_FUNCTIONS, 0x40),
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
    U32(65003, 0),
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
        uint32_t value = wide ? e->wide_value : e->value;
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
        owned = spk_str_from_utf8(wide ? e->wide_text : e->text, SQL_NTS);
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
