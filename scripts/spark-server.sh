#!/usr/bin/env bash
# Runs a real Spark Thrift server (from the pyspark venv) on loopback for tests.
#
#   scripts/spark-server.sh start  MODE   start (or find) the server, print its port on stdout
#   scripts/spark-server.sh stop   MODE   stop it
#   scripts/spark-server.sh status MODE   print "MODE running pid N port P" (exit 0) or "MODE stopped" (exit 1)
#   scripts/spark-server.sh port   MODE   print the port (exit 1 when not running)
#
# MODE:
#   sasl    binary transport, authentication NONE (SASL PLAIN, any non-empty user/password)
#   nosasl  binary transport, authentication NOSASL (no SASL, no frames)
#   http    HTTP transport, path cliservice, Basic authentication with any non-empty user/password
#   tls     like sasl, over TLS; certificates from scripts/gen-tls.sh in .spark/tls-pki
#           (clients trust .spark/tls-pki/ca.pem; the certificate names localhost and 127.0.0.1)
#   httptls like http, over TLS (HTTPS), with the same certificates as tls
#   all     (stop and status only) every mode
#
# Environment:
#   SPARK_VENV           venv with pyspark, relative to the repo root or absolute (default .venv)
#   SPARK_HOST           address to listen on (default 127.0.0.1)
#   SPARK_PORT           port to use (default: a free port chosen at start)
#   SPARK_START_TIMEOUT  seconds to wait for the server (default 180)
#   SPARK_DRIVER_MEMORY  JVM heap (default 1g; idle servers use ~300-400 MB whatever the heap)
#
# State of each mode lives in <repo>/.spark/MODE/ (server.log, pid, port, metastore,
# warehouse, scratch); a start begins from an empty metastore and warehouse. One server
# per mode at a time, whichever venv it comes from.
# Servers run in their own session and outlive the caller: stop them (e.g. `stop all`
# from an EXIT trap). The HTTP listener binds every interface whatever SPARK_HOST says.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
VENV_NAME="${SPARK_VENV:-.venv}"
case "$VENV_NAME" in
    /*) VENV="$VENV_NAME" ;;
    *)  VENV="$ROOT/$VENV_NAME" ;;
esac
HOST="${SPARK_HOST:-127.0.0.1}"
TIMEOUT="${SPARK_START_TIMEOUT:-180}"
DRIVER_MEMORY="${SPARK_DRIVER_MEMORY:-1g}"
STATE_ROOT="$ROOT/.spark"
ALL_MODES=(sasl nosasl http tls httptls kerberos)

log() { printf 'spark-server: %s\n' "$*" >&2; }
die() { printf 'spark-server: error: %s\n' "$*" >&2; exit 1; }

usage() {
    echo "usage: $0 start|stop|status|port sasl|nosasl|http|tls|httptls|kerberos   (stop/status also accept 'all')" >&2
    exit 2
}

# --- process bookkeeping -----------------------------------------------------

# Prints the pid of the mode's server when it is running (and is really ours).
running_pid() {
    local dir="$STATE_ROOT/$1" pid
    [ -s "$dir/pid" ] || return 1
    pid="$(cat "$dir/pid")"
    case "$pid" in ''|*[!0-9]*) return 1 ;; esac
    kill -0 "$pid" 2>/dev/null || return 1
    # Guard against pid reuse: the process must be this mode's Thrift server.
    local cmdline
    cmdline="$(tr '\0' ' ' <"/proc/$pid/cmdline" 2>/dev/null)" || return 1
    case "$cmdline" in
        *"-Dtarn.spark.state=$dir "*) echo "$pid" ;;
        *) return 1 ;;
    esac
}

port_open() {
    local host="$1" port="$2"
    (exec 3<>"/dev/tcp/$host/$port") 2>/dev/null
}

free_port() {
    python3 - "$HOST" <<'EOF'
import socket, sys
s = socket.socket(socket.AF_INET6 if ":" in sys.argv[1] else socket.AF_INET)
s.bind((sys.argv[1], 0))
print(s.getsockname()[1])
s.close()
EOF
}

# Kills the process group led by $1 and waits for it to go away.
kill_group() {
    local pid="$1"
    kill -TERM -- "-$pid" 2>/dev/null || kill -TERM "$pid" 2>/dev/null || true
    for _ in $(seq 1 60); do
        kill -0 "$pid" 2>/dev/null || return 0
        sleep 0.5
    done
    log "pid $pid did not stop after SIGTERM, sending SIGKILL"
    kill -KILL -- "-$pid" 2>/dev/null || kill -KILL "$pid" 2>/dev/null || true
    for _ in $(seq 1 20); do
        kill -0 "$pid" 2>/dev/null || return 0
        sleep 0.5
    done
    return 1
}

# Shows why a start failed: the first error lines of the log, then its tail.
show_log() {
    local file="$1"
    [ -f "$file" ] || { log "no log at $file"; return 0; }
    if grep -q -E ' ERROR |Exception' "$file"; then
        log "first errors in $file:"
        grep -E ' ERROR |Exception' "$file" | head -n 10 >&2 || true
    fi
    log "last lines of $file:"
    tail -n 30 "$file" >&2 || true
}

# --- commands ----------------------------------------------------------------

cmd_port() {
    local mode="$1" pid
    pid="$(running_pid "$mode")" || return 1
    [ -s "$STATE_ROOT/$mode/port" ] || return 1
    cat "$STATE_ROOT/$mode/port"
}

cmd_status() {
    local mode="$1" pid
    if pid="$(running_pid "$mode")"; then
        echo "$mode running pid $pid port $(cat "$STATE_ROOT/$mode/port" 2>/dev/null)"
    else
        echo "$mode stopped"
        return 1
    fi
}

cmd_stop() {
    local mode="$1" dir="$STATE_ROOT/$1" pid
    if pid="$(running_pid "$mode")"; then
        log "stopping $mode (pid $pid)"
        kill_group "$pid" || die "could not stop $mode (pid $pid)"
    else
        log "$mode is not running"
    fi
    rm -f "$dir/pid" "$dir/port"
    if [ "$mode" = kerberos ] && [ -d "$STATE_ROOT/kerberos-kdc" ]; then
        bash "$ROOT/scripts/kdc.sh" stop "$STATE_ROOT/kerberos-kdc"
    fi
}

check_java() {
    local java="java" out ver major
    if [ -n "${JAVA_HOME:-}" ] && [ -x "$JAVA_HOME/bin/java" ]; then
        java="$JAVA_HOME/bin/java"
    elif ! command -v java >/dev/null 2>&1; then
        die "java not found: the Spark Thrift server needs Java 17 or later (run scripts/install-deps.sh)"
    fi
    out="$("$java" -version 2>&1)" || die "'$java -version' failed"
    ver="$(printf '%s\n' "$out" | awk -F'"' '/version/ {print $2; exit}')"
    major="${ver%%.*}"
    case "$major" in ''|*[!0-9]*) die "cannot read the Java version from '$java -version'" ;; esac
    [ "$major" -ge 17 ] || die "Java $ver is too old: Spark needs Java 17 or later (run scripts/install-deps.sh)"
}

cmd_start() {
    local mode="$1" dir="$STATE_ROOT/$1" pid port
    if port="$(cmd_port "$mode")"; then
        log "$mode already running on $HOST:$port"
        echo "$port"
        return 0
    fi
    if pid="$(running_pid "$mode")"; then
        die "$mode is being started by another call (pid $pid); see $dir/server.log"
    fi

    check_java
    [ -x "$VENV/bin/spark-submit" ] \
        || die "$VENV/bin/spark-submit not found (run scripts/venv.sh${SPARK_VENV:+ with SPARK_VENV=$SPARK_VENV})"
    command -v setsid >/dev/null 2>&1 || die "setsid not found (util-linux)"

    # Fresh state for every start.
    rm -rf "$dir"
    mkdir -p "$dir/tmp" "$dir/scratch" "$dir/resources" "$dir/oplogs"

    if [ -n "${SPARK_PORT:-}" ]; then
        port="$SPARK_PORT"
        case "$port" in ''|*[!0-9]*) die "SPARK_PORT must be a port number, not '$port'" ;; esac
        port_open "$HOST" "$port" && die "port $HOST:$port is already in use"
    else
        port="$(free_port)"
    fi

    local hiveconf=(
        --hiveconf "hive.server2.thrift.bind.host=$HOST"
        --hiveconf "hive.exec.scratchdir=$dir/scratch"
        --hiveconf "hive.exec.local.scratchdir=$dir/scratch"
        --hiveconf "hive.downloaded.resources.dir=$dir/resources"
        --hiveconf "hive.server2.logging.operation.log.location=$dir/oplogs"
    )
    local ready_re extra_java=""
    local extra_conf=()
    case "$mode" in
        sasl)
            hiveconf+=(--hiveconf hive.server2.authentication=NONE
                       --hiveconf "hive.server2.thrift.port=$port")
            ready_re='Starting ThriftBinaryCLIService on port' ;;
        nosasl)
            hiveconf+=(--hiveconf hive.server2.authentication=NOSASL
                       --hiveconf "hive.server2.thrift.port=$port")
            ready_re='Starting ThriftBinaryCLIService on port' ;;
        http)
            hiveconf+=(--hiveconf hive.server2.authentication=NONE
                       --hiveconf hive.server2.transport.mode=http
                       --hiveconf "hive.server2.thrift.http.port=$port"
                       --hiveconf hive.server2.thrift.http.path=cliservice)
            ready_re='Started ThriftHttpCLIService in http mode on port' ;;
        tls|httptls)
            local pki="$STATE_ROOT/tls-pki"
            # Two modes starting at once must not both write the certificates.
            ( flock 9; bash "$ROOT/scripts/gen-tls.sh" "$pki" >&2 ) 9>"$STATE_ROOT/.tls-pki.lock" \
                || die "scripts/gen-tls.sh failed"
            hiveconf+=(--hiveconf hive.server2.authentication=NONE
                       --hiveconf hive.server2.use.SSL=true
                       --hiveconf "hive.server2.keystore.path=$pki/server.p12"
                       --hiveconf "hive.server2.keystore.password=$(cat "$pki/password")")
            if [ "$mode" = tls ]; then
                hiveconf+=(--hiveconf "hive.server2.thrift.port=$port")
                ready_re='Starting ThriftBinaryCLIService on port'
            else
                hiveconf+=(--hiveconf hive.server2.transport.mode=http
                           --hiveconf "hive.server2.thrift.http.port=$port"
                           --hiveconf hive.server2.thrift.http.path=cliservice)
                ready_re='Started ThriftHttpCLIService in https mode on port'
            fi ;;
        kerberos)
            # Kerberos logons against a private realm: the one named by
            # TARN_KRB5_ENV (an env file written by scripts/kdc.sh), or one
            # started here and stopped with the server.
            local krb_env="${TARN_KRB5_ENV:-}"
            if [ -z "$krb_env" ]; then
                bash "$ROOT/scripts/kdc.sh" start "$STATE_ROOT/kerberos-kdc" >/dev/null || die "scripts/kdc.sh failed"
                krb_env="$STATE_ROOT/kerberos-kdc/env"
            fi
            [ -f "$krb_env" ] || die "no KDC env file at $krb_env"
            local KRB5_CONFIG TARN_KRB5_SERVICE TARN_KRB5_KEYTAB
            KRB5_CONFIG="$(sed -n 's/^KRB5_CONFIG=//p' "$krb_env")"
            TARN_KRB5_SERVICE="$(sed -n 's/^TARN_KRB5_SERVICE=//p' "$krb_env")"
            TARN_KRB5_KEYTAB="$(sed -n 's/^TARN_KRB5_KEYTAB=//p' "$krb_env")"
            cp "$krb_env" "$dir/krb5.env"
            extra_conf+=(--conf spark.hadoop.hadoop.security.authentication=kerberos)
            extra_java="-Djava.security.krb5.conf=$KRB5_CONFIG"
            hiveconf+=(--hiveconf hive.server2.authentication=KERBEROS
                       --hiveconf "hive.server2.authentication.kerberos.principal=$TARN_KRB5_SERVICE"
                       --hiveconf "hive.server2.authentication.kerberos.keytab=$TARN_KRB5_KEYTAB"
                       --hiveconf hive.server2.thrift.sasl.qop=auth
                       --hiveconf "hive.server2.thrift.port=$port")
            ready_re='Starting ThriftBinaryCLIService on port' ;;
    esac

    # pyspark's own launcher looks for SPARK_HOME with whatever python3 comes first
    # on PATH; name it explicitly so the venv's copy is the one used.
    local spark_home version
    spark_home="$("$VENV/bin/python" -c 'import os, pyspark; print(os.path.dirname(pyspark.__file__))')" \
        || die "pyspark cannot be imported in $VENV (run scripts/venv.sh)"
    version="$("$VENV/bin/python" -c 'import pyspark; print(pyspark.__version__)')"
    [ -x "$spark_home/bin/spark-submit" ] || die "$spark_home/bin/spark-submit not found"

    log "starting $mode on $HOST:$port (pyspark $version, log $dir/server.log)"
    local t0; t0=$(date +%s)
    (
        cd "$dir"
        export SPARK_HOME="$spark_home" PATH="$VENV/bin:$PATH" SPARK_LOCAL_IP=127.0.0.1
        exec setsid nohup "$spark_home/bin/spark-submit" \
            --master 'local[2]' \
            --class org.apache.spark.sql.hive.thriftserver.HiveThriftServer2 \
            --name "tarndrv-test-$mode" \
            --driver-memory "$DRIVER_MEMORY" \
            --conf spark.ui.enabled=false \
            --conf spark.driver.bindAddress=127.0.0.1 \
            --conf spark.driver.host=127.0.0.1 \
            --conf "spark.local.dir=$dir/tmp" \
            --conf spark.sql.shuffle.partitions=4 \
            --conf "spark.sql.warehouse.dir=$dir/warehouse" \
            --conf "spark.hadoop.javax.jdo.option.ConnectionURL=jdbc:derby:;databaseName=$dir/metastore_db;create=true" \
            --driver-java-options "-Dderby.system.home=$dir -Djava.io.tmpdir=$dir/tmp -Dtarn.spark.state=$dir $extra_java" \
            ${extra_conf[@]+"${extra_conf[@]}"} \
            "${hiveconf[@]}" \
            >"$dir/server.log" 2>&1 </dev/null
    ) &
    pid=$!
    echo "$pid" >"$dir/pid"

    local deadline=$(( t0 + TIMEOUT ))
    while :; do
        if ! kill -0 "$pid" 2>/dev/null; then
            log "$mode server exited during startup"
            show_log "$dir/server.log"
            rm -f "$dir/pid"
            exit 1
        fi
        if grep -q "$ready_re" "$dir/server.log" 2>/dev/null && port_open "$HOST" "$port"; then
            break
        fi
        if [ "$(date +%s)" -ge "$deadline" ]; then
            log "$mode server not ready after $TIMEOUT s"
            show_log "$dir/server.log"
            kill_group "$pid" || true
            rm -f "$dir/pid"
            exit 1
        fi
        sleep 1
    done
    echo "$port" >"$dir/port"
    log "$mode ready on $HOST:$port after $(( $(date +%s) - t0 )) s (pid $pid)"
    echo "$port"
}

# --- main ----------------------------------------------------------------------

[ $# -eq 2 ] || usage
action="$1"
mode="$2"
case "$mode" in
    sasl|nosasl|http|tls|httptls|kerberos) modes=("$mode") ;;
    all) case "$action" in stop|status) modes=("${ALL_MODES[@]}") ;; *) usage ;; esac ;;
    *) usage ;;
esac

rc=0
for m in "${modes[@]}"; do
    case "$action" in
        start)  cmd_start "$m" ;;
        stop)   cmd_stop "$m" ;;
        status) cmd_status "$m" || rc=1 ;;
        port)   cmd_port "$m" || { log "$m is not running"; rc=1; } ;;
        *) usage ;;
    esac
done
exit "$rc"
