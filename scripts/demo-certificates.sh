#!/usr/bin/env bash
# Makes the certificates of one ./run, fresh each time, into the folder given:
#   ca.pem                     a CA made for this run alone; ./run has Sendwell trust it through
#                              SSL_CERT_FILE, and nothing else is told about it
#   server.pem / server.key    the demo mail server's certificate for localhost and 127.0.0.1
#                              (and ::1), issued by that CA, valid for 7 days
# The CA's key is deleted once the server's certificate is issued, so that nobody can issue
# another certificate that the demo trusts. Keys are P-256, unencrypted and readable by their
# owner only; they are for loopback only.
set -euo pipefail

if [[ $# -ne 1 ]]; then
    echo "usage: $0 FOLDER" >&2
    exit 2
fi
umask 077
mkdir -p "$1"
cd "$1"

cat >demo.cnf <<'CNF'
[ req ]
distinguished_name = dn
prompt = no
[ dn ]
CN = Vellum Demo CA

[ ca_ext ]
basicConstraints = critical, CA:true
keyUsage = critical, keyCertSign, cRLSign
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid:always

[ server_ext ]
basicConstraints = critical, CA:false
keyUsage = critical, digitalSignature
extendedKeyUsage = serverAuth
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid, issuer
subjectAltName = DNS:localhost, IP:127.0.0.1, IP:::1
CNF

quiet() {
    local log
    if ! log=$("$@" 2>&1); then
        echo "$log" >&2
        echo "failed: $*" >&2
        exit 1
    fi
}

quiet openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out ca.key
quiet openssl req -new -x509 -config demo.cnf -extensions ca_ext -key ca.key -days 7 -out ca.pem
quiet openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out server.key
quiet openssl req -new -config demo.cnf -key server.key -subj /CN=localhost -out server.csr
quiet openssl x509 -req -in server.csr -CA ca.pem -CAkey ca.key -set_serial "0x$(openssl rand -hex 8)" \
    -days 7 -extfile demo.cnf -extensions server_ext -out server.pem
rm -f ca.key server.csr demo.cnf
chmod 0644 ca.pem server.pem
