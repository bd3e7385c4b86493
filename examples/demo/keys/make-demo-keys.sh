#!/bin/bash
# DEMO ONLY - never use in production.
# Regenerates the demo key pairs beside this script and the header
# ../demo_keys.h that embeds them in the demo program.
set -euo pipefail
cd "$(dirname "$0")"

make_pair() {  # make_pair ROLE COMMON_NAME
    openssl req -x509 -newkey rsa:2048 -nodes -sha256 -days 3650 \
        -subj "/O=corvane demo (DEMO ONLY)/CN=$2" \
        -keyout "demo-$1-key.pem" -out "demo-$1-cert.pem" 2>/dev/null
}

embed() {  # embed NAME FILE...
    printf 'static const char* const %s = R"PEM(' "$1"
    shift
    cat "$@"
    printf ')PEM";\n\n'
}

make_pair sp sp.example.test
make_pair idp idp.example.test

{
    cat <<'HEADER'
// DEMO ONLY - never use in production.
//
// Key pairs for the corvane demo host, made by keys/make-demo-keys.sh
// (RSA 2048, self-signed certificates). The same PEM files lie in keys/.
// Anyone can read these private keys: they prove nothing.
#ifndef CORVANE_DEMO_KEYS_H
#define CORVANE_DEMO_KEYS_H

namespace demo_keys {

// The SP's private key followed by its certificate, as Key::loadPrivateKey
// takes them.
HEADER
    embed kSpKeyAndCert demo-sp-key.pem demo-sp-cert.pem
    echo "// The SP's certificate alone: what an IdP would check requests with."
    embed kSpCert demo-sp-cert.pem
    echo "// The demo IdP's private key, used to sign its responses."
    embed kIdpKey demo-idp-key.pem
    echo "// The demo IdP's certificate: what the SP verifies responses with."
    embed kIdpCert demo-idp-cert.pem
    cat <<'FOOTER'
}  // namespace demo_keys

#endif
FOOTER
} > ../demo_keys.h
