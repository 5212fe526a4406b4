// The shape of a catalog result: the columns an ODBC application expects
// (names, order, SQL types), each read from a column of the server's result,
// computed from the server's row, or absent (NULL).  The shape sits over the
// server's row sets as they arrive: nothing is copied per row.  It may also
// pass over server rows (the same function listed once per database).
#pragma once

#include <cstdint>
#include <string>
#include <unordered_set>
#include <vector>

#include "TCLIService_types.h"
#include "spk_handles.h"
#include "spk_value.h"

// How a presented column gets its value.
enum SpkShapeRule {
    SPK_SHAPE_COPY = 0,       // the server column `source` as it is (NULL when `source` is 0)
    SPK_SHAPE_NULL_IF_EMPTY,  // the server column, an empty text as NULL
    SPK_SHAPE_CONSTANT,       // the number `constant`
    // SQLColumns: from the server's TYPE_NAME, DATA_TYPE, COLUMN_SIZE and
    // DECIMAL_DIGITS, through the same mapping the result description uses.
    SPK_SHAPE_DATA_TYPE,
    SPK_SHAPE_COLUMN_SIZE,
    SPK_SHAPE_BUFFER_LENGTH,
    SPK_SHAPE_DECIMAL_DIGITS,
    SPK_SHAPE_RADIX,
    SPK_SHAPE_SQL_DATA_TYPE,
    SPK_SHAPE_DATETIME_SUB,
    SPK_SHAPE_CHAR_OCTET_LENGTH,
    SPK_SHAPE_ORDINAL,        // the server's position, made 1-based
    SPK_SHAPE_IS_NULLABLE,    // "NO", "YES" or "" from the server's NULLABLE in `source`
};

struct SpkShapeColumn {
    const char *name;
    int sql_type;             // SQL_VARCHAR, SQL_SMALLINT or SQL_INTEGER
    int rule;
    int source;               // 1-based server column, 0 for none
    int64_t constant;
};

// Where SQLColumns finds the type of a column in the server's row (1-based).
struct SpkColumnsSource {
    int data_type = 5, type_name = 6, column_size = 7, decimal_digits = 9, ordinal = 17;
};

struct SpkResultShape {
    std::vector<SpkShapeColumn> columns;
    int server_columns = 0;       // the server's rows must have at least these
    int32_t col_length = 256;     // the connection's default string length
    bool odbc2 = false;           // ODBC 2 date and time codes
    SpkColumnsSource types;
    // Rows whose text in server column `unique_source` was seen before are
    // passed over (0: every row is presented).
    int unique_source = 0;
    std::unordered_set<std::string> seen;
    int ordinal_base = -1;        // the server's first position (0 or 1); -1 until known
};

// The shape of an ODBC result: `count` columns, each read from the server
// column of the same position.
void spk_shape_init(SpkResultShape *shape, const SpkShapeColumn *columns, int count);
// The server columns the shape reads.
int spk_shape_server_columns(const SpkOperation *op);
// The value of presented column `column` (1-based) in the current row.
void spk_shape_value(SpkOperation *op, int column, SpkValue *out);
// Whether the current row is presented (false: pass over it).
bool spk_shape_accept_row(SpkOperation *op);
// The server's result schema for the shape's presented columns (what the
// result description is filled from).
void spk_shape_schema(const SpkShapeColumn *columns, int count, tcli::TTableSchema *schema);

// The Spark type named by a server type name ("DECIMAL(10,2)", "VARCHAR(20)",
// "ARRAY<INT>", "INTERVAL DAY TO SECOND", "TIMESTAMP_NTZ"), as a TTypeId with
// its qualifiers; false when the name is not one the driver knows.
struct SpkTypeName {
    int32_t type_id;
    int32_t precision, scale, length;   // -1 when the name gives none
};
bool spk_parse_type_name(const char *text, size_t length, SpkTypeName *out);
// The TTypeId for a JDBC type code (java.sql.Types), or -1.
int32_t spk_type_id_of_jdbc(int64_t jdbc_type);
