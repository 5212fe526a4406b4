// The TCLIService interface as this driver speaks it: the structures,
// unions and enumerations of the calls the driver makes, with the field ids
// and wire types the Spark Thrift server expects.  Field ids, types and
// requiredness fix the binary-protocol form; names only matter to the code.
//
// Fifteen calls: the thirteen the driver makes, plus GetOperationStatus and
// CancelOperation, which the test server answers.
//
// Fields that carry one of the enumerations below are declared i32 (the
// enumeration named in a comment): the wire form is the same, and a value
// the enumeration does not list (a newer server's) stays an ordinary number
// instead of an invalid enum value in the generated code.

namespace cpp tcli

// ---------------------------------------------------------------------------
// Enumerations

enum TProtocolVersion {
  HIVE_CLI_SERVICE_PROTOCOL_V1 = 0,
  HIVE_CLI_SERVICE_PROTOCOL_V2 = 1,
  HIVE_CLI_SERVICE_PROTOCOL_V3 = 2,
  HIVE_CLI_SERVICE_PROTOCOL_V4 = 3,
  HIVE_CLI_SERVICE_PROTOCOL_V5 = 4,
  HIVE_CLI_SERVICE_PROTOCOL_V6 = 5,
  HIVE_CLI_SERVICE_PROTOCOL_V7 = 6,
  HIVE_CLI_SERVICE_PROTOCOL_V8 = 7,
  HIVE_CLI_SERVICE_PROTOCOL_V9 = 8,
  HIVE_CLI_SERVICE_PROTOCOL_V10 = 9,
  HIVE_CLI_SERVICE_PROTOCOL_V11 = 10
}

enum TTypeId {
  BOOLEAN_TYPE = 0,
  TINYINT_TYPE = 1,
  SMALLINT_TYPE = 2,
  INT_TYPE = 3,
  BIGINT_TYPE = 4,
  FLOAT_TYPE = 5,
  DOUBLE_TYPE = 6,
  STRING_TYPE = 7,
  TIMESTAMP_TYPE = 8,
  BINARY_TYPE = 9,
  ARRAY_TYPE = 10,
  MAP_TYPE = 11,
  STRUCT_TYPE = 12,
  UNION_TYPE = 13,
  USER_DEFINED_TYPE = 14,
  DECIMAL_TYPE = 15,
  NULL_TYPE = 16,
  DATE_TYPE = 17,
  VARCHAR_TYPE = 18,
  CHAR_TYPE = 19,
  INTERVAL_YEAR_MONTH_TYPE = 20,
  INTERVAL_DAY_TIME_TYPE = 21,
  TIMESTAMPLOCALTZ_TYPE = 22
}

enum TStatusCode {
  SUCCESS_STATUS = 0,
  SUCCESS_WITH_INFO_STATUS = 1,
  STILL_EXECUTING_STATUS = 2,
  ERROR_STATUS = 3,
  INVALID_HANDLE_STATUS = 4
}

enum TOperationState {
  INITIALIZED_STATE = 0,
  RUNNING_STATE = 1,
  FINISHED_STATE = 2,
  CANCELED_STATE = 3,
  CLOSED_STATE = 4,
  ERROR_STATE = 5,
  UKNOWN_STATE = 6,
  PENDING_STATE = 7,
  TIMEDOUT_STATE = 8
}

enum TOperationType {
  EXECUTE_STATEMENT = 0,
  GET_TYPE_INFO = 1,
  GET_CATALOGS = 2,
  GET_SCHEMAS = 3,
  GET_TABLES = 4,
  GET_TABLE_TYPES = 5,
  GET_COLUMNS = 6,
  GET_FUNCTIONS = 7,
  UNKNOWN = 8,
  PROCEDURAL_SQL = 9
}

enum TGetInfoType {
  CLI_MAX_DRIVER_CONNECTIONS = 0,
  CLI_MAX_CONCURRENT_ACTIVITIES = 1,
  CLI_DATA_SOURCE_NAME = 2,
  CLI_FETCH_DIRECTION = 8,
  CLI_SERVER_NAME = 13,
  CLI_SEARCH_PATTERN_ESCAPE = 14,
  CLI_DBMS_NAME = 17,
  CLI_DBMS_VER = 18,
  CLI_ACCESSIBLE_TABLES = 19,
  CLI_ACCESSIBLE_PROCEDURES = 20,
  CLI_CURSOR_COMMIT_BEHAVIOR = 23,
  CLI_DATA_SOURCE_READ_ONLY = 25,
  CLI_DEFAULT_TXN_ISOLATION = 26,
  CLI_IDENTIFIER_CASE = 28,
  CLI_IDENTIFIER_QUOTE_CHAR = 29,
  CLI_MAX_COLUMN_NAME_LEN = 30,
  CLI_MAX_CURSOR_NAME_LEN = 31,
  CLI_MAX_SCHEMA_NAME_LEN = 32,
  CLI_MAX_CATALOG_NAME_LEN = 34,
  CLI_MAX_TABLE_NAME_LEN = 35,
  CLI_SCROLL_CONCURRENCY = 43,
  CLI_TXN_CAPABLE = 46,
  CLI_USER_NAME = 47,
  CLI_TXN_ISOLATION_OPTION = 72,
  CLI_INTEGRITY = 73,
  CLI_GETDATA_EXTENSIONS = 81,
  CLI_NULL_COLLATION = 85,
  CLI_ALTER_TABLE = 86,
  CLI_ORDER_BY_COLUMNS_IN_SELECT = 90,
  CLI_SPECIAL_CHARACTERS = 94,
  CLI_MAX_COLUMNS_IN_GROUP_BY = 97,
  CLI_MAX_COLUMNS_IN_INDEX = 98,
  CLI_MAX_COLUMNS_IN_ORDER_BY = 99,
  CLI_MAX_COLUMNS_IN_SELECT = 100,
  CLI_MAX_COLUMNS_IN_TABLE = 101,
  CLI_MAX_INDEX_SIZE = 102,
  CLI_MAX_ROW_SIZE = 104,
  CLI_MAX_STATEMENT_LEN = 105,
  CLI_MAX_TABLES_IN_SELECT = 106,
  CLI_MAX_USER_NAME_LEN = 107,
  CLI_OJ_CAPABILITIES = 115,
  CLI_XOPEN_CLI_YEAR = 10000,
  CLI_CURSOR_SENSITIVITY = 10001,
  CLI_DESCRIBE_PARAMETER = 10002,
  CLI_CATALOG_NAME = 10003,
  CLI_COLLATION_SEQ = 10004,
  CLI_MAX_IDENTIFIER_LEN = 10005,
  CLI_ODBC_KEYWORDS = 10006
}

enum TFetchOrientation {
  FETCH_NEXT = 0,
  FETCH_PRIOR = 1,
  FETCH_RELATIVE = 2,
  FETCH_ABSOLUTE = 3,
  FETCH_FIRST = 4,
  FETCH_LAST = 5
}

enum TJobExecutionStatus {
  IN_PROGRESS = 0,
  COMPLETE = 1,
  NOT_AVAILABLE = 2
}

// ---------------------------------------------------------------------------
// Types of result columns

union TTypeQualifierValue {
  1: optional i32 i32Value
  2: optional string stringValue
}

struct TTypeQualifiers {
  1: required map<string, TTypeQualifierValue> qualifiers
}

struct TPrimitiveTypeEntry {
  1: required i32 type                        // TTypeId
  2: optional TTypeQualifiers typeQualifiers
}

struct TArrayTypeEntry {
  1: required i32 objectTypePtr
}

struct TMapTypeEntry {
  1: required i32 keyTypePtr
  2: required i32 valueTypePtr
}

struct TStructTypeEntry {
  1: required map<string, i32> nameToTypePtr
}

struct TUnionTypeEntry {
  1: required map<string, i32> nameToTypePtr
}

struct TUserDefinedTypeEntry {
  1: required string typeClassName
}

union TTypeEntry {
  1: TPrimitiveTypeEntry primitiveEntry
  2: TArrayTypeEntry arrayEntry
  3: TMapTypeEntry mapEntry
  4: TStructTypeEntry structEntry
  5: TUnionTypeEntry unionEntry
  6: TUserDefinedTypeEntry userDefinedTypeEntry
}

struct TTypeDesc {
  1: required list<TTypeEntry> types
}

struct TColumnDesc {
  1: required string columnName
  2: required TTypeDesc typeDesc
  3: required i32 position
  4: optional string comment
}

struct TTableSchema {
  1: required list<TColumnDesc> columns
}

// ---------------------------------------------------------------------------
// Row sets

struct TBoolValue {
  1: optional bool value
}

struct TByteValue {
  1: optional i8 value
}

struct TI16Value {
  1: optional i16 value
}

struct TI32Value {
  1: optional i32 value
}

struct TI64Value {
  1: optional i64 value
}

struct TDoubleValue {
  1: optional double value
}

struct TStringValue {
  1: optional string value
}

union TColumnValue {
  1: TBoolValue boolVal
  2: TByteValue byteVal
  3: TI16Value i16Val
  4: TI32Value i32Val
  5: TI64Value i64Val
  6: TDoubleValue doubleVal
  7: TStringValue stringVal
}

struct TRow {
  1: required list<TColumnValue> colVals
}

struct TBoolColumn {
  1: required list<bool> values
  2: required binary nulls
}

struct TByteColumn {
  1: required list<i8> values
  2: required binary nulls
}

struct TI16Column {
  1: required list<i16> values
  2: required binary nulls
}

struct TI32Column {
  1: required list<i32> values
  2: required binary nulls
}

struct TI64Column {
  1: required list<i64> values
  2: required binary nulls
}

struct TDoubleColumn {
  1: required list<double> values
  2: required binary nulls
}

struct TStringColumn {
  1: required list<string> values
  2: required binary nulls
}

struct TBinaryColumn {
  1: required list<binary> values
  2: required binary nulls
}

union TColumn {
  1: TBoolColumn boolVal
  2: TByteColumn byteVal
  3: TI16Column i16Val
  4: TI32Column i32Val
  5: TI64Column i64Val
  6: TDoubleColumn doubleVal
  7: TStringColumn stringVal
  8: TBinaryColumn binaryVal
}

struct TRowSet {
  1: required i64 startRowOffset
  2: required list<TRow> rows
  3: optional list<TColumn> columns
  4: optional binary binaryColumns
  5: optional i32 columnCount
}

// ---------------------------------------------------------------------------
// Status and handles

struct TStatus {
  1: required i32 statusCode                  // TStatusCode
  2: optional list<string> infoMessages
  3: optional string sqlState
  4: optional i32 errorCode
  5: optional string errorMessage
}

struct THandleIdentifier {
  1: required binary guid
  2: required binary secret
}

struct TSessionHandle {
  1: required THandleIdentifier sessionId
}

struct TOperationHandle {
  1: required THandleIdentifier operationId
  2: required i32 operationType               // TOperationType
  3: required bool hasResultSet
  4: optional double modifiedRowCount
}

// ---------------------------------------------------------------------------
// Sessions

struct TOpenSessionReq {
  1: required i32 client_protocol             // TProtocolVersion
  2: optional string username
  3: optional string password
  4: optional map<string, string> configuration
}

struct TOpenSessionResp {
  1: required TStatus status
  2: required i32 serverProtocolVersion       // TProtocolVersion
  3: optional TSessionHandle sessionHandle
  4: optional map<string, string> configuration
}

struct TCloseSessionReq {
  1: required TSessionHandle sessionHandle
}

struct TCloseSessionResp {
  1: required TStatus status
}

// ---------------------------------------------------------------------------
// Information

union TGetInfoValue {
  1: string stringValue
  2: i16 smallIntValue
  3: i32 integerBitmask
  4: i32 integerFlag
  5: i32 binaryValue
  6: i64 lenValue
}

struct TGetInfoReq {
  1: required TSessionHandle sessionHandle
  2: required i32 infoType                    // TGetInfoType
}

struct TGetInfoResp {
  1: required TStatus status
  2: required TGetInfoValue infoValue
}

// ---------------------------------------------------------------------------
// Statements and metadata operations

struct TExecuteStatementReq {
  1: required TSessionHandle sessionHandle
  2: required string statement
  3: optional map<string, string> confOverlay
  4: optional bool runAsync
  5: optional i64 queryTimeout
}

struct TExecuteStatementResp {
  1: required TStatus status
  2: optional TOperationHandle operationHandle
}

struct TGetCatalogsReq {
  1: required TSessionHandle sessionHandle
}

struct TGetCatalogsResp {
  1: required TStatus status
  2: optional TOperationHandle operationHandle
}

struct TGetSchemasReq {
  1: required TSessionHandle sessionHandle
  2: optional string catalogName
  3: optional string schemaName
}

struct TGetSchemasResp {
  1: required TStatus status
  2: optional TOperationHandle operationHandle
}

struct TGetTablesReq {
  1: required TSessionHandle sessionHandle
  2: optional string catalogName
  3: optional string schemaName
  4: optional string tableName
  5: optional list<string> tableTypes
}

struct TGetTablesResp {
  1: required TStatus status
  2: optional TOperationHandle operationHandle
}

struct TGetColumnsReq {
  1: required TSessionHandle sessionHandle
  2: optional string catalogName
  3: optional string schemaName
  4: optional string tableName
  5: optional string columnName
}

struct TGetColumnsResp {
  1: required TStatus status
  2: optional TOperationHandle operationHandle
}

struct TGetFunctionsReq {
  1: required TSessionHandle sessionHandle
  2: optional string catalogName
  3: optional string schemaName
  4: required string functionName
}

struct TGetFunctionsResp {
  1: required TStatus status
  2: optional TOperationHandle operationHandle
}

struct TGetCrossReferenceReq {
  1: required TSessionHandle sessionHandle
  2: optional string parentCatalogName
  3: optional string parentSchemaName
  4: optional string parentTableName
  5: optional string foreignCatalogName
  6: optional string foreignSchemaName
  7: optional string foreignTableName
}

struct TGetCrossReferenceResp {
  1: required TStatus status
  2: optional TOperationHandle operationHandle
}

// ---------------------------------------------------------------------------
// Operations

struct TProgressUpdateResp {
  1: required list<string> headerNames
  2: required list<list<string>> rows
  3: required double progressedPercentage
  4: required i32 status                      // TJobExecutionStatus
  5: required string footerSummary
  6: required i64 startTime
}

struct TGetOperationStatusReq {
  1: required TOperationHandle operationHandle
  2: optional bool getProgressUpdate
}

struct TGetOperationStatusResp {
  1: required TStatus status
  2: optional i32 operationState              // TOperationState
  3: optional string sqlState
  4: optional i32 errorCode
  5: optional string errorMessage
  6: optional string taskStatus
  7: optional i64 operationStarted
  8: optional i64 operationCompleted
  9: optional bool hasResultSet
  10: optional TProgressUpdateResp progressUpdateResponse
  11: optional i64 numModifiedRows
}

struct TCancelOperationReq {
  1: required TOperationHandle operationHandle
}

struct TCancelOperationResp {
  1: required TStatus status
}

struct TCloseOperationReq {
  1: required TOperationHandle operationHandle
}

struct TCloseOperationResp {
  1: required TStatus status
}

struct TGetResultSetMetadataReq {
  1: required TOperationHandle operationHandle
}

struct TGetResultSetMetadataResp {
  1: required TStatus status
  2: optional TTableSchema schema
}

struct TFetchResultsReq {
  1: required TOperationHandle operationHandle
  2: required i32 orientation                 // TFetchOrientation
  3: required i64 maxRows
  4: optional i16 fetchType
}

struct TFetchResultsResp {
  1: required TStatus status
  2: optional bool hasMoreRows
  3: optional TRowSet results
}

// ---------------------------------------------------------------------------

service TCLIService {
  TOpenSessionResp OpenSession(1: TOpenSessionReq req)
  TCloseSessionResp CloseSession(1: TCloseSessionReq req)
  TGetInfoResp GetInfo(1: TGetInfoReq req)
  TExecuteStatementResp ExecuteStatement(1: TExecuteStatementReq req)
  TGetCatalogsResp GetCatalogs(1: TGetCatalogsReq req)
  TGetSchemasResp GetSchemas(1: TGetSchemasReq req)
  TGetTablesResp GetTables(1: TGetTablesReq req)
  TGetColumnsResp GetColumns(1: TGetColumnsReq req)
  TGetFunctionsResp GetFunctions(1: TGetFunctionsReq req)
  TGetCrossReferenceResp GetCrossReference(1: TGetCrossReferenceReq req)
  TGetOperationStatusResp GetOperationStatus(1: TGetOperationStatusReq req)
  TCancelOperationResp CancelOperation(1: TCancelOperationReq req)
  TCloseOperationResp CloseOperation(1: TCloseOperationReq req)
  TGetResultSetMetadataResp GetResultSetMetadata(1: TGetResultSetMetadataReq req)
  TFetchResultsResp FetchResults(1: TFetchResultsReq req)
}
