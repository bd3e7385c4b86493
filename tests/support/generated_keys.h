// Keys made by the test itself at run time (never committed): RSA of a
// given size and EC on a named curve, each with a self-signed
// certificate, and an in-process signer that takes any of them, weak ones
// included, so tests can present signatures the library must refuse.
#ifndef CORVANE_TEST_GENERATED_KEYS_H
#define CORVANE_TEST_GENERATED_KEYS_H

#include <string>

namespace corvane_test {

struct GeneratedKey {
    std::string privateKeyPem;   // unencrypted PKCS#8
    std::string certificatePem;  // self-signed X.509 of the same key
};

// Made once per process for each size or curve and kept; fails the test
// (and returns empty text) when OpenSSL cannot make it.
const GeneratedKey& generatedRsaKey(int bits);
const GeneratedKey& generatedEcKey(const std::string& curveName);

// Signs the first ds:Signature template of xml with the private key in
// PEM, as the xmlsec1 library does for any caller (no strength floor), the
// "ID" attribute of every element registered as an ID. Fails the test and
// returns empty text when it cannot.
std::string signTemplateInProcess(const std::string& xml, const std::string& privateKeyPem);

}  // namespace corvane_test

#endif
