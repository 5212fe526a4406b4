#!/usr/bin/env bash
# The fetch benchmark against a real Spark Thrift server: builds the driver
# without sanitizers (build-perf/), starts a NOSASL server, runs bench_spark.
#   scripts/bench-spark.sh [rows (default 1000000) [runs (default 3) [ways]]]
# (ways: which to run, by their numbers in the table, say 34; all by default)
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
"$ROOT/scripts/install-deps.sh" >/dev/null
"$ROOT/scripts/venv.sh" >/dev/null
TARN_BUILD_TARGETS="tarndrv bench_spark" "$ROOT/scripts/build.sh" build-perf
PORT="$("$ROOT/scripts/spark-server.sh" start nosasl)"
"$ROOT/build-perf/bench/bench_spark" "$PORT" "${1:-1000000}" "${2:-3}" ${3:+"$3"}
