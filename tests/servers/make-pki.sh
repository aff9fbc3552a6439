#!/usr/bin/env bash
# Makes the certificates of the TLS test servers with openssl, into RUN_DIR/pki.
# Usage: make-pki.sh RUN_DIR
#   ca.crt              "Kestrel Test CA", the private root a test run trusts
#   intermediate.crt    "Kestrel Test Intermediate CA", signed by the root
#   untrusted-ca.crt    "Kestrel Untrusted CA", a root nobody trusts
#   server.key          the one key of every server certificate below
#   localhost.crt       DNS:localhost, by the intermediate, valid now; the file
#                       holds the certificate and then the intermediate (the
#                       chain a server sends)
#   expired.crt         DNS:localhost, by the root, valid only in 2020
#   wrongname.crt       DNS:other.kestrel.test only, by the root, valid now
#   untrusted.crt       DNS:localhost, by the untrusted root, valid now
#   selfsigned.crt      DNS:localhost, signed by its own key, valid now (an
#                       intranet server's certificate that no root vouches for)
#   trust-bundle.crt    the system's CA bundle followed by ca.crt
# Chains that must be refused, each a DNS:localhost certificate valid now
# followed by the issuers the server sends:
#   nameconstrained.crt by "Kestrel Test Constrained CA", an intermediate that
#                       may certify allowed.test only (name constraints)
#   notca.crt           by "Kestrel Test Not-a-CA", a certificate of the root
#                       marked CA:FALSE
#   pathlen.crt         by "Kestrel Test Sub-Intermediate CA", a CA under the
#                       intermediate, whose path length of 0 forbids it
#   critical.crt        by the intermediate, with an unknown critical extension
# And, made at every start once the ports are known (make-pki.sh RUN_DIR --aia URL):
#   aia.crt             DNS:localhost by the intermediate, alone (no issuer
#                       sent), naming URL as where its issuer can be fetched
# Idempotent: an existing set is kept while it is complete, the good
# certificates have a week left and the system bundle is not newer than the
# trust bundle. A trust bundle that is bind-mounted over the system's file
# (scripts/tls-trust.sh) is thereby left alone within that run.
set -euo pipefail
run=${1:?usage: make-pki.sh RUN_DIR}
pki=$run/pki
system_bundle=${KESTREL_SYSTEM_CA_BUNDLE:-/etc/ssl/certs/ca-certificates.crt}

current() {
  [ -f "$pki/.complete" ] && [ -f "$pki/trust-bundle.crt" ] || return 1
  [ ! "$system_bundle" -nt "$pki/trust-bundle.crt" ] || return 1
  local cert
  for cert in localhost wrongname untrusted selfsigned nameconstrained notca pathlen critical; do
    openssl x509 -checkend 604800 -noout -in "$pki/$cert.crt" >/dev/null 2>&1 || return 1
  done
}

mkdir -p "$run"
exec 9>"$run/.pki.lock"
flock -w 60 9

# --aia URL: (re)makes aia.crt for URL, from the set made below.
if [ "${2:-}" = --aia ]; then
  url=${3:?usage: make-pki.sh RUN_DIR --aia URL}
  [ -f "$pki/aia.url" ] && [ "$(cat "$pki/aia.url")" = "$url" ] && [ -f "$pki/aia.crt" ] && exit 0
  cd "$pki"
  printf '%s\n' "basicConstraints = critical, CA:false" "keyUsage = critical, digitalSignature, keyEncipherment" \
    "extendedKeyUsage = serverAuth" "subjectAltName = DNS:localhost" "authorityInfoAccess = caIssuers;URI:$url" > aia.ext
  openssl req -new -key server.key -subj "/O=Kestrel tests/CN=localhost" -out aia.csr 2>/dev/null
  openssl x509 -req -in aia.csr -CA intermediate.crt -CAkey intermediate.key -set_serial "0x$(openssl rand -hex 8)" \
    -days 30 -sha256 -extfile aia.ext -out aia.crt 2>/dev/null || { echo "make-pki: aia.crt failed" >&2; exit 1; }
  rm -f aia.csr aia.ext
  printf '%s\n' "$url" > aia.url
  exit 0
fi

current && exit 0

new=$run/pki.new
rm -rf "$new"; mkdir -p "$new/db/issued"
: > "$new/db/index.txt"
echo 1000 > "$new/db/serial"
cat > "$new/openssl.cnf" <<'CNF'
# openssl ca for the test certificates; SAN comes from the environment.
[ ca ]
default_ca = test_ca
[ test_ca ]
dir = .
database = $dir/db/index.txt
serial = $dir/db/serial
new_certs_dir = $dir/db/issued
default_md = sha256
policy = policy_any
unique_subject = no
copy_extensions = none
email_in_dn = no
[ policy_any ]
commonName = supplied
organizationName = optional
[ req ]
distinguished_name = req_dn
prompt = no
[ req_dn ]
CN = unused
[ root_ext ]
basicConstraints = critical, CA:true
keyUsage = critical, keyCertSign, cRLSign
subjectKeyIdentifier = hash
[ intermediate_ext ]
basicConstraints = critical, CA:true, pathlen:0
keyUsage = critical, keyCertSign, cRLSign
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
[ constrained_ext ]
basicConstraints = critical, CA:true, pathlen:0
keyUsage = critical, keyCertSign, cRLSign
nameConstraints = critical, permitted;DNS:allowed.test
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
[ sub_ext ]
basicConstraints = critical, CA:true
keyUsage = critical, keyCertSign, cRLSign
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
[ notca_ext ]
basicConstraints = critical, CA:false
keyUsage = critical, digitalSignature, keyCertSign
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
[ critical_ext ]
basicConstraints = critical, CA:false
keyUsage = critical, digitalSignature, keyEncipherment
extendedKeyUsage = serverAuth
subjectAltName = DNS:localhost
1.3.6.1.4.1.55555.1.1 = critical, ASN1:NULL
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
[ server_ext ]
basicConstraints = critical, CA:false
keyUsage = critical, digitalSignature, keyEncipherment
extendedKeyUsage = serverAuth
subjectAltName = $ENV::SAN
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
CNF

cd "$new"
export SAN=DNS:localhost
key() { openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:2048 -out "$1" 2>/dev/null; }
csr() { openssl req -new -config openssl.cnf -key "$1" -subj "/O=Kestrel tests/CN=$2" -out "$3"; }
# sign CSR OUT ISSUER_CERT ISSUER_KEY EXT START END (dates as YYYYMMDDHHMMSSZ)
sign() {
  openssl ca -batch -notext -config openssl.cnf -in "$1" -out "$2" -cert "$3" -keyfile "$4" \
    -extensions "$5" -startdate "$6" -enddate "$7" >/dev/null 2>&1 \
    || { echo "make-pki: signing $2 failed" >&2; exit 1; }
}
# The roots begin in 2019 so that the expired certificate lies within them.
ca_start=20190101000000Z
ca_end=$(date -u -d '+10 years' +%Y%m%d%H%M%SZ)
now_start=$(date -u -d '-1 day' +%Y%m%d%H%M%SZ)
now_end=$(date -u -d '+90 days' +%Y%m%d%H%M%SZ)

key ca.key; key intermediate.key; key untrusted-ca.key; key server.key
csr ca.key "Kestrel Test CA" ca.csr
openssl ca -batch -notext -selfsign -config openssl.cnf -in ca.csr -out ca.crt -keyfile ca.key \
  -extensions root_ext -startdate $ca_start -enddate "$ca_end" >/dev/null 2>&1
csr untrusted-ca.key "Kestrel Untrusted CA" untrusted-ca.csr
openssl ca -batch -notext -selfsign -config openssl.cnf -in untrusted-ca.csr -out untrusted-ca.crt \
  -keyfile untrusted-ca.key -extensions root_ext -startdate $ca_start -enddate "$ca_end" >/dev/null 2>&1
csr intermediate.key "Kestrel Test Intermediate CA" intermediate.csr
sign intermediate.csr intermediate.crt ca.crt ca.key intermediate_ext $ca_start "$ca_end"

csr server.key localhost server.csr
sign server.csr localhost-leaf.crt intermediate.crt intermediate.key server_ext "$now_start" "$now_end"
cat localhost-leaf.crt intermediate.crt > localhost.crt
sign server.csr expired.crt ca.crt ca.key server_ext 20200101000000Z 20201231000000Z
sign server.csr untrusted.crt untrusted-ca.crt untrusted-ca.key server_ext "$now_start" "$now_end"
openssl ca -batch -notext -selfsign -config openssl.cnf -in server.csr -out selfsigned.crt -keyfile server.key \
  -extensions server_ext -startdate "$now_start" -enddate "$now_end" >/dev/null 2>&1 \
  || { echo "make-pki: signing selfsigned.crt failed" >&2; exit 1; }
SAN=DNS:other.kestrel.test
csr server.key other.kestrel.test wrongname.csr
sign wrongname.csr wrongname.crt ca.crt ca.key server_ext "$now_start" "$now_end"

# The chains to refuse; the leaves all use server.key.
SAN=DNS:localhost
key constrained-ca.key; key notca.key; key sub-ca.key
csr constrained-ca.key "Kestrel Test Constrained CA" constrained-ca.csr
sign constrained-ca.csr constrained-ca.crt ca.crt ca.key constrained_ext $ca_start "$ca_end"
sign server.csr nameconstrained-leaf.crt constrained-ca.crt constrained-ca.key server_ext "$now_start" "$now_end"
cat nameconstrained-leaf.crt constrained-ca.crt > nameconstrained.crt
csr notca.key "Kestrel Test Not-a-CA" notca.csr
sign notca.csr notca-issuer.crt ca.crt ca.key notca_ext $ca_start "$ca_end"
sign server.csr notca-leaf.crt notca-issuer.crt notca.key server_ext "$now_start" "$now_end"
cat notca-leaf.crt notca-issuer.crt > notca.crt
csr sub-ca.key "Kestrel Test Sub-Intermediate CA" sub-ca.csr
sign sub-ca.csr sub-ca.crt intermediate.crt intermediate.key sub_ext $ca_start "$ca_end"
sign server.csr pathlen-leaf.crt sub-ca.crt sub-ca.key server_ext "$now_start" "$now_end"
cat pathlen-leaf.crt sub-ca.crt intermediate.crt > pathlen.crt
sign server.csr critical-leaf.crt intermediate.crt intermediate.key critical_ext "$now_start" "$now_end"
cat critical-leaf.crt intermediate.crt > critical.crt

cat "$system_bundle" > trust-bundle.crt
printf '\n' >> trust-bundle.crt
cat ca.crt >> trust-bundle.crt
rm -f ./*.csr
touch .complete
cd - >/dev/null

rm -rf "$run/pki.old"
[ -d "$pki" ] && mv "$pki" "$run/pki.old"
mv "$new" "$pki"
rm -rf "$run/pki.old"
