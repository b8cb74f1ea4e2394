#!/usr/bin/env bash
# Makes the certificates the TLS tests need, fresh each time, into the folder given:
#   ca.pem                       the test CA (the only one the tests trust, through SSL_CERT_FILE)
#   good.pem / good.key          localhost, 127.0.0.1 and ::1, issued by the CA
#   other.pem / other.key        mail.another.example only, issued by the CA; the name goes on with
#                                an escape sequence and 150 more characters, as a hostile server's
#                                might, for the tests of how a refusal describes the certificate
#   self.pem / self.key          localhost, 127.0.0.1 and ::1, signed by itself
#   expired.pem / expired.key    localhost, 127.0.0.1 and ::1, issued by the CA, valid 2020 to 2021
#   future.pem / future.key      localhost, 127.0.0.1 and ::1, issued by the CA, valid 2090 to 2091
# Keys are P-256 (quick to make) and unencrypted; they are for tests on loopback only.
set -euo pipefail

if [[ $# -ne 1 ]]; then
    echo "usage: $0 FOLDER" >&2
    exit 2
fi
out=$1
mkdir -p "$out"
cd "$out"
rm -rf ca-db
mkdir ca-db
: >ca-db/index.txt
echo 1000 >ca-db/serial

cat >ca.cnf <<'CNF'
[ req ]
distinguished_name = dn
prompt = no
[ dn ]
CN = Vellum Test CA
O = Vellum Tests

[ ca ]
default_ca = test_ca
[ test_ca ]
dir = .
database = ca-db/index.txt
serial = ca-db/serial
new_certs_dir = ca-db
certificate = ca.pem
private_key = ca.key
default_md = sha256
policy = any_name
unique_subject = no
copy_extensions = none
[ any_name ]
commonName = supplied
organizationName = optional

[ ca_ext ]
basicConstraints = critical, CA:true
keyUsage = critical, keyCertSign, cRLSign
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid:always

[ leaf_ext ]
basicConstraints = critical, CA:false
keyUsage = critical, digitalSignature
extendedKeyUsage = serverAuth
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid, issuer
subjectAltName = $ENV::LEAF_NAMES

[ self_ext ]
basicConstraints = critical, CA:false
keyUsage = critical, digitalSignature
extendedKeyUsage = serverAuth
subjectKeyIdentifier = hash
subjectAltName = $ENV::LEAF_NAMES
CNF

quiet() {
    local log
    if ! log=$("$@" 2>&1); then
        echo "$log" >&2
        echo "failed: $*" >&2
        exit 1
    fi
}

new_key() {
    quiet openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out "$1"
}

# A leaf issued by the CA: name, common name, subject alternative names, then -days N or
# -startdate/-enddate as openssl ca takes them.
issue() {
    local name=$1 cn=$2 names=$3
    shift 3
    new_key "$name.key"
    quiet openssl req -new -key "$name.key" -subj "/CN=$cn" -out "$name.csr"
    LEAF_NAMES=$names quiet openssl ca -batch -config ca.cnf -notext -extensions leaf_ext \
        -in "$name.csr" -out "$name.pem" "$@"
    rm -f "$name.csr"
}

export LEAF_NAMES=DNS:unused
new_key ca.key
quiet openssl req -new -x509 -config ca.cnf -extensions ca_ext -key ca.key -days 30 -out ca.pem

local_names="DNS:localhost, IP:127.0.0.1, IP:::1"
issue good localhost "$local_names" -days 30
long_tail=$(printf 'x%.0s' {1..150})
issue other mail.another.example "DNS:mail.another.example"$'\e'"[2J$long_tail.example" -days 30
issue expired localhost "$local_names" -startdate 20200101000000Z -enddate 20210101000000Z
issue future localhost "$local_names" -startdate 20900101000000Z -enddate 20910101000000Z

new_key self.key
LEAF_NAMES=$local_names quiet openssl req -new -x509 -config ca.cnf -extensions self_ext -key self.key \
    -subj "/CN=localhost" -days 30 -out self.pem
