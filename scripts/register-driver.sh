#!/usr/bin/env bash
# Registers the built driver and a DSN in a private ODBC configuration under
# the project (.odbc/), never in /etc or $HOME.  Prints the environment lines
# that point unixODBC at it.
#   scripts/register-driver.sh BUILD_DIR [DSN SERVER PORT AUTH]
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD_DIR="${1:-$ROOT/build}"
DSN="${2:-tarn}"
SERVER="${3:-127.0.0.1}"
PORT="${4:-10000}"
AUTH="${5:-NONE}"
ODBC_DIR="$ROOT/.odbc"
mkdir -p "$ODBC_DIR"
LIB="$(cd "$BUILD_DIR" && pwd)/libtarndrv.so"
SETUP="$(cd "$BUILD_DIR" && pwd)/setup/libtarndrvs.so"
{
  echo "[tarndrv]"
  echo "Description=ODBC driver for Apache Spark SQL"
  echo "Driver=$LIB"
  if [ -f "$SETUP" ]; then echo "Setup=$SETUP"; fi
} >"$ODBC_DIR/odbcinst.ini"
cat >"$ODBC_DIR/odbc.ini" <<INI
[$DSN]
Driver=tarndrv
Description=Spark Thrift server
SERVER=$SERVER
Port=$PORT
Authentication=$AUTH
User=${TARN_USER:-spark}
Password=${TARN_PASSWORD:-spark}
INI
echo "export ODBCSYSINI=$ODBC_DIR ODBCINSTINI=odbcinst.ini ODBCINI=$ODBC_DIR/odbc.ini"
