#!/usr/bin/env bash
# Creates the Python environment used by the integration tests and the real
# Spark Thrift server: pyspark (bundles spark-submit and every jar the Thrift
# server needs), pyodbc, pytest and pandas.
#
#   scripts/venv.sh                                    -> <repo>/.venv, pyspark $PYSPARK_VERSION
#   SPARK_VENV=.venv-spark35 PYSPARK_VERSION=3.5.8 scripts/venv.sh
#
# Environment:
#   PYSPARK_VERSION  pyspark release to install (default below; 4.x and 3.5.x run on Java 17)
#   SPARK_VENV       venv directory, relative to the repo root or absolute (default .venv)
#   PYTHON           interpreter used to create the venv (default python3)
#
# Idempotent: when the venv already has the requested versions, pip is not run.
# The first pyspark install builds a wheel from a ~450 MB source package and
# takes a few minutes; pip's cache makes later installs much faster.
set -euo pipefail

PYSPARK_VERSION="${PYSPARK_VERSION:-4.3.0}"

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
VENV_NAME="${SPARK_VENV:-.venv}"
case "$VENV_NAME" in
    /*) VENV="$VENV_NAME" ;;
    *)  VENV="$ROOT/$VENV_NAME" ;;
esac
PYTHON="${PYTHON:-python3}"

log() { printf 'venv: %s\n' "$*"; }
die() { printf 'venv: error: %s\n' "$*" >&2; exit 1; }

command -v "$PYTHON" >/dev/null 2>&1 || die "$PYTHON not found (run scripts/install-deps.sh)"

# A venv whose interpreter no longer runs (moved, or its base python is gone) is rebuilt.
if [ -e "$VENV" ] && ! "$VENV/bin/python" -c 'import sys' >/dev/null 2>&1; then
    log "removing broken venv $VENV"
    rm -rf "$VENV"
fi

if [ ! -x "$VENV/bin/python" ]; then
    log "creating $VENV with $(command -v "$PYTHON") ($("$PYTHON" --version 2>&1))"
    "$PYTHON" -m venv "$VENV" || die "'$PYTHON -m venv' failed (Debian: apt-get install python3-venv)"
fi

# Prints nothing and exits 0 when everything wanted is installed at the wanted version.
have_all() {
    "$VENV/bin/python" - "$PYSPARK_VERSION" <<'EOF' >/dev/null 2>&1
import sys
from importlib.metadata import version, PackageNotFoundError
try:
    ok = version("pyspark") == sys.argv[1]
    version("pyodbc"); version("pytest"); version("py4j"); version("pandas")
except PackageNotFoundError:
    ok = False
sys.exit(0 if ok else 1)
EOF
}

if have_all; then
    log "$VENV is up to date (pyspark $PYSPARK_VERSION, pyodbc, pytest, pandas)"
    exit 0
fi

PIP_LOG="$VENV/pip-install.log"
log "installing pyspark==$PYSPARK_VERSION pyodbc pytest pandas into $VENV (first pyspark build takes minutes; log: $PIP_LOG)"
start=$(date +%s)
if ! "$VENV/bin/python" -m pip install --disable-pip-version-check --no-input \
        "pyspark==$PYSPARK_VERSION" pyodbc pytest pandas >"$PIP_LOG" 2>&1; then
    printf 'venv: error: pip install failed; last lines of %s:\n' "$PIP_LOG" >&2
    tail -n 40 "$PIP_LOG" >&2
    exit 1
fi
have_all || die "pip finished but the installed versions do not match (see $PIP_LOG)"
log "done in $(( $(date +%s) - start )) s: $("$VENV/bin/python" -m pip list --disable-pip-version-check 2>/dev/null \
    | awk '$1=="pyspark"||$1=="pyodbc"||$1=="pytest"||$1=="pandas"{printf "%s %s  ", $1, $2}')"
