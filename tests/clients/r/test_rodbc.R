# RODBC against the Spark server of TARN_SPARK_SASL_PORT: sqlSave creates a
# table from a data frame and inserts its rows, sqlTables and sqlColumns list
# them, sqlFetch reads back exactly the values saved.
#
#   TARN_DRIVER_PATH=.../libtarndrv.so TARN_SPARK_SASL_PORT=N Rscript test_rodbc.R
#
# Exits 77 (skipped) when no Spark port is given.
port <- Sys.getenv("TARN_SPARK_SASL_PORT")
if (!nzchar(port)) {
    cat("skipped: no Spark server (TARN_SPARK_SASL_PORT is not set)\n")
    quit(status = 77)
}
driver <- Sys.getenv("TARN_DRIVER_PATH")
if (!nzchar(driver)) stop("TARN_DRIVER_PATH is not set")
suppressPackageStartupMessages(library(RODBC))

# A private ODBC configuration registering the built driver; the Driver
# Manager reads it at the first connection.
ini <- tempfile("tarn-r-")
dir.create(ini)
writeLines(c("[tarndrv]", paste0("Driver=", driver)), file.path(ini, "odbcinst.ini"))
invisible(file.create(file.path(ini, "odbc.ini")))
Sys.setenv(ODBCSYSINI = ini, ODBCINSTINI = "odbcinst.ini", ODBCINI = file.path(ini, "odbc.ini"))

failures <- 0L
check <- function(what, got, want) {
    if (identical(got, want)) {
        cat("ok:", what, "\n")
    } else {
        failures <<- failures + 1L
        cat("FAILED:", what, "\n  got:  ", deparse(got), "\n  want: ", deparse(want), "\n")
    }
}

# RODBC quotes column names with '"' unless told otherwise, and Spark reads
# double-quoted text as a string: a Spark connection names its quote.
ch <- odbcDriverConnect(
    sprintf("Driver=tarndrv;Server=127.0.0.1;Port=%s;Authentication=NONE;UID=spark;PWD=spark", port),
    colQuote = "`")
if (!inherits(ch, "RODBC")) stop("odbcDriverConnect failed")
run <- function(sql) {
    r <- sqlQuery(ch, sql, errors = FALSE)
    if (identical(r, -1L)) stop(sql, ": ", paste(odbcGetErrMsg(ch), collapse = "\n"))
    invisible(r)
}

saved <- data.frame(
    id = c(1L, 2L, 3L, 4L, -2147483647L),
    amount = c(1.5, 0.1, 1 / 3, NA, -1e-300),
    label = c("it's", "Grüße, 日本 😀", NA, "", "back\\slash \"q\" '' ?"),
    stringsAsFactors = FALSE)

tryCatch({
    run("CREATE DATABASE IF NOT EXISTS tarn_rodbc")
    run("DROP TABLE IF EXISTS tarn_rodbc.saved")

    # A table of RODBC's making (types from SQLGetTypeInfo), rows through a
    # prepared INSERT with bound parameters.
    sqlSave(ch, saved, tablename = "tarn_rodbc.saved", rownames = FALSE)

    tables <- sqlTables(ch, schema = "tarn_rodbc")
    check("sqlTables lists the table",
          tables[, c("TABLE_SCHEM", "TABLE_NAME", "TABLE_TYPE")],
          data.frame(TABLE_SCHEM = "tarn_rodbc", TABLE_NAME = "saved", TABLE_TYPE = "TABLE"))

    columns <- sqlColumns(ch, "saved", schema = "tarn_rodbc")
    check("sqlColumns lists the columns with their types",
          columns[, c("COLUMN_NAME", "DATA_TYPE", "TYPE_NAME", "COLUMN_SIZE", "ORDINAL_POSITION")],
          data.frame(COLUMN_NAME = c("id", "amount", "label"), DATA_TYPE = c(4L, 8L, 12L),
                     TYPE_NAME = c("INT", "DOUBLE", "VARCHAR(255)"), COLUMN_SIZE = c(10L, 15L, 255L),
                     ORDINAL_POSITION = 1:3))

    fetched <- sqlFetch(ch, "tarn_rodbc.saved")
    fetched <- fetched[order(fetched$id), ]
    rownames(fetched) <- NULL
    want <- saved[order(saved$id), ]
    rownames(want) <- NULL
    check("sqlFetch reads back the rows saved", fetched, want)

    # A saved data frame appended to, read back through a query.
    sqlSave(ch, data.frame(id = 5L, amount = 2.5, label = "appended"), tablename = "tarn_rodbc.saved",
            rownames = FALSE, append = TRUE)
    check("sqlSave appends",
          run("SELECT id, amount, label FROM tarn_rodbc.saved WHERE id >= 5"),
          data.frame(id = 5L, amount = 2.5, label = "appended"))
}, finally = {
    sqlQuery(ch, "DROP DATABASE IF EXISTS tarn_rodbc CASCADE")
    odbcClose(ch)
    unlink(ini, recursive = TRUE)
})

if (failures > 0L) {
    cat(failures, "check(s) failed\n")
    quit(status = 1)
}
