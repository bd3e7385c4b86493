// SAML responses made the way identity providers make them, for the fuzz
// seeds, the benchmarks and the soak and thread tests: a realistic response
// (conditions, authentication statement, attributes) signed with the test IdP
// key through the bare libxml2 + xmlsec1 API, enveloped, exclusive c14n, one
// Reference to "#" + the root's ID. Also the hostile rewritings of such a
// response that the library must refuse, each with its expected outcome.
#ifndef CORVANE_IDP_SAMPLES_H
#define CORVANE_IDP_SAMPLES_H

#include <cstddef>
#include <string>
#include <vector>

namespace corvane_samples {

enum class Digest { Sha1, Sha256 };

struct ResponseShape {
    std::string nameId = "alice@example.test";
    std::string rootId = "_9f1c2b7e4d5a40c3b8e6f0a1d2c3b4a5";
    Digest digest = Digest::Sha1;
    // The X.509 certificate in ds:KeyInfo, as most IdPs send it.
    bool keyInfo = true;
    // Subject confirmation, conditions, authentication statement and five
    // usual attributes; without them the smallest response that still has
    // everything the library reads.
    bool statements = true;
    // Extra saml:Attribute elements after the usual ones.
    int extraAttributes = 0;
    // Bytes of plain text in one extra attribute value (no NameID in it).
    std::size_t paddingBytes = 0;
};

// Text of a file in tests/fixtures.
std::string fixture(const std::string& name);
std::string idpKey();
std::string idpCert();
std::string spKeyAndCert();
std::string spCert();

// The response with an empty signature template directly under the root.
std::string unsignedResponse(const ResponseShape& shape);

// Signs the first ds:Signature template of the document with the PEM private
// key: the root's ID attribute is registered first, so a Reference "#ID"
// resolves to the root. False (and *signedXml untouched) on any failure.
bool signWithRootIdReference(const std::string& unsignedXml, const std::string& keyPem,
                             std::string* signedXml);

// unsignedResponse(shape) signed with the test IdP key; empty on failure.
std::string signedResponse(const ResponseShape& shape);

// The smallest number of extra attributes that makes the unsigned response
// at least targetBytes long.
int extraAttributesFor(std::size_t targetBytes, ResponseShape shape);

// Every NameID that the sample responses are ever signed for, as the
// library hands it out. A response accepted with any other NameID was
// forged. (Inline: the fuzz targets use it without linking the samples.)
inline const std::vector<std::string>& signedNameIds() {
    static const std::vector<std::string> names = {
        "alice@example.test",      "bob@example.test",
        "carol&co'o@example.test", "zo\xC3\xAB.\xC3\xA5sa@example.test",
        "alice@example.test.evil.test",
    };
    return names;
}

// text as an application/x-www-form-urlencoded body carries a field: every
// byte but ASCII letters and digits written as %XX.
std::string formEncoded(const std::string& text);

// A response and what verifySamlResponse must make of it with the test IdP
// certificate: the status, the NameID on success, and the last message the
// error callback receives (empty: none at all).
struct Case {
    std::string name;
    std::string text;
    int status;
    std::string nameId;
    std::string lastError;
};

// Honest responses (SHA-1 and SHA-256, pretty and compact) and hostile
// rewritings of them: a changed NameID, a comment splitting the NameID, an
// unsigned assertion placed first, a DTD, a processing instruction, deep
// nesting, the signature removed, a Reference to another element, a
// truncated text.
std::vector<Case> responseCases();

}  // namespace corvane_samples

#endif
