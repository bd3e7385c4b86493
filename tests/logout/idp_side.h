// The IdP's side of single logout, made at test time independently of the
// library: logout messages written as text, HTTP-Redirect queries deflated
// with zlib, encoded with upper- or lower-case escapes and signed with
// OpenSSL over the exact octets, and POST messages signed with the xmlsec1
// tool. Keys are generated at run time (generated_keys.h).
#ifndef CORVANE_TEST_LOGOUT_IDP_SIDE_H
#define CORVANE_TEST_LOGOUT_IDP_SIDE_H

#include <string>
#include <vector>

#include <corvane/login.h>

#include "redirect_codec.h"

namespace corvane_test {

extern const char kLogoutIdp[];
extern const char kSpEntity[];
extern const char kSpSlo[];
extern const char kIdpSlo[];
extern const char kSpRequestId[];
extern const char kInstant[];  // every message's IssueInstant
extern const long long kInstantSeconds;
extern const char kPersistent[];

extern const char kRsaSha1[];
extern const char kRsaSha256[];
extern const char kRsaSha384[];
extern const char kRsaSha512[];
extern const char kEcdsaSha256[];

// The login of the subject the IdP's messages name: alice-7f3a, persistent,
// both qualifiers, session _session-1.
corvane::VerifiedLogin aliceLogin();

// A LogoutRequest or LogoutResponse as an IdP writes it; an empty
// attribute value leaves the attribute out.
struct IdpMessage {
    std::string element = "LogoutResponse";
    std::string id = "_idp-message-1";
    std::string issuer = kLogoutIdp;
    std::string destination = kSpSlo;
    std::string issueInstant = kInstant;
    std::string inResponseTo = kSpRequestId;  // responses only
    std::string statusCode = "urn:oasis:names:tc:SAML:2.0:status:Success";
    std::string secondStatusCode;
    std::string statusMessage;
    std::string notOnOrAfter;  // requests only
    std::string nameId =
        "<saml:NameID Format=\"urn:oasis:names:tc:SAML:2.0:nameid-format:persistent\" "
        "NameQualifier=\"https://idp.example.test/logout-test-only\" "
        "SPNameQualifier=\"https://sp.example.test/metadata\">alice-7f3a</saml:NameID>";
    std::string sessionIndexes = "<samlp:SessionIndex>_session-1</samlp:SessionIndex>";
    // Raw XML placed right after the signature (samlp:Extensions, ...).
    std::string extensions;
    // An empty enveloped ds:Signature template after saml:Issuer
    // (Reference "#" + id), for signing with the xmlsec1 tool.
    bool signatureTemplate = false;
    std::string signatureMethod = kRsaSha256;
    std::string digestMethod = "http://www.w3.org/2001/04/xmlenc#sha256";

    static IdpMessage request();
    std::string xml() const;
};

// The signature of octets by the PEM private key with the method a SigAlg
// URI names (RSA PKCS#1 v1.5; ECDSA as r || s), or empty after a failure.
std::string signedWith(const std::string& privateKeyPem, const std::string& sigAlg,
                       const std::string& octets);

// The encoded parameters of a Redirect message, and the octets signed.
struct EncodedQuery {
    std::string message;     // "SAMLResponse=..." or "SAMLRequest=..."
    std::string relayState;  // "RelayState=..." or empty when none
    std::string sigAlg;      // "SigAlg=..."
    std::string signature;   // "Signature=..."
    std::string signedOctets;
    // The parts joined in the binding's order.
    std::string query() const;
};

// xml deflated, in base64, encoded with hex; relayState (when hasRelayState)
// encoded the same way (with plusForSpace for its spaces); signed over
// "PARAM=m[&RelayState=r]&SigAlg=a" by privateKeyPem with sigAlg.
EncodedQuery idpQuery(const std::string& parameter, const std::string& xml, bool hasRelayState,
                      const std::string& relayState, const std::string& sigAlg,
                      const std::string& privateKeyPem, Hex hex = Hex::Upper,
                      bool plusForSpace = false);

// parts joined with '&'.
std::string joined(const std::vector<std::string>& parts);

// The first ds:Signature template of xml signed by the xmlsec1 tool with
// the PEM private key, the ID attributes of the protocol element named
// registered; fails the test and returns empty text when it cannot.
std::string xmlsec1Signed(const std::string& xml, const std::string& privateKeyPem,
                          const std::string& element);

// The xmlsec1 tool verifies the first ds:Signature of xml with the PEM
// certificate, the ID attributes of the protocol element named registered.
bool xmlsec1Verifies(const std::string& xml, const std::string& certificatePem,
                     const std::string& element);

// OpenSSL verifies signature over octets with the PEM certificate and the
// RSA digest a SigAlg URI names.
bool opensslVerifies(const std::string& certificatePem, const std::string& sigAlg,
                     const std::string& octets, const std::string& signature);

}  // namespace corvane_test

#endif
