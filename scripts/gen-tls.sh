#!/usr/bin/env bash
# Makes a private test CA and a server certificate for localhost / 127.0.0.1.
#
#   scripts/gen-tls.sh DIR [PASSWORD]
#
# Writes into DIR:
#   ca.pem, ca.key          the test CA (clients trust ca.pem)
#   server.pem, server.key  the server certificate (SAN localhost, 127.0.0.1, ::1) and its key
#   server.p12              PKCS12 keystore (key + certificate + CA) for the Java server
#   password                the keystore password
# Idempotent: an existing, still valid set is kept.
set -euo pipefail

DIR="${1:?usage: gen-tls.sh DIR [PASSWORD]}"
PASSWORD="${2:-tarn-test-pass}"
DAYS=3650

command -v openssl >/dev/null 2>&1 || { echo "gen-tls: error: openssl not found" >&2; exit 1; }
mkdir -p "$DIR"
cd "$DIR"

if [ -s server.p12 ] && [ -s ca.pem ] && [ -s server.pem ] && [ -s password ] \
    && [ "$(cat password)" = "$PASSWORD" ] \
    && openssl x509 -in server.pem -noout -checkend 86400 >/dev/null 2>&1 \
    && openssl pkcs12 -in server.p12 -passin "pass:$PASSWORD" -noout >/dev/null 2>&1; then
    exit 0
fi

umask 077
tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT

openssl req -x509 -newkey rsa:2048 -nodes -sha256 -days "$DAYS" \
    -subj "/CN=tarndrv test CA" \
    -addext "basicConstraints=critical,CA:TRUE" \
    -addext "keyUsage=critical,keyCertSign,cRLSign" \
    -keyout "$tmp/ca.key" -out "$tmp/ca.pem" 2>/dev/null

openssl req -new -newkey rsa:2048 -nodes -sha256 \
    -subj "/CN=localhost" \
    -keyout "$tmp/server.key" -out "$tmp/server.csr" 2>/dev/null

cat >"$tmp/server.ext" <<'EOF'
basicConstraints=CA:FALSE
keyUsage=critical,digitalSignature,keyEncipherment
extendedKeyUsage=serverAuth
subjectAltName=DNS:localhost,IP:127.0.0.1,IP:::1
EOF
openssl x509 -req -sha256 -days "$DAYS" -in "$tmp/server.csr" \
    -CA "$tmp/ca.pem" -CAkey "$tmp/ca.key" -CAcreateserial \
    -extfile "$tmp/server.ext" -out "$tmp/server.pem" 2>/dev/null

# Java 17 reads OpenSSL 3's default PKCS12 (AES-256, PBKDF2).
openssl pkcs12 -export -name server \
    -inkey "$tmp/server.key" -in "$tmp/server.pem" -certfile "$tmp/ca.pem" \
    -passout "pass:$PASSWORD" -out "$tmp/server.p12"

printf '%s' "$PASSWORD" >"$tmp/password"
for f in ca.pem ca.key server.pem server.key server.p12 password; do
    mv -f "$tmp/$f" "$f"
done
chmod 644 ca.pem server.pem
