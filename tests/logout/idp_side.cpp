#include "idp_side.h"

#include <algorithm>
#include <memory>

#include <gtest/gtest.h>
#include <openssl/bio.h>
#include <openssl/ec.h>
#include <openssl/ecdsa.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <zlib.h>

#include "corvane_test_support.h"
#include "schema_check.h"

namespace corvane_test {

const char kLogoutIdp[] = "https://idp.example.test/logout-test-only";
const char kSpEntity[] = "https://sp.example.test/metadata";
const char kSpSlo[] = "https://sp.example.test/slo";
const char kIdpSlo[] = "https://idp.example.test/slo";
const char kSpRequestId[] = "_sp-logout-request-1";
const char kInstant[] = "2026-01-01T00:00:00Z";
const long long kInstantSeconds = 1767225600;
const char kPersistent[] = "urn:oasis:names:tc:SAML:2.0:nameid-format:persistent";

const char kRsaSha1[] = "http://www.w3.org/2000/09/xmldsig#rsa-sha1";
const char kRsaSha256[] = "http://www.w3.org/2001/04/xmldsig-more#rsa-sha256";
const char kRsaSha384[] = "http://www.w3.org/2001/04/xmldsig-more#rsa-sha384";
const char kRsaSha512[] = "http://www.w3.org/2001/04/xmldsig-more#rsa-sha512";
const char kEcdsaSha256[] = "http://www.w3.org/2001/04/xmldsig-more#ecdsa-sha256";

namespace {

std::string attributeText(const char* name, const std::string& value) {
    return value.empty() ? std::string() : std::string(" ") + name + "=\"" + value + "\"";
}

std::string signatureTemplateFor(const IdpMessage& m) {
    return "<ds:Signature xmlns:ds=\"http://www.w3.org/2000/09/xmldsig#\"><ds:SignedInfo>"
           "<ds:CanonicalizationMethod Algorithm=\"http://www.w3.org/2001/10/xml-exc-c14n#\"/>"
           "<ds:SignatureMethod Algorithm=\"" +
           m.signatureMethod + "\"/><ds:Reference URI=\"#" + m.id +
           "\"><ds:Transforms><ds:Transform Algorithm=\"http://www.w3.org/2000/09/"
           "xmldsig#enveloped-signature\"/><ds:Transform Algorithm=\"http://www.w3.org/2001/10/"
           "xml-exc-c14n#\"/></ds:Transforms><ds:DigestMethod Algorithm=\"" +
           m.digestMethod +
           "\"/><ds:DigestValue/></ds:Reference></ds:SignedInfo><ds:SignatureValue/>"
           "</ds:Signature>";
}

const EVP_MD* digestOf(const std::string& sigAlg) {
    if (sigAlg == kRsaSha1) return EVP_sha1();
    if (sigAlg == kRsaSha384) return EVP_sha384();
    if (sigAlg == kRsaSha512) return EVP_sha512();
    return EVP_sha256();
}

// DER ECDSA-Sig-Value to r || s of the curve's size, as XML Signature
// carries ECDSA.
std::string rawEcdsa(const std::string& der, int fieldBytes) {
    const unsigned char* p = reinterpret_cast<const unsigned char*>(der.data());
    std::unique_ptr<ECDSA_SIG, decltype(&ECDSA_SIG_free)> sig(
        d2i_ECDSA_SIG(nullptr, &p, static_cast<long>(der.size())), ECDSA_SIG_free);
    if (!sig) return std::string();
    std::string out(static_cast<std::size_t>(fieldBytes) * 2, '\0');
    unsigned char* bytes = reinterpret_cast<unsigned char*>(&out[0]);
    if (BN_bn2binpad(ECDSA_SIG_get0_r(sig.get()), bytes, fieldBytes) != fieldBytes ||
        BN_bn2binpad(ECDSA_SIG_get0_s(sig.get()), bytes + fieldBytes, fieldBytes) != fieldBytes)
        return std::string();
    return out;
}

}  // namespace

corvane::VerifiedLogin aliceLogin() {
    corvane::VerifiedLogin login;
    login.idpEntityId = kLogoutIdp;
    login.nameId = "alice-7f3a";
    login.nameIdFormat = kPersistent;
    login.nameQualifier = kLogoutIdp;
    login.spNameQualifier = kSpEntity;
    login.sessionIndex = "_session-1";
    return login;
}

IdpMessage IdpMessage::request() {
    IdpMessage m;
    m.element = "LogoutRequest";
    m.id = "_idp-logout-request-1";
    m.inResponseTo.clear();
    return m;
}

std::string IdpMessage::xml() const {
    const bool response = element == "LogoutResponse";
    std::string text = "<samlp:" + element +
                       " xmlns:samlp=\"urn:oasis:names:tc:SAML:2.0:protocol\" "
                       "xmlns:saml=\"urn:oasis:names:tc:SAML:2.0:assertion\"" +
                       attributeText("ID", id) + " Version=\"2.0\"" +
                       attributeText("IssueInstant", issueInstant) +
                       attributeText("Destination", destination) +
                       attributeText("InResponseTo", response ? inResponseTo : "") +
                       attributeText("NotOnOrAfter", response ? "" : notOnOrAfter) + ">" +
                       (issuer.empty() ? "" : "<saml:Issuer>" + issuer + "</saml:Issuer>") +
                       (signatureTemplate ? signatureTemplateFor(*this) : "") + extensions;
    if (response) {
        text +=
            "<samlp:Status><samlp:StatusCode Value=\"" + statusCode + "\">" +
            (secondStatusCode.empty() ? ""
                                      : "<samlp:StatusCode Value=\"" + secondStatusCode + "\"/>") +
            "</samlp:StatusCode>" +
            (statusMessage.empty()
                 ? ""
                 : "<samlp:StatusMessage>" + statusMessage + "</samlp:StatusMessage>") +
            "</samlp:Status>";
    } else {
        text += nameId + sessionIndexes;
    }
    return text + "</samlp:" + element + ">";
}

std::string signedWith(const std::string& privateKeyPem, const std::string& sigAlg,
                       const std::string& octets) {
    std::unique_ptr<BIO, decltype(&BIO_free)> bio(
        BIO_new_mem_buf(privateKeyPem.data(), static_cast<int>(privateKeyPem.size())), BIO_free);
    std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> key(
        PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr), EVP_PKEY_free);
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> md(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    std::size_t size = 0;
    if (!key || !md ||
        EVP_DigestSignInit(md.get(), nullptr, digestOf(sigAlg), nullptr, key.get()) != 1 ||
        EVP_DigestSign(md.get(), nullptr, &size,
                       reinterpret_cast<const unsigned char*>(octets.data()), octets.size()) != 1) {
        ADD_FAILURE() << "OpenSSL could not sign";
        return std::string();
    }
    std::string signature(size, '\0');
    if (EVP_DigestSign(md.get(), reinterpret_cast<unsigned char*>(&signature[0]), &size,
                       reinterpret_cast<const unsigned char*>(octets.data()), octets.size()) != 1) {
        ADD_FAILURE() << "OpenSSL could not sign";
        return std::string();
    }
    signature.resize(size);
    if (EVP_PKEY_base_id(key.get()) == EVP_PKEY_EC)
        return rawEcdsa(signature, (EVP_PKEY_bits(key.get()) + 7) / 8);
    return signature;
}

std::string EncodedQuery::query() const {
    return joined(relayState.empty()
                      ? std::vector<std::string>{message, sigAlg, signature}
                      : std::vector<std::string>{message, relayState, sigAlg, signature});
}

EncodedQuery idpQuery(const std::string& parameter, const std::string& xml, bool hasRelayState,
                      const std::string& relayState, const std::string& sigAlg,
                      const std::string& privateKeyPem, Hex hex, bool plusForSpace) {
    EncodedQuery q;
    q.message = parameter + "=" + urlEncoded(base64Of(rawDeflated(xml)), hex);
    if (hasRelayState) q.relayState = "RelayState=" + urlEncoded(relayState, hex, plusForSpace);
    q.sigAlg = "SigAlg=" + urlEncoded(sigAlg, hex);
    q.signedOctets = q.message + (hasRelayState ? "&" + q.relayState : "") + "&" + q.sigAlg;
    q.signature =
        "Signature=" + urlEncoded(base64Of(signedWith(privateKeyPem, sigAlg, q.signedOctets)), hex);
    return q;
}

std::string joined(const std::vector<std::string>& parts) {
    std::string out;
    for (const std::string& part : parts) out += (out.empty() ? "" : "&") + part;
    return out;
}

std::string xmlsec1Signed(const std::string& xml, const std::string& privateKeyPem,
                          const std::string& element) {
    TempFile in(xml), key(privateKeyPem), out("");
    const ToolOutcome o =
        runTool(std::string(CORVANE_XMLSEC1) + " --sign --privkey-pem " + key.path() +
                " --id-attr:ID urn:oasis:names:tc:SAML:2.0:protocol:" + element + " --output " +
                out.path() + " " + in.path());
    if (o.exitStatus != 0) {
        ADD_FAILURE() << "xmlsec1 could not sign:\n" << o.output;
        return std::string();
    }
    return readFile(out.path());
}

bool xmlsec1Verifies(const std::string& xml, const std::string& certificatePem,
                     const std::string& element) {
    TempFile in(xml), cert(certificatePem);
    return runTool(std::string(CORVANE_XMLSEC1) + " --verify --pubkey-cert-pem " + cert.path() +
                   " --id-attr:ID urn:oasis:names:tc:SAML:2.0:protocol:" + element + " " +
                   in.path())
               .exitStatus == 0;
}

bool opensslVerifies(const std::string& certificatePem, const std::string& sigAlg,
                     const std::string& octets, const std::string& signature) {
    std::unique_ptr<BIO, decltype(&BIO_free)> bio(
        BIO_new_mem_buf(certificatePem.data(), static_cast<int>(certificatePem.size())), BIO_free);
    std::unique_ptr<X509, decltype(&X509_free)> cert(
        PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr), X509_free);
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> md(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    return cert && md &&
           EVP_DigestVerifyInit(md.get(), nullptr, digestOf(sigAlg), nullptr,
                                X509_get0_pubkey(cert.get())) == 1 &&
           EVP_DigestVerify(md.get(), reinterpret_cast<const unsigned char*>(signature.data()),
                            signature.size(), reinterpret_cast<const unsigned char*>(octets.data()),
                            octets.size()) == 1;
}

}  // namespace corvane_test
