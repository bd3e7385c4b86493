// createAuthnRequest on arbitrary destination and issuer strings (the input
// split at its first NUL byte), with the test SP key. When both are UTF-8
// made of characters XML can carry, the request must be created (0), parse
// with libxml2, carry exactly the given Destination and Issuer, and verify
// with verifySignature and the SP certificate. Other strings may be refused
// (-8), but a request reported as created must still parse and verify.
#include <cstring>

#include <libxml/parser.h>
#include <libxml/tree.h>

#include "fuzz_support.h"

using namespace corvane_fuzz;

namespace {

// Decodes one UTF-8 sequence at text[i]; -1 when it is not well-formed.
long decodeUtf8(const std::string& text, std::size_t& i) {
    const unsigned char lead = static_cast<unsigned char>(text[i]);
    int length = lead < 0x80 ? 1 : (lead >> 5) == 6 ? 2 : (lead >> 4) == 14 ? 3 : (lead >> 3) == 30 ? 4 : 0;
    if (length == 0 || i + length > text.size()) return -1;
    long code = length == 1 ? lead : lead & (0x7F >> length);
    for (int k = 1; k < length; ++k) {
        const unsigned char c = static_cast<unsigned char>(text[i + k]);
        if ((c >> 6) != 2) return -1;
        code = (code << 6) | (c & 0x3F);
    }
    static const long minimum[] = {0, 0, 0x80, 0x800, 0x10000};
    if (code < minimum[length]) return -1;  // overlong form
    i += length;
    return code;
}

// UTF-8 text whose every character is one that XML 1.0 documents may hold.
bool isXmlText(const std::string& text) {
    for (std::size_t i = 0; i < text.size();) {
        const long c = decodeUtf8(text, i);
        const bool allowed = c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) ||
                             (c >= 0xE000 && c <= 0xFFFD) || (c >= 0x10000 && c <= 0x10FFFF);
        if (!allowed) return false;
    }
    return true;
}

std::string text(const xmlChar* value) {
    return value ? reinterpret_cast<const char*>(value) : std::string();
}

// The request parses, its Destination and its saml:Issuer text are exactly
// what was asked for.
void checkRequestCarries(const std::string& request, const std::string& destination,
                         const std::string& issuer, bool exactValues) {
    xmlDoc* doc = xmlReadMemory(request.data(), static_cast<int>(request.size()), nullptr, nullptr,
                                XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
    require(doc != nullptr, "request is not well-formed");
    xmlNode* root = xmlDocGetRootElement(doc);
    require(root != nullptr && text(root->name) == "AuthnRequest", "root is not AuthnRequest");
    xmlChar* dest = xmlGetProp(root, BAD_CAST "Destination");
    const std::string destinationSeen = text(dest);
    xmlFree(dest);
    std::string issuerSeen;
    bool issuerFound = false;
    for (xmlNode* child = root->children; child != nullptr; child = child->next) {
        if (child->type != XML_ELEMENT_NODE || text(child->name) != "Issuer") continue;
        xmlChar* content = xmlNodeGetContent(child);
        issuerSeen = text(content);
        xmlFree(content);
        issuerFound = true;
        break;
    }
    xmlFreeDoc(doc);
    require(issuerFound, "request has no Issuer");
    if (exactValues) {
        require(destinationSeen == destination, "Destination is not the value given");
        require(issuerSeen == issuer, "Issuer is not the value given");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string key = fixture("test-sp-key-and-cert.pem");
    static const std::string certificate = fixture("test-sp-cert.pem");
    corvane::CorvaneBase& saml = library();
    const std::string input(reinterpret_cast<const char*>(data), size);
    const std::size_t split = input.find('\0');
    const std::string destination = input.substr(0, split);
    const std::string issuer = split == std::string::npos ? std::string() : input.substr(split + 1);
    const bool representable = isXmlText(destination) && isXmlText(issuer);

    std::string request;
    resetCalls();
    const int status = saml.createAuthnRequest(&request, destination, issuer, key);
    require(calls().idCalls == 1, "ID callback not called exactly once");
    if (representable) require(status == 0, "request for XML-representable values not created");
    if (status != 0) {
        require(status == -8, "status other than 0, -8");
        require(calls().errors == 1, "not exactly one error message on failure");
        return 0;
    }
    require(calls().errors == 0, "created with an error message");
    checkRequestCarries(request, destination, issuer, representable);
    resetCalls();
    require(corvane::verifySignature(request, certificate) == 0,
            "request does not verify with the SP certificate");
    return 0;
}
