#!/bin/sh
# Checks every fixture with the xmlsec1 command-line tool: the Response signature,
# decryption of the EncryptedAssertion, and (where present) the signature of the
# decrypted inner Assertion. Decrypted copies go to $OUT (default: a temp folder).
# Usage: sh verify-with-xmlsec1.sh
cd "$(dirname "$0")" || exit 1
OUT=${OUT:-$(mktemp -d)}
echo "xmlsec1: $(xmlsec1 --version)"
echo "decrypted copies in: $OUT"
for f in simplesamlphp-*.xml samlify-*.xml; do
  echo "== $f"
  if xmlsec1 --verify --pubkey-cert-pem test-only-idp-signing.crt.pem \
       --id-attr:ID urn:oasis:names:tc:SAML:2.0:protocol:Response "$f" >/dev/null 2>"$OUT/$f.verify.log"; then
    echo "response signature: OK"
  else
    echo "response signature: FAIL ($(grep -o 'reason=[^;]*\|func=xmlSecOpenSSLEvpDigestVerify[^;]*\|data and digest do not match\|digest do not match' "$OUT/$f.verify.log" | sort -u | tr '\n' ' '))"
  fi
  case "$f" in
    *sharedkey*) key="--aeskey test-only-sp-sharedkey-aes256.bin" ;;
    *) key="--privkey-pem test-only-sp-encryption.key.pem" ;;
  esac
  # shellcheck disable=SC2086
  if xmlsec1 --decrypt $key --output "$OUT/$f" "$f" 2>"$OUT/$f.decrypt.log"; then
    echo "decrypt ($key): OK"
  else
    echo "decrypt ($key): FAIL"; tail -3 "$OUT/$f.decrypt.log"; continue
  fi
  # The inner Assertion's own signature, checked on the decrypted copy.
  if grep -q '<saml:Assertion[^>]*>.*<ds:Signature' "$OUT/$f"; then
    if xmlsec1 --verify --pubkey-cert-pem test-only-idp-signing.crt.pem \
         --id-attr:ID urn:oasis:names:tc:SAML:2.0:assertion:Assertion \
         --node-xpath "//*[local-name()='Assertion']/*[local-name()='Signature']" \
         "$OUT/$f" >/dev/null 2>"$OUT/$f.verify-assertion.log"; then
      echo "assertion signature (after decryption): OK"
    else
      echo "assertion signature (after decryption): FAIL"; tail -3 "$OUT/$f.verify-assertion.log"
    fi
  else
    echo "assertion signature: none (assertion not signed)"
  fi
done
