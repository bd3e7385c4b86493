// The signatures that make an assertion authentic in a login response.
#include "Corvane.h"
#include "frame/escape.h"
#include "frame/handles.h"
#include "xml/namespaces.h"
#include "xmldsig/document_structure.h"
#include "xmldsig/signature_layer.h"
#include "xmldsig/verifier.h"
#include "login/login_internal.h"
#include "xml/tree.h"

namespace corvane {
namespace internal {

namespace {

const char kNotSigned[] =
    "SAML response is signed neither over the Response nor over the Assertion";
const char kBadReference[] =
    "SAML response signature does not refer to the element it is attached to (%s)";
const char kSha1Refused[] =
    "SAML response signature over the %s uses SHA-1, which is refused unless allowSha1 is set";
const char kNotVerified[] =
    "SAML response signature over the %s does not verify with any IdP certificate";

// A ds:Signature stands only where SAML puts one: directly under the
// Response or directly under an Assertion (nested ones in Advice included).
bool signatureWellPlaced(const xmlNode* signature) {
    const xmlNode* parent = signature->parent;
    return parent == xmlDocGetRootElement(signature->doc) ||
           isElement(parent, kSamlAssertionNs, "Assertion");
}

// The signature attached to element covers it and verifies with a key.
int verifyAttachedSignature(xmlDoc* doc, xmlNode* element, xmlNode* signature, const KeySet& keys,
                            bool allowSha1) {
    const char* what = reinterpret_cast<const char*>(element->name);
    if (!allowSha1 && signatureUsesSha1(signature)) {
        CorvaneBase::setErrorMessage(kSha1Refused, escapedForMessage(what).c_str());
        return -7;
    }
    switch (verifyEmbeddedSignature(doc, element, signature, keys)) {
        case Verdict::Verified:
            return 0;
        case Verdict::NotCovering:
            CorvaneBase::setErrorMessage(kBadReference, escapedForMessage(what).c_str());
            return -7;
        case Verdict::Refused:
            return -7;
        case Verdict::Invalid:
        case Verdict::Failed:
            break;
    }
    CorvaneBase::setErrorMessage(kNotVerified, escapedForMessage(what).c_str());
    return -7;
}

}  // namespace

int checkDocumentStructure(xmlDoc* doc) {
    std::string problem;
    if (signedDocumentSound(xmlDocGetRootElement(doc), signatureWellPlaced, "SAML response",
                            &problem))
        return 0;
    // The problem quotes an ID or an element name from the response.
    CorvaneBase::setErrorMessage("%s", escapedForMessage(problem).c_str());
    return -7;
}

int verifyOwnSignature(xmlDoc* doc, xmlNode* element, const KeySet& keys, bool allowSha1) {
    xmlNode* signature = firstChildElement(element, kDsigNs, "Signature");
    if (signature == nullptr) return 0;
    registerIdAttribute(doc, element);
    return verifyAttachedSignature(doc, element, signature, keys, allowSha1);
}

bool carriesOwnSignature(xmlNode* element) {
    return firstChildElement(element, kDsigNs, "Signature") != nullptr;
}

int refuseUnsigned() {
    CorvaneBase::setErrorMessage(kNotSigned);
    return -7;
}

int verifyAssertionSignatures(xmlDoc* doc, xmlNode* assertion, const KeySet& keys, bool allowSha1) {
    xmlNode* response = xmlDocGetRootElement(doc);
    int status = checkDocumentStructure(doc);
    if (status != 0) return status;
    if (!carriesOwnSignature(response) && !carriesOwnSignature(assertion)) return refuseUnsigned();
    status = verifyOwnSignature(doc, response, keys, allowSha1);
    if (status == 0) status = verifyOwnSignature(doc, assertion, keys, allowSha1);
    return status;
}

}  // namespace internal
}  // namespace corvane
