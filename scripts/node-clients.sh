#!/usr/bin/env bash
# Installs the Node.js client tests' packages (the npm odbc package, whose
# addon is compiled here against unixODBC's headers) into
# tests/clients/node/node_modules, at the versions in its package-lock.json.
# Idempotent: when the addon is installed at the wanted version and loads,
# npm is not run. Needs node, npm, make, g++, python3 and unixodbc-dev
# (scripts/install-deps.sh).
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
DIR="$ROOT/tests/clients/node"

log() { printf 'node-clients: %s\n' "$*"; }
die() { printf 'node-clients: error: %s\n' "$*" >&2; exit 1; }

for c in node npm make g++ python3; do
    command -v "$c" >/dev/null 2>&1 || die "$c not found (run scripts/install-deps.sh)"
done
[ -f /usr/include/sql.h ] || die "unixODBC headers missing (run scripts/install-deps.sh)"

# Exits 0 when node_modules has odbc at the version package.json names and its addon loads.
have_all() {
    (cd "$DIR" && node -e '
        const want = require("./package.json").dependencies.odbc;
        const got = require("odbc/package.json").version;
        if (got !== want) process.exit(1);
        require("odbc");' ) >/dev/null 2>&1
}

if have_all; then
    log "$DIR/node_modules is up to date (odbc $(cd "$DIR" && node -p 'require("odbc/package.json").version'))"
    exit 0
fi

# The addon is always built here (the package would otherwise try to download
# a prebuilt one). A Node.js that ships its headers under /usr/include/node
# is built against them rather than against downloaded ones.
export npm_config_build_from_source=true
ARGS=(--no-audit --no-fund --omit-lockfile-registry-resolved)
[ -f /usr/include/node/node_api.h ] && ARGS+=(--nodedir=/usr)
NPM_LOG="$ROOT/.cache/npm-install.log"
mkdir -p "$ROOT/.cache"
if [ -f "$DIR/package-lock.json" ]; then cmd=ci; else cmd=install; fi
log "npm $cmd in $DIR (compiles the odbc addon; log: $NPM_LOG)"
start=$(date +%s)
if ! (cd "$DIR" && npm "$cmd" "${ARGS[@]}") >"$NPM_LOG" 2>&1; then
    printf 'node-clients: error: npm %s failed; last lines of %s:\n' "$cmd" "$NPM_LOG" >&2
    tail -n 40 "$NPM_LOG" >&2
    exit 1
fi
have_all || die "npm finished but odbc does not load (see $NPM_LOG)"
log "done in $(( $(date +%s) - start )) s"
