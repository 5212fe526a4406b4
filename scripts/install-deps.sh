#!/usr/bin/env bash
# Installs the Debian 12 packages needed to build and test the driver.
# Idempotent: when every package is already installed, apt is not run at all.
# Runs as root; uses sudo otherwise.
set -euo pipefail

PACKAGES=(
    g++ cmake ninja-build pkg-config ccache
    libthrift-dev thrift-compiler libboost-dev
    unixodbc unixodbc-dev odbcinst
    libssl-dev openssl libkrb5-dev libgtest-dev
    krb5-kdc krb5-admin-server krb5-user
    qt6-base-dev
    xvfb xauth dpkg-dev file
    python3-venv
    r-base-core r-cran-rodbc
    make python3
)

log() { printf 'install-deps: %s\n' "$*"; }

# The Spark Thrift server only needs a Java runtime (17 or later); any one on PATH will do.
java_major() {
    local out ver
    out="$(java -version 2>&1)" || return 1
    ver="$(printf '%s\n' "$out" | awk -F'"' '/version/ {print $2; exit}')"
    printf '%s\n' "${ver%%.*}"
}
check_java_on_path() {
    local m
    m="$(java_major || true)"
    case "$m" in
        ''|*[!0-9]*|?) echo "install-deps: warning: java on PATH is not Java 17 or later (see update-alternatives --config java)" >&2 ;;
        *) [ "$m" -ge 17 ] || echo "install-deps: warning: java on PATH is Java $m; Spark needs 17 or later (see update-alternatives --config java)" >&2 ;;
    esac
}
if command -v java >/dev/null 2>&1; then
    major="$(java_major || true)"
    log "java found: $(java -version 2>&1 | head -n 1)"
    case "$major" in
        ''|*[!0-9]*|?) PACKAGES+=(openjdk-17-jre-headless) ;;   # unreadable, or 1.x
        *) [ "$major" -ge 17 ] || PACKAGES+=(openjdk-17-jre-headless) ;;
    esac
else
    PACKAGES+=(openjdk-17-jre-headless)
fi

# Node.js and npm (the npm odbc client builds its addon with make, g++ and
# python3 against unixodbc-dev). A Node.js that bundles npm (the NodeSource
# package) conflicts with Debian's npm, so the two are added only when either
# command is missing.
if ! command -v node >/dev/null 2>&1 || ! command -v npm >/dev/null 2>&1; then
    PACKAGES+=(nodejs npm)
fi

missing=()
for p in "${PACKAGES[@]}"; do
    status="$(dpkg-query -W -f='${db:Status-Abbrev}' "$p" 2>/dev/null || true)"
    case "$status" in
        ii*) ;;
        *) missing+=("$p") ;;
    esac
done

if [ "${#missing[@]}" -eq 0 ]; then
    log "all ${#PACKAGES[@]} packages already installed"
    check_java_on_path
    exit 0
fi

SUDO=()
if [ "$(id -u)" -ne 0 ]; then
    command -v sudo >/dev/null 2>&1 || { echo "install-deps: error: not root and no sudo" >&2; exit 1; }
    SUDO=(sudo)
fi

export DEBIAN_FRONTEND=noninteractive
log "missing: ${missing[*]}"
log "running apt-get update"
"${SUDO[@]}" apt-get update -q
log "running apt-get install -y --no-install-recommends ${missing[*]}"
"${SUDO[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"

if ! command -v java >/dev/null 2>&1; then
    echo "install-deps: error: java still not on PATH after installing openjdk-17-jre-headless" >&2
    exit 1
fi
check_java_on_path
log "done"
