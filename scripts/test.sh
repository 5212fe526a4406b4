#!/usr/bin/env bash
# Every test: installs what is missing, builds with AddressSanitizer and
# UndefinedBehaviorSanitizer, starts one real Spark Thrift server per mode
# (shared by all tests), runs ctest, stops the servers.
#   TARN_TEST_LABELS=unit scripts/test.sh     only some labels (regex; "windows"
#                                             is the Windows build under Wine)
#   TARN_WINDOWS_TESTS=0 scripts/test.sh       without the Windows build
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$ROOT"
START=$(date +%s)

"$ROOT/scripts/install-deps.sh"
"$ROOT/scripts/venv.sh"
"$ROOT/scripts/node-clients.sh"
"$ROOT/scripts/build.sh" build-test -DTARN_SANITIZE=ON

MODES=(sasl nosasl http tls httptls kerberos)
stop_servers() {
    for m in "${MODES[@]}"; do "$ROOT/scripts/spark-server.sh" stop "$m" >/dev/null 2>&1 || true; done
}
trap stop_servers EXIT

LABELS="${TARN_TEST_LABELS:-.}"
# The Windows build under Wine (TARN_WINDOWS_TESTS=0 leaves it out) runs
# against the same Spark servers.
WINDOWS=0
if [ "${TARN_WINDOWS_TESTS:-1}" != 0 ] && echo windows | grep -Eq "$LABELS"; then WINDOWS=1; fi
if echo spark | grep -Eq "$LABELS" || [ "$WINDOWS" = 1 ]; then
    # The servers start one after another (each takes a core while it boots).
    export TARN_SPARK_SASL_PORT TARN_SPARK_NOSASL_PORT TARN_SPARK_HTTP_PORT TARN_SPARK_TLS_PORT \
        TARN_SPARK_HTTPTLS_PORT TARN_SPARK_CA
    TARN_SPARK_SASL_PORT="$("$ROOT/scripts/spark-server.sh" start sasl)"
    TARN_SPARK_NOSASL_PORT="$("$ROOT/scripts/spark-server.sh" start nosasl)"
    TARN_SPARK_HTTP_PORT="$("$ROOT/scripts/spark-server.sh" start http)"
    TARN_SPARK_TLS_PORT="$("$ROOT/scripts/spark-server.sh" start tls)"
    TARN_SPARK_HTTPTLS_PORT="$("$ROOT/scripts/spark-server.sh" start httptls)"
    TARN_SPARK_CA="$ROOT/.spark/tls-pki/ca.pem"   # both TLS modes' certificates come from it
    # Kerberos mode runs with a private KDC of its own (stopped with the server).
    export TARN_SPARK_KERBEROS_PORT TARN_SPARK_KERBEROS_ENV="$ROOT/.spark/kerberos/krb5.env"
    TARN_SPARK_KERBEROS_PORT="$("$ROOT/scripts/spark-server.sh" start kerberos)"
    echo "spark servers: sasl=$TARN_SPARK_SASL_PORT nosasl=$TARN_SPARK_NOSASL_PORT http=$TARN_SPARK_HTTP_PORT" \
         "tls=$TARN_SPARK_TLS_PORT httptls=$TARN_SPARK_HTTPTLS_PORT kerberos=$TARN_SPARK_KERBEROS_PORT"
fi

export ASAN_OPTIONS="detect_leaks=1:abort_on_error=0:strict_string_checks=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
# Clients that are not built with the sanitizers (python, isql) load the
# instrumented driver with the runtime preloaded.
export TARN_ASAN_PRELOAD="$(gcc -print-file-name=libasan.so):$(gcc -print-file-name=libubsan.so)"

cd "$ROOT/build-test"
ctest --output-on-failure -L "$LABELS" -j 2 --timeout 600

# The Windows build (mingw-w64) and its tests under Wine.  OpenSSL and Thrift
# for Windows are built once per machine (4 to 9 minutes on 2 cores); the
# driver then takes about 5 minutes, or seconds when ccache has it, and the
# tests under Wine less than a minute.
if [ "$WINDOWS" = 1 ]; then
    "$ROOT/scripts/windows.sh" build
    "$ROOT/scripts/windows.sh" test
fi

# The tests that run statements of one connection on several threads, once
# more under ThreadSanitizer (the driver is rebuilt with it too).
if echo odbc | grep -Eq "$LABELS"; then
    TSAN_TARGETS="odbc_test_exec odbc_test_fetch odbc_test_lifecycle unit_test_log unit_test_protocol_connect"
    TARN_BUILD_TARGETS="$TSAN_TARGETS" "$ROOT/scripts/build.sh" build-tsan -DTARN_TSAN=ON -DCMAKE_BUILD_TYPE=Debug
    cd "$ROOT/build-tsan"
    TSAN_OPTIONS="halt_on_error=1" ctest --output-on-failure -j 2 --timeout 600 \
        -R '^(Execute|Cancel|Connection|Describe|Fetch|Lifecycle|LogRing|LogTest|Protocol)'
fi
echo "test run took $(( $(date +%s) - START )) s"
