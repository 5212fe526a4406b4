#!/usr/bin/env bash
# The Windows build of the driver, cross-compiled with mingw-w64 and tested
# under Wine.
#   scripts/windows.sh build   installs the cross toolchain and Wine, builds
#                              OpenSSL and Thrift for Windows from Debian's
#                              source packages (cached in .cache/win), then
#                              tarndrv.dll and the Windows tests in build-win/
#   scripts/windows.sh test    runs the Windows tests under Wine (the real
#                              Spark servers are taken from TARN_SPARK_*_PORT)
# BUILD_DIR (default build-win) and TARN_WIN_CACHE (default .cache/win) may be set.
# A built OpenSSL/Thrift prefix is also kept for every clone on this machine in
# TARN_WIN_MACHINE_CACHE (default ~/.cache/tarndrv/win; empty: not kept), so
# that a fresh clone (CI's) does not build them again.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD_DIR="${BUILD_DIR:-$ROOT/build-win}"
CACHE="${TARN_WIN_CACHE:-$ROOT/.cache/win}"
MACHINE_CACHE="${TARN_WIN_MACHINE_CACHE-${XDG_CACHE_HOME:-$HOME/.cache}/tarndrv/win}"
TRIPLE=x86_64-w64-mingw32
JOBS="$(nproc)"

log() { printf 'windows: %s\n' "$*" >&2; }
die() { printf 'windows: error: %s\n' "$*" >&2; exit 1; }

SUDO=()
if [ "$(id -u)" -ne 0 ]; then
    command -v sudo >/dev/null 2>&1 || die "not root and no sudo"
    SUDO=(sudo)
fi

# ---------------------------------------------------------------------------
# Packages: the cross compilers, Wine, and apt-get source.
PACKAGES=(mingw-w64 g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix wine wine64
          dpkg-dev cmake ninja-build make perl libboost-dev thrift-compiler)
SRC_LIST=/etc/apt/sources.list.d/tarndrv-src.sources

install_packages() {
    local missing=() p status
    for p in "${PACKAGES[@]}"; do
        status="$(dpkg-query -W -f='${db:Status-Abbrev}' "$p" 2>/dev/null || true)"
        case "$status" in ii*) ;; *) missing+=("$p") ;; esac
    done
    # The sources of OpenSSL and Thrift come from Debian's deb-src entries.
    local need_src=0
    apt-cache showsrc thrift 2>/dev/null | grep -q '^Package: thrift' || need_src=1
    [ "${#missing[@]}" -eq 0 ] && [ "$need_src" -eq 0 ] && return 0
    if [ "$need_src" -eq 1 ] && [ ! -e "$SRC_LIST" ]; then
        log "adding deb-src entries ($SRC_LIST)"
        "${SUDO[@]}" tee "$SRC_LIST" >/dev/null <<'EOF'
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: bookworm bookworm-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg

Types: deb-src
URIs: http://deb.debian.org/debian-security
Suites: bookworm-security
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
EOF
    fi
    export DEBIAN_FRONTEND=noninteractive
    log "running apt-get update"
    "${SUDO[@]}" apt-get update -q >/dev/null
    if [ "${#missing[@]}" -gt 0 ]; then
        log "installing ${missing[*]}"
        "${SUDO[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}" >/dev/null
    fi
    command -v "$TRIPLE-g++-posix" >/dev/null || die "the mingw-w64 posix compiler did not install"
    command -v wine >/dev/null || die "Wine did not install"
}

# Pinned source versions (those of Debian 12's main suite). When apt no longer
# offers a pinned one, the newest version it can fetch is used instead.
OPENSSL_VERSION=3.0.17-1~deb12u2
THRIFT_VERSION=0.17.0-2
RECIPE=2   # raise when the way they are built changes
src_versions() {   # package pinned: the pinned version first, then newest first
    printf '%s\n' "$2"
    apt-cache showsrc "$1" | awk '/^Version:/ {print $2}' | sort -rV | grep -vxF "$2" || true
}

# ---------------------------------------------------------------------------
# OpenSSL and Thrift for Windows, built once per version pair.
fetch_source() {   # package pinned-version: sets SRC_DIR and SRC_VERSION
    local pkg="$1" ver tmp="$CACHE/src/.fetch-$1"
    for ver in $(src_versions "$pkg" "$2"); do
        rm -rf "$tmp" && mkdir -p "$tmp"
        log "fetching the $pkg $ver source package"
        if (cd "$tmp" && apt-get source -q "$pkg=$ver" >"$CACHE/fetch-$pkg.log" 2>&1); then
            SRC_VERSION="$ver"
            SRC_DIR="$(find "$tmp" -mindepth 1 -maxdepth 1 -type d | head -n 1)"
            [ -n "$SRC_DIR" ] || die "apt-get source $pkg=$ver produced no tree"
            return 0
        fi
        log "$pkg $ver cannot be fetched (see $CACHE/fetch-$pkg.log)"
    done
    die "no version of the $pkg source package could be fetched"
}

build_openssl() {   # source prefix
    local src="$1" prefix="$2"
    [ -f "$prefix/lib/libssl.a" ] && return 0
    log "building OpenSSL for Windows (a few minutes)"
    local start=$SECONDS
    # The directories compiled into the library (configuration, engines,
    # modules) are Windows paths that only administrators can write, never a
    # build path that any user could create on the target machine: staged
    # install, then moved into the prefix.  (A relative --openssldir is taken
    # under --prefix; a drive path would be too, wrongly.)
    local stage="$CACHE/openssl-stage" win_prefix="C:/Program Files/tarndrv/openssl"
    rm -rf "$stage"
    (
        cd "$src"
        ./Configure mingw64 --cross-compile-prefix="$TRIPLE-" no-shared no-tests no-engine \
            --prefix="$win_prefix" --openssldir=ssl --libdir=lib \
            >"$CACHE/openssl-configure.log" 2>&1
        make -j"$JOBS" build_libs >"$CACHE/openssl-build.log" 2>&1
        make install_dev DESTDIR="$stage/" >"$CACHE/openssl-install.log" 2>&1
    ) || die "OpenSSL build failed (see $CACHE/openssl-*.log)"
    mkdir -p "$prefix"
    cp -a "$stage/$win_prefix/include" "$stage/$win_prefix/lib" "$prefix/"
    rm -rf "$stage"
    log "OpenSSL built in $((SECONDS - start)) s"
}

# Thrift includes <Windows.h>, <WS2tcpip.h>...; mingw's headers are lower-case.
case_aliases() {   # dir
    local dir="$1" h lower
    mkdir -p "$dir"
    for h in Windows.h WinSock2.h WS2tcpip.h AccCtrl.h Aclapi.h Shlwapi.h; do
        lower="/usr/$TRIPLE/include/${h,,}"
        [ -e "$lower" ] && ln -sfn "$lower" "$dir/$h"
    done
}

build_thrift() {   # source prefix
    local src="$1" prefix="$2"
    [ -f "$prefix/lib/libthrift.a" ] && return 0
    log "building the Thrift C++ library for Windows"
    local start=$SECONDS
    # The driver's build takes both from the prefix too.
    local aliases="$prefix/case-aliases"
    case_aliases "$aliases"
    mkdir -p "$prefix/include" && ln -sfn /usr/include/boost "$prefix/include/boost"
    rm -rf "$CACHE/thrift-build"
    (
        cmake -S "$src" -B "$CACHE/thrift-build" -G Ninja \
            -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-w64.cmake" -DTARN_WIN_PREFIX="$prefix" \
            -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" \
            -DCMAKE_CXX_FLAGS="-idirafter $aliases" \
            -DBUILD_COMPILER=OFF -DBUILD_TESTING=OFF -DBUILD_TUTORIALS=OFF -DBUILD_SHARED_LIBS=OFF \
            -DWITH_CPP=ON -DWITH_C_GLIB=OFF -DWITH_JAVA=OFF -DWITH_JAVASCRIPT=OFF -DWITH_NODEJS=OFF \
            -DWITH_PYTHON=OFF -DWITH_AS3=OFF -DWITH_QT5=OFF -DWITH_LIBEVENT=OFF -DWITH_ZLIB=OFF \
            -DWITH_OPENSSL=ON -DOPENSSL_ROOT_DIR="$prefix" -DOPENSSL_USE_STATIC_LIBS=ON \
            -DBoost_INCLUDE_DIR="$prefix/include" -DBoost_NO_SYSTEM_PATHS=ON \
            >"$CACHE/thrift-configure.log" 2>&1
        cmake --build "$CACHE/thrift-build" -j "$JOBS" >"$CACHE/thrift-build.log" 2>&1
        cmake --install "$CACHE/thrift-build" >"$CACHE/thrift-install.log" 2>&1
    ) || die "Thrift build failed (see $CACHE/thrift-*.log)"
    rm -rf "$CACHE/thrift-build"
    log "Thrift built in $((SECONDS - start)) s"
}

# The complete prefix of the pinned versions in a cache folder, if any.
cached_prefix() {   # dir
    [ -d "$1" ] || return 0
    local complete
    complete="$(find "$1" -maxdepth 2 -name .complete \
        -path "*openssl-${OPENSSL_VERSION//\~/_}_thrift-${THRIFT_VERSION}_r$RECIPE/*" | head -n 1)"
    [ -z "$complete" ] || dirname "$complete"
}

copy_prefix() {   # prefix into-dir: a copy under the same name, whole or not at all
    local name tmp
    name="$(basename "$1")"
    tmp="$2/.copy-$name-$$"
    mkdir -p "$2" && rm -rf "$tmp" && cp -a "$1" "$tmp" || { rm -rf "$tmp"; return 1; }
    rm -rf "${2:?}/$name" && mv "$tmp" "$2/$name"
    # Prefixes of other versions are not used again.
    find "$2" -mindepth 1 -maxdepth 1 -name 'openssl-*_thrift-*' ! -name "$name" -exec rm -rf {} +
}

# Sets PREFIX: OpenSSL and Thrift for Windows, one prefix per version pair.
deps() {
    install_packages
    mkdir -p "$CACHE"
    PREFIX="$(cached_prefix "$CACHE")"
    if [ -n "$PREFIX" ]; then
        keep_prefix
        return 0
    fi
    if [ -n "$MACHINE_CACHE" ]; then
        local kept
        kept="$(cached_prefix "$MACHINE_CACHE")"
        if [ -n "$kept" ] && copy_prefix "$kept" "$CACHE"; then
            log "OpenSSL and Thrift for Windows taken from $MACHINE_CACHE"
            PREFIX="$CACHE/$(basename "$kept")"
            return 0
        fi
    fi
    mkdir -p "$CACHE/src"
    local ossl_ver ossl_src thrift_ver thrift_src
    fetch_source openssl "$OPENSSL_VERSION"; ossl_ver="$SRC_VERSION"; ossl_src="$SRC_DIR"
    fetch_source thrift "$THRIFT_VERSION"; thrift_ver="$SRC_VERSION"; thrift_src="$SRC_DIR"
    # Named after the pinned versions, so that a build from a newer source
    # (when the pinned one is gone) is found again next time; the versions
    # built are written inside.
    PREFIX="$CACHE/openssl-${OPENSSL_VERSION//\~/_}_thrift-${THRIFT_VERSION}_r$RECIPE"
    if [ ! -f "$PREFIX/.complete" ]; then
        rm -rf "$PREFIX" && mkdir -p "$PREFIX"
        build_openssl "$ossl_src" "$PREFIX"
        build_thrift "$thrift_src" "$PREFIX"
        printf 'openssl %s\nthrift %s\n' "$ossl_ver" "$thrift_ver" >"$PREFIX/versions"
        touch "$PREFIX/.complete"
        # Prefixes of other versions are not used again.
        find "$CACHE" -mindepth 1 -maxdepth 1 -name 'openssl-*_thrift-*' ! -path "$PREFIX" -exec rm -rf {} +
    fi
    rm -rf "$CACHE/src"
    keep_prefix
}

# PREFIX into the machine's cache, unless it is there already.
keep_prefix() {
    [ -n "$MACHINE_CACHE" ] || return 0
    [ -f "$MACHINE_CACHE/$(basename "$PREFIX")/.complete" ] && return 0
    copy_prefix "$PREFIX" "$MACHINE_CACHE" || log "could not keep the prefix in $MACHINE_CACHE"
}

build() {
    local start=$SECONDS
    deps
    # ccache (when present) shares its results between clones of the
    # repository: paths under the clone are hashed relative to it.
    export CCACHE_BASEDIR="${CCACHE_BASEDIR:-$ROOT}" CCACHE_NOHASHDIR="${CCACHE_NOHASHDIR:-1}"
    log "building tarndrv.dll in $BUILD_DIR"
    cmake -S "$ROOT" -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-w64.cmake" -DTARN_WIN_PREFIX="$PREFIX" \
        -DTARN_BUILD_SETUP=OFF "$@" >/dev/null
    cmake --build "$BUILD_DIR" -j "$JOBS"
    log "Windows build took $((SECONDS - start)) s"
}

# Wine keeps its own prefix under the build tree, never in $HOME.
run_tests() {
    [ -d "$BUILD_DIR" ] || die "no Windows build in $BUILD_DIR (run: scripts/windows.sh build)"
    export WINEPREFIX="${WINEPREFIX:-$BUILD_DIR/wineprefix}" WINEDEBUG="${WINEDEBUG:--all}"
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        log "creating the Wine prefix $WINEPREFIX"
        wineboot -i >/dev/null 2>&1 || true
    fi
    cd "$BUILD_DIR"
    ctest --output-on-failure -j 2 --timeout 300 "$@"
}

case "${1:-}" in
    deps) shift; deps; echo "$PREFIX" ;;
    build) shift; build "$@" ;;
    test) shift; run_tests "$@" ;;
    *) echo "usage: $0 build|test" >&2; exit 2 ;;
esac
