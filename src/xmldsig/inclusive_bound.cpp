// Inclusive canonicalization has each element re-emit (and libxml2
// re-examine) every namespace declaration in scope, so a chain of nested
// declarations costs time quadratic in its length. IdPs canonicalize their
// References exclusively; an inclusive one is accepted only over documents
// whose inclusive canonical form stays within a bound.
#include <limits>
#include <vector>

#include <xmlsec/strings.h>
#include <xmlsec/xmltree.h>

#include "Corvane.h"
#include "xmldsig/verifier.h"

namespace corvane {
namespace internal {

// 8 MiB: an order of magnitude above the largest responses IdPs send (a
// few KB, a few hundred KB with many attributes), and small enough that
// libxml2's inclusive c14n over it stays a matter of milliseconds. The
// attack this stops (a 1 MB chain of nested declarations) estimates at
// gigabytes.
const std::size_t kInclusiveCanonicalBound = 8u << 20;

namespace {

// xmlns:prefix="href" and the space before it.
const std::size_t kDeclarationOverhead = 10;
// <name ...></name> besides the name twice.
const std::size_t kElementOverhead = 5;
// name="value" besides the name and the value.
const std::size_t kAttributeOverhead = 4;

std::size_t saturatingAdd(std::size_t a, std::size_t b) {
    return b > std::numeric_limits<std::size_t>::max() - a ? std::numeric_limits<std::size_t>::max()
                                                           : a + b;
}

std::size_t length(const xmlChar* text) {
    return text ? static_cast<std::size_t>(xmlStrlen(text)) : 0;
}

std::size_t declarationBytes(const xmlNode* element) {
    std::size_t bytes = 0;
    for (const xmlNs* ns = element->nsDef; ns != nullptr; ns = ns->next)
        bytes = saturatingAdd(bytes, length(ns->prefix) + length(ns->href) + kDeclarationOverhead);
    return bytes;
}

std::size_t ownBytes(const xmlNode* element) {
    std::size_t bytes = 2 * length(element->name) + kElementOverhead;
    for (const xmlAttr* attr = element->properties; attr != nullptr; attr = attr->next) {
        bytes = saturatingAdd(bytes, length(attr->name) + kAttributeOverhead);
        for (const xmlNode* text = attr->children; text != nullptr; text = text->next)
            bytes = saturatingAdd(bytes, length(text->content));
    }
    return bytes;
}

bool isCharacterData(const xmlNode* node) {
    return node->type == XML_TEXT_NODE || node->type == XML_CDATA_SECTION_NODE;
}

bool algorithmIs(const xmlChar* algorithm, const xmlChar* const* hrefs, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i)
        if (xmlStrEqual(algorithm, hrefs[i])) return true;
    return false;
}

// The Reference's digest input is inclusively canonical XML: it names one
// of the four inclusive c14n transforms, or no canonicalization at all, in
// which case xmlsec1 turns the node set into octets with inclusive c14n.
bool referenceCanonicalizesInclusively(xmlNode* reference) {
    const xmlChar* const inclusive[] = {xmlSecHrefC14N, xmlSecHrefC14NWithComments,
                                        xmlSecHrefC14N11, xmlSecHrefC14N11WithComments};
    const xmlChar* const exclusive[] = {xmlSecHrefExcC14N, xmlSecHrefExcC14NWithComments};
    bool canonicalized = false;
    xmlNode* transforms = xmlSecFindChild(reference, xmlSecNodeTransforms, xmlSecDSigNs);
    for (xmlNode* t = transforms ? xmlSecGetNextElementNode(transforms->children) : nullptr;
         t != nullptr; t = xmlSecGetNextElementNode(t->next)) {
        XmlCharPtr algorithm(xmlGetNoNsProp(t, xmlSecAttrAlgorithm));
        if (!algorithm) continue;
        if (algorithmIs(algorithm.get(), inclusive, 4)) return true;
        if (algorithmIs(algorithm.get(), exclusive, 2)) canonicalized = true;
    }
    return !canonicalized;
}

}  // namespace

std::size_t inclusiveCanonicalEstimate(const xmlDoc* doc, std::size_t stopAbove) {
    const xmlNode* root = xmlDocGetRootElement(const_cast<xmlDoc*>(doc));
    std::size_t total = 0;
    std::vector<std::size_t> scope;  // declaration bytes in scope of each open element
    const xmlNode* node = root;
    while (node != nullptr) {
        if (node->type == XML_ELEMENT_NODE) {
            const std::size_t inScope =
                saturatingAdd(scope.empty() ? 0 : scope.back(), declarationBytes(node));
            total = saturatingAdd(total, saturatingAdd(inScope, ownBytes(node)));
            if (total > stopAbove) return total;
            if (node->children != nullptr) {
                scope.push_back(inScope);
                node = node->children;
                continue;
            }
        } else if (isCharacterData(node)) {
            total = saturatingAdd(total, length(node->content));
        }
        while (node != root && node->next == nullptr) {
            node = node->parent;
            scope.pop_back();
        }
        if (node == root) break;
        node = node->next;
    }
    return total;
}

// No Reference of the signature canonicalizes inclusively over a document
// whose inclusive canonical form could pass the bound.
bool inclusiveCanonicalFormBounded(xmlDoc* doc, xmlNode* signature) {
    xmlNode* signedInfo = xmlSecFindChild(signature, xmlSecNodeSignedInfo, xmlSecDSigNs);
    for (xmlNode* child = signedInfo ? xmlSecGetNextElementNode(signedInfo->children) : nullptr;
         child != nullptr; child = xmlSecGetNextElementNode(child->next)) {
        if (!xmlSecCheckNodeName(child, xmlSecNodeReference, xmlSecDSigNs)) continue;
        if (referenceCanonicalizesInclusively(child) &&
            inclusiveCanonicalEstimate(doc, kInclusiveCanonicalBound) > kInclusiveCanonicalBound)
            return false;
    }
    return true;
}

}  // namespace internal
}  // namespace corvane
