#!/bin/sh
# Makes the certificates of the TLS tests in the current folder: two
# authorities (ca, other), a server certificate for 127.0.0.1 (server), one
# for other names (misnamed), an expired one for 127.0.0.1 (expired), a
# client certificate of ca (client) and one of the other authority
# (stranger). Keys are EC P-256 (quick to make), mode 0600.
set -e
key() {
    openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out "$1.key" 2>/dev/null
    chmod 600 "$1.key"
}
authority() {
    key "$1"
    openssl req -x509 -new -key "$1.key" -out "$1.pem" -subj "/CN=$2" -days 30 \
        -addext basicConstraints=critical,CA:TRUE -addext keyUsage=keyCertSign,cRLSign
}
request() {
    key "$1"
    openssl req -new -key "$1.key" -out "$1.csr" -subj "/CN=$1"
    printf 'subjectAltName=%s\n' "$2" > "$1.ext"
}
leaf() {
    request "$1" "$3"
    openssl x509 -req -in "$1.csr" -CA "$2.pem" -CAkey "$2.key" -CAcreateserial -out "$1.pem" \
        -days 30 -extfile "$1.ext" 2>/dev/null
}
authority ca "Velkon Test CA"
authority other "Other CA"
leaf server ca IP:127.0.0.1
leaf misnamed ca DNS:elsewhere.example,IP:127.0.0.2
leaf client ca DNS:client
leaf stranger other DNS:stranger
# OpenSSL 3.0's x509 cannot set dates in the past; its ca command can.
request expired IP:127.0.0.1
: > index.txt
echo 01 > serial
printf '[ca]\ndefault_ca=t\n[t]\ndatabase=index.txt\nnew_certs_dir=.\nserial=serial\n'\
'default_md=sha256\npolicy=p\n[p]\ncommonName=supplied\n' > ca.cnf
openssl ca -batch -config ca.cnf -cert ca.pem -keyfile ca.key -in expired.csr -out expired.pem \
    -startdate 20200101000000Z -enddate 20200102000000Z -extfile expired.ext -notext 2>/dev/null
