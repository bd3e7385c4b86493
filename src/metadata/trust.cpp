// Whether a metadata document may be read at all: unique IDs, and the one
// signature over its root element by a key the host pinned. An aggregate
// is trusted as a whole or not at all; a signature on an inner element
// never stands in for the root's.
#include <set>

#include "Corvane.h"
#include "frame/escape.h"
#include "frame/handles.h"
#include "metadata/metadata_internal.h"
#include "xml/namespaces.h"
#include "xml/tree.h"
#include "xmldsig/signature_layer.h"
#include "xmldsig/verifier.h"

namespace corvane {
namespace internal {

namespace {

const char kRepeatedId[] = "IdP metadata contains the ID \"%s\" more than once";
const char kNotSigned[] = "IdP metadata is not signed";
const char kSignedInsideOnly[] =
    "IdP metadata is signed only on an element inside its root, not on the root";
const char kSeveralSignatures[] =
    "IdP metadata carries more than one signature on its root element";
const char kSha1Refused[] =
    "IdP metadata signature uses SHA-1, which is refused unless allowSha1 is set";
const char kNotCovering[] = "IdP metadata signature does not refer to its root element";
const char kNotVerified[] = "IdP metadata signature does not verify with any pinned signer key";

const int kNotAuthentic = -7;

// What one walk over every element finds: an ID given twice (the first
// such), and whether any ds:Signature stands anywhere.
struct DocumentWalk {
    bool repeatedId = false;
    std::string repeated;
    bool anySignature = false;
};

DocumentWalk walkDocument(xmlNode* root) {
    DocumentWalk walk;
    std::set<std::string> seen;
    for (xmlNode* node = root; node != nullptr; node = nextElementInDocumentOrder(root, node)) {
        if (isElement(node, kDsigNs, "Signature")) walk.anySignature = true;
        for (xmlAttr* attr = node->properties; attr != nullptr; attr = attr->next) {
            if (!isIdAttribute(attr)) continue;
            XmlCharPtr value(xmlNodeListGetString(node->doc, attr->children, 1));
            const std::string text = value ? reinterpret_cast<const char*>(value.get()) : "";
            if (!seen.insert(text).second) {
                walk.repeatedId = true;
                walk.repeated = text;
                return walk;
            }
        }
    }
    return walk;
}

// The one ds:Signature directly under the root, or null after one message.
xmlNode* rootSignature(xmlNode* root, const DocumentWalk& walk) {
    const std::vector<xmlNode*> signatures = childElements(root, kDsigNs, "Signature");
    if (signatures.size() > 1) {
        CorvaneBase::setErrorMessage(kSeveralSignatures);
        return nullptr;
    }
    if (signatures.empty()) {
        CorvaneBase::setErrorMessage(walk.anySignature ? kSignedInsideOnly : kNotSigned);
        return nullptr;
    }
    return signatures.front();
}

// The root's signature covers the root and verifies with a pinned key.
int verifyRootSignature(xmlDoc* doc, xmlNode* root, xmlNode* signature,
                        const IdpMetadataOptions& options) {
    if (!options.allowSha1 && signatureUsesSha1(signature)) {
        CorvaneBase::setErrorMessage(kSha1Refused);
        return kNotAuthentic;
    }
    registerIdAttribute(doc, root);
    switch (verifyEmbeddedSignature(doc, root, signature, verificationKeys(options.signerKeys))) {
        case Verdict::Verified:
            return 0;
        case Verdict::NotCovering:
            CorvaneBase::setErrorMessage(kNotCovering);
            return kNotAuthentic;
        case Verdict::Refused:
            return kNotAuthentic;
        case Verdict::Invalid:
        case Verdict::Failed:
            break;
    }
    CorvaneBase::setErrorMessage(kNotVerified);
    return kNotAuthentic;
}

}  // namespace

int verifyMetadataRoot(xmlDoc* doc, const IdpMetadataOptions& options) {
    xmlNode* root = xmlDocGetRootElement(doc);
    const DocumentWalk walk = walkDocument(root);
    if (walk.repeatedId) {
        CorvaneBase::setErrorMessage(kRepeatedId, escapedForMessage(walk.repeated).c_str());
        return kNotAuthentic;
    }
    // The host trusts the transport instead (a named opt-in, without keys).
    if (options.trustUnsignedMetadata) return 0;
    xmlNode* signature = rootSignature(root, walk);
    if (signature == nullptr) return kNotAuthentic;
    return verifyRootSignature(doc, root, signature, options);
}

}  // namespace internal
}  // namespace corvane
