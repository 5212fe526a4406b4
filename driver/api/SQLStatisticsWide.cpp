// The shared body of SQLStatistics and SQLStatisticsW.  Spark tables have no
// indexes; the answer is the table-statistics row alone (TYPE
// SQL_TABLE_STAT, everything else NULL), made by the driver so that no name
// ever becomes SQL text.
#include "core/spk_frame.h"
#include "results/spk_catalog.h"
#include "spk_api_catalog.h"

SQLRETURN SQLStatisticsWide(SpkStatement *stmt, const SpkString *catalog, const SpkString *schema,
                            const SpkString *table, int unique, int reserved) {
    if (spk_catalog_begin(stmt) != 0) return SQL_ERROR;
    if (unique != SQL_INDEX_UNIQUE && unique != SQL_INDEX_ALL)
        return spk_post_error(stmt, "HY100", 0, "Uniqueness option type out of range");
    if (reserved != SQL_ENSURE && reserved != SQL_QUICK)
        return spk_post_error(stmt, "HY101", 0, "Accuracy option type out of range");
    if (!table) return spk_post_error(stmt, "HY009", 0, "a table name is required");
    const SpkShapeColumn *cols = spk_statistics_columns;
    const int n = SPK_COUNT(spk_statistics_columns);
    tcli::TRowSet rows;
    spk_rows_init(&rows, cols, n);
    spk_rows_add_text(&rows, 1, catalog);
    spk_rows_add_text(&rows, 2, schema);
    spk_rows_add_text(&rows, 3, table);
    for (int c = 4; c <= n; c++) {
        if (c == 7)
            spk_rows_add_int(&rows, c, SQL_TABLE_STAT);
        else if (cols[c - 1].sql_type == SQL_VARCHAR)
            spk_rows_add_text(&rows, c, (const char *)nullptr);
        else
            spk_rows_add_int(&rows, c, 0, true);
    }
    return spk_catalog_open_local(stmt, cols, n, &rows) == 0 ? SQL_SUCCESS : SQL_ERROR;
}
