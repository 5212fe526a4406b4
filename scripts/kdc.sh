#!/usr/bin/env bash
# A private MIT Kerberos realm on loopback, for the Kerberos tests.
#
#   scripts/kdc.sh start DIR    creates DIR, a realm, principals and a keytab,
#                               starts krb5kdc on 127.0.0.1 and a free port
#   scripts/kdc.sh stop DIR     stops that KDC and removes DIR
#
# Everything lives in DIR: the configuration (KRB5_CONFIG and KRB5_KDC_PROFILE
# point only there), the database, the log, the keytab and the default
# credential cache.  The system's Kerberos configuration is never read or
# written.  DIR/env holds shell assignments for the tests:
#   KRB5_CONFIG KRB5_KDC_PROFILE KRB5CCNAME   the private realm
#   TARN_KRB5_REALM                           TARN.TEST
#   TARN_KRB5_USER TARN_KRB5_PASSWORD         a user principal with a password
#   TARN_KRB5_SERVICE                         the service principal (hive/localhost@TARN.TEST)
#   TARN_KRB5_KEYTAB                          the service's keytab
#   TARN_KRB5_PORT                            the KDC's port
set -euo pipefail

REALM=TARN.TEST
USER_NAME=tarnuser
USER_PASSWORD='tarn-User-Pw1'
SERVICES=(hive/localhost hive/127.0.0.1)

usage() { echo "usage: $0 start|stop DIR" >&2; exit 2; }
[ $# -eq 2 ] || usage
ACTION="$1"
DIR="$2"

find_tool() {
    local t
    for t in "$1" "/usr/sbin/$1" "/usr/bin/$1"; do
        if command -v "$t" >/dev/null 2>&1; then command -v "$t"; return 0; fi
    done
    echo "kdc.sh: $1 not found (install krb5-kdc, krb5-admin-server, krb5-user)" >&2
    return 1
}

free_port() {
    python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'
}

stop_kdc() {
    if [ -f "$DIR/kdc.pid" ]; then
        local pid
        pid="$(cat "$DIR/kdc.pid")"
        if [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null; then
            kill "$pid" 2>/dev/null || true
            for _ in $(seq 1 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
        fi
    fi
}

case "$ACTION" in
stop)
    [ -d "$DIR" ] || exit 0
    stop_kdc
    rm -rf "$DIR"
    ;;
start)
    KRB5KDC="$(find_tool krb5kdc)"
    KDB5_UTIL="$(find_tool kdb5_util)"
    KADMIN_LOCAL="$(find_tool kadmin.local)"
    if [ -d "$DIR" ]; then stop_kdc; rm -rf "$DIR"; fi
    mkdir -p "$DIR"
    DIR="$(cd "$DIR" && pwd)"
    PORT="$(free_port)"

    cat >"$DIR/krb5.conf" <<EOF
[libdefaults]
    default_realm = $REALM
    dns_lookup_kdc = false
    dns_lookup_realm = false
    dns_canonicalize_hostname = false
    rdns = false
    udp_preference_limit = 1
    ticket_lifetime = 1h
    renew_lifetime = 1h
    default_ccache_name = FILE:$DIR/ccache
    default_keytab_name = FILE:$DIR/nonexistent.keytab

[realms]
    $REALM = {
        kdc = 127.0.0.1:$PORT
        admin_server = 127.0.0.1:$PORT
    }

[domain_realm]
    localhost = $REALM
    127.0.0.1 = $REALM
EOF
    cat >"$DIR/kdc.conf" <<EOF
[kdcdefaults]
    kdc_listen = 127.0.0.1:$PORT
    kdc_tcp_listen = 127.0.0.1:$PORT

[realms]
    $REALM = {
        database_name = $DIR/principal
        key_stash_file = $DIR/stash
        acl_file = $DIR/kadm5.acl
        max_life = 1h
        max_renewable_life = 1h
    }

[logging]
    kdc = FILE:$DIR/kdc.log
    admin_server = FILE:$DIR/kadmin.log
    default = FILE:$DIR/krb5lib.log
EOF
    : >"$DIR/kadm5.acl"

    export KRB5_CONFIG="$DIR/krb5.conf" KRB5_KDC_PROFILE="$DIR/kdc.conf" KRB5CCNAME="FILE:$DIR/ccache"
    "$KDB5_UTIL" create -s -r "$REALM" -P "tarn-master-$RANDOM$RANDOM" >"$DIR/setup.log" 2>&1
    "$KADMIN_LOCAL" -r "$REALM" -q "addprinc +requires_preauth -pw $USER_PASSWORD $USER_NAME" >>"$DIR/setup.log" 2>&1
    for s in "${SERVICES[@]}"; do
        "$KADMIN_LOCAL" -r "$REALM" -q "addprinc -randkey $s" >>"$DIR/setup.log" 2>&1
        "$KADMIN_LOCAL" -r "$REALM" -q "ktadd -k $DIR/service.keytab $s" >>"$DIR/setup.log" 2>&1
    done
    "$KRB5KDC" -r "$REALM" -P "$DIR/kdc.pid" >>"$DIR/setup.log" 2>&1

    # Ready when the KDC answers: a keytab logon of the service goes through it.
    ok=0
    for _ in $(seq 1 100); do
        if KRB5CCNAME="FILE:$DIR/probe.ccache" kinit -k -t "$DIR/service.keytab" "${SERVICES[0]}@$REALM" >/dev/null 2>&1; then
            ok=1
            break
        fi
        sleep 0.1
    done
    rm -f "$DIR/probe.ccache"
    if [ "$ok" != 1 ]; then
        echo "kdc.sh: the KDC did not come up; see $DIR/setup.log and $DIR/kdc.log" >&2
        cat "$DIR/setup.log" >&2 || true
        stop_kdc
        exit 1
    fi

    cat >"$DIR/env" <<EOF
KRB5_CONFIG=$DIR/krb5.conf
KRB5_KDC_PROFILE=$DIR/kdc.conf
KRB5CCNAME=FILE:$DIR/ccache
TARN_KRB5_REALM=$REALM
TARN_KRB5_USER=$USER_NAME@$REALM
TARN_KRB5_PASSWORD=$USER_PASSWORD
TARN_KRB5_SERVICE=${SERVICES[0]}@$REALM
TARN_KRB5_KEYTAB=$DIR/service.keytab
TARN_KRB5_PORT=$PORT
EOF
    echo "$DIR"
    ;;
*) usage ;;
esac
