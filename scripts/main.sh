#!/usr/bin/env bash
# The main job: builds the driver, registers it and a DSN in a private ODBC
# configuration under .odbc/, starts a local Spark Thrift server (unless
# TARN_SERVER names another one) and runs a query through isql.
#   TARN_SERVER=host TARN_PORT=10000 TARN_AUTH=NONE scripts/main.sh
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$ROOT"

"$ROOT/scripts/install-deps.sh"
"$ROOT/scripts/venv.sh"
TARN_BUILD_TARGETS="tarndrv" "$ROOT/scripts/build.sh" build

if [ -n "${TARN_SERVER:-}" ]; then
    SERVER="$TARN_SERVER"; PORT="${TARN_PORT:-10000}"; AUTH="${TARN_AUTH:-NONE}"
else
    SERVER=127.0.0.1; AUTH=NONE
    PORT="$("$ROOT/scripts/spark-server.sh" start sasl)"
    echo "local Spark Thrift server on 127.0.0.1:$PORT (stop it with: scripts/spark-server.sh stop sasl)"
fi
eval "$("$ROOT/scripts/register-driver.sh" "$ROOT/build" tarn "$SERVER" "$PORT" "$AUTH")"
echo "driver registered in $ODBCSYSINI; DSN 'tarn' -> $SERVER:$PORT"
odbcinst -q -d

"$ROOT/.venv/bin/python" - <<'PY'
import pyodbc
conn = pyodbc.connect("DSN=tarn", autocommit=True)
print("connected to", conn.getinfo(pyodbc.SQL_DBMS_NAME), conn.getinfo(pyodbc.SQL_DBMS_VER))
conn.close()
PY
QUERY="${TARN_QUERY:-SELECT CAST('hello from spark' AS VARCHAR(20)) AS greeting, CAST(version() AS VARCHAR(50)) AS spark_version, 6 * 7 AS answer, current_date() AS today}"
echo "$QUERY" | isql -b -v tarn
