#include "idp_samples.h"

#include <fstream>
#include <memory>
#include <sstream>

#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/valid.h>
#include <xmlsec/keys.h>
#include <xmlsec/openssl/app.h>
#include <xmlsec/xmldsig.h>
#include <xmlsec/xmltree.h>

namespace corvane_samples {

namespace {

struct DocFree {
    void operator()(xmlDoc* doc) const { xmlFreeDoc(doc); }
};
struct CtxFree {
    void operator()(xmlSecDSigCtx* ctx) const { xmlSecDSigCtxDestroy(ctx); }
};
struct XmlCharFree {
    void operator()(xmlChar* p) const { xmlFree(p); }
};

const char kDsNs[] = "http://www.w3.org/2000/09/xmldsig#";
const char kExcC14n[] = "http://www.w3.org/2001/10/xml-exc-c14n#";

// The base64 body of the first PEM block, on one line.
std::string pemBody(const std::string& pem) {
    std::istringstream lines(pem);
    std::string line;
    std::string body;
    bool inside = false;
    while (std::getline(lines, line)) {
        if (line.compare(0, 10, "-----BEGIN") == 0) {
            inside = true;
        } else if (line.compare(0, 8, "-----END") == 0) {
            break;
        } else if (inside) {
            body += line;
        }
    }
    return body;
}

std::string signatureTemplate(const ResponseShape& shape) {
    const bool sha256 = shape.digest == Digest::Sha256;
    std::string text = std::string("<ds:Signature xmlns:ds=\"") + kDsNs + "\"><ds:SignedInfo>" +
                       "<ds:CanonicalizationMethod Algorithm=\"" + kExcC14n + "\"/>" +
                       "<ds:SignatureMethod Algorithm=\"" +
                       (sha256 ? "http://www.w3.org/2001/04/xmldsig-more#rsa-sha256"
                               : "http://www.w3.org/2000/09/xmldsig#rsa-sha1") +
                       "\"/><ds:Reference URI=\"#" + shape.rootId + "\"><ds:Transforms>" +
                       "<ds:Transform Algorithm=\"" + kDsNs + "enveloped-signature\"/>" +
                       "<ds:Transform Algorithm=\"" + kExcC14n + "\"/></ds:Transforms>" +
                       "<ds:DigestMethod Algorithm=\"" +
                       (sha256 ? "http://www.w3.org/2001/04/xmlenc#sha256"
                               : "http://www.w3.org/2000/09/xmldsig#sha1") +
                       "\"/><ds:DigestValue></ds:DigestValue></ds:Reference></ds:SignedInfo>" +
                       "<ds:SignatureValue></ds:SignatureValue>";
    if (shape.keyInfo) {
        text += "<ds:KeyInfo><ds:X509Data><ds:X509Certificate>" + pemBody(idpCert()) +
                "</ds:X509Certificate></ds:X509Data></ds:KeyInfo>";
    }
    return text + "</ds:Signature>";
}

std::string attribute(const std::string& name, const std::string& friendlyName,
                      const std::vector<std::string>& values) {
    std::string text = "      <saml:Attribute Name=\"" + name +
                       "\" NameFormat=\"urn:oasis:names:tc:SAML:2.0:attrname-format:uri\" "
                       "FriendlyName=\"" + friendlyName + "\">\n";
    for (const std::string& value : values) {
        text += "        <saml:AttributeValue xsi:type=\"xs:string\">" + value +
                "</saml:AttributeValue>\n";
    }
    return text + "      </saml:Attribute>\n";
}

std::string extraAttribute(int index) {
    const std::string n = std::to_string(index);
    return attribute("urn:oid:1.3.6.1.4.1.99999.1." + n, "entitlement" + n,
                     {"urn:example:entitlement:" + n + ":read",
                      "urn:example:entitlement:" + n + ":write"});
}

std::string attributeStatement(const ResponseShape& shape) {
    if (!shape.statements && shape.extraAttributes == 0 && shape.paddingBytes == 0) return "";
    std::string text = "    <saml:AttributeStatement>\n";
    if (shape.statements) {
        text += attribute("urn:oid:0.9.2342.19200300.100.1.3", "mail", {"alice@example.test"});
        text += attribute("urn:oid:2.5.4.42", "givenName", {"Alice"});
        text += attribute("urn:oid:2.5.4.4", "sn", {"Example"});
        text += attribute("urn:oid:2.16.840.1.113730.3.1.241", "displayName", {"Alice Example"});
        text += attribute("urn:oid:1.3.6.1.4.1.5923.1.1.1.7", "eduPersonEntitlement",
                          {"urn:example:groups:staff", "urn:example:groups:engineering",
                           "urn:example:groups:vpn-users"});
    }
    for (int i = 0; i < shape.extraAttributes; ++i) text += extraAttribute(i);
    if (shape.paddingBytes > 0) {
        text += attribute("urn:example:padding", "padding", {std::string(shape.paddingBytes, 'p')});
    }
    return text + "    </saml:AttributeStatement>\n";
}

// After the NameID: the subject confirmation, conditions and authentication
// statement of a real login.
std::string statements() {
    return "      <saml:SubjectConfirmation Method=\"urn:oasis:names:tc:SAML:2.0:cm:bearer\">\n"
           "        <saml:SubjectConfirmationData NotOnOrAfter=\"2024-05-02T09:19:07Z\" "
           "Recipient=\"https://sp.example.test/saml2/acs\" "
           "InResponseTo=\"_4c1d8e0f2a3b4c5d6e7f8091a2b3c4d5\"/>\n"
           "      </saml:SubjectConfirmation>\n"
           "    </saml:Subject>\n"
           "    <saml:Conditions NotBefore=\"2024-05-02T09:13:37Z\" "
           "NotOnOrAfter=\"2024-05-02T09:19:07Z\">\n"
           "      <saml:AudienceRestriction>\n"
           "        <saml:Audience>https://sp.example.test/saml2/metadata</saml:Audience>\n"
           "      </saml:AudienceRestriction>\n"
           "    </saml:Conditions>\n"
           "    <saml:AuthnStatement AuthnInstant=\"2024-05-02T09:14:05Z\" "
           "SessionNotOnOrAfter=\"2024-05-02T17:14:07Z\" "
           "SessionIndex=\"_be9967abd904ddcae3c0eb4189adbe3f71e327cf93\">\n"
           "      <saml:AuthnContext>\n"
           "        <saml:AuthnContextClassRef>"
           "urn:oasis:names:tc:SAML:2.0:ac:classes:PasswordProtectedTransport"
           "</saml:AuthnContextClassRef>\n"
           "      </saml:AuthnContext>\n"
           "    </saml:AuthnStatement>\n";
}

std::string replaceFirst(std::string text, const std::string& from, const std::string& to) {
    const std::string::size_type at = text.find(from);
    if (at != std::string::npos) text.replace(at, from.size(), to);
    return text;
}

// Where a text position lies, counted from 1.
std::string lineAndColumn(const std::string& text, std::string::size_type pos) {
    int line = 1;
    int col = 1;
    for (std::string::size_type i = 0; i < pos; ++i) {
        if (text[i] == '\n') {
            ++line;
            col = 1;
        } else {
            ++col;
        }
    }
    return "line: " + std::to_string(line) + " col: " + std::to_string(col);
}

}  // namespace

std::string fixture(const std::string& name) {
    std::ifstream in(std::string(CORVANE_FIXTURES_DIR) + "/" + name, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string idpKey() { return fixture("test-idp-key.pem"); }
std::string idpCert() { return fixture("test-idp-cert.pem"); }
std::string spKeyAndCert() { return fixture("test-sp-key-and-cert.pem"); }
std::string spCert() { return fixture("test-sp-cert.pem"); }

std::string unsignedResponse(const ResponseShape& shape) {
    const std::string issuer = "https://idp.example.test/saml2/metadata";
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<samlp:Response xmlns:samlp=\"urn:oasis:names:tc:SAML:2.0:protocol\" "
           "xmlns:saml=\"urn:oasis:names:tc:SAML:2.0:assertion\" ID=\"" + shape.rootId +
           "\" Version=\"2.0\" IssueInstant=\"2024-05-02T09:14:07Z\" "
           "Destination=\"https://sp.example.test/saml2/acs\" "
           "InResponseTo=\"_4c1d8e0f2a3b4c5d6e7f8091a2b3c4d5\">\n"
           "  <saml:Issuer>" + issuer + "</saml:Issuer>\n  " + signatureTemplate(shape) + "\n"
           "  <samlp:Status>\n"
           "    <samlp:StatusCode Value=\"urn:oasis:names:tc:SAML:2.0:status:Success\"/>\n"
           "  </samlp:Status>\n"
           "  <saml:Assertion xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" "
           "xmlns:xs=\"http://www.w3.org/2001/XMLSchema\" "
           "ID=\"_7a6b5c4d3e2f10a9b8c7d6e5f4a3b2c1\" Version=\"2.0\" "
           "IssueInstant=\"2024-05-02T09:14:07Z\">\n"
           "    <saml:Issuer>" + issuer + "</saml:Issuer>\n"
           "    <saml:Subject>\n"
           "      <saml:NameID SPNameQualifier=\"https://sp.example.test/saml2/metadata\" "
           "Format=\"urn:oasis:names:tc:SAML:1.1:nameid-format:emailAddress\">" + shape.nameId +
           "</saml:NameID>\n" + (shape.statements ? statements() : "    </saml:Subject>\n") +
           attributeStatement(shape) +
           "  </saml:Assertion>\n"
           "</samlp:Response>\n";
}

bool signWithRootIdReference(const std::string& unsignedXml, const std::string& keyPem,
                             std::string* signedXml) {
    std::unique_ptr<xmlDoc, DocFree> doc(xmlReadMemory(
        unsignedXml.data(), static_cast<int>(unsignedXml.size()), nullptr, nullptr,
        XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING | XML_PARSE_HUGE));
    xmlNode* root = doc ? xmlDocGetRootElement(doc.get()) : nullptr;
    if (root == nullptr) return false;
    xmlAttr* idAttr = xmlHasProp(root, BAD_CAST "ID");
    if (idAttr != nullptr) {
        std::unique_ptr<xmlChar, XmlCharFree> id(xmlNodeListGetString(doc.get(), idAttr->children, 1));
        if (!id || xmlAddID(nullptr, doc.get(), id.get(), idAttr) == nullptr) return false;
    }
    xmlNode* signature = xmlSecFindNode(root, xmlSecNodeSignature, xmlSecDSigNs);
    std::unique_ptr<xmlSecDSigCtx, CtxFree> ctx(xmlSecDSigCtxCreate(nullptr));
    if (signature == nullptr || !ctx) return false;
    ctx->signKey = xmlSecOpenSSLAppKeyLoadMemory(
        reinterpret_cast<const xmlSecByte*>(keyPem.data()), static_cast<xmlSecSize>(keyPem.size()),
        xmlSecKeyDataFormatPem, nullptr, nullptr, nullptr);
    if (ctx->signKey == nullptr || xmlSecDSigCtxSign(ctx.get(), signature) < 0) return false;
    xmlChar* raw = nullptr;
    int size = 0;
    xmlDocDumpMemory(doc.get(), &raw, &size);
    std::unique_ptr<xmlChar, XmlCharFree> dumped(raw);
    if (!dumped) return false;
    signedXml->assign(reinterpret_cast<const char*>(raw), static_cast<std::size_t>(size));
    return true;
}

std::string signedResponse(const ResponseShape& shape) {
    std::string text;
    return signWithRootIdReference(unsignedResponse(shape), idpKey(), &text) ? text : std::string();
}

std::string formEncoded(const std::string& text) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (const char c : text) {
        const unsigned char byte = static_cast<unsigned char>(c);
        const bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
        out += plain ? std::string(1, c) : std::string("%") + kHex[byte >> 4] + kHex[byte & 15];
    }
    return out;
}

int extraAttributesFor(std::size_t targetBytes, ResponseShape shape) {
    shape.extraAttributes = 0;
    if (unsignedResponse(shape).size() >= targetBytes) return 0;
    shape.extraAttributes = 1;
    const std::size_t one = unsignedResponse(shape).size();
    if (one >= targetBytes) return 1;
    shape.extraAttributes = 2;
    const std::size_t perAttribute = unsignedResponse(shape).size() - one;
    return 1 + static_cast<int>((targetBytes - one + perAttribute - 1) / perAttribute);
}

namespace {

const char kFailed[] = "Signature verification failed";

// The response with the white space between its elements removed.
std::string compacted(std::string text) {
    std::string::size_type pos;
    while ((pos = text.find(">\n")) != std::string::npos) {
        std::string::size_type end = pos + 2;
        while (end < text.size() && text[end] == ' ') ++end;
        text.erase(pos + 1, end - pos - 1);
    }
    return text;
}

std::string withoutSignature(const std::string& text) {
    const std::string end = "</ds:Signature>";
    const std::string::size_type from = text.find("<ds:Signature");
    const std::string::size_type to = text.find(end);
    if (from == std::string::npos || to == std::string::npos) return text;
    return text.substr(0, from) + text.substr(to + end.size());
}

std::string nested(int depth) {
    std::string text;
    for (int i = 0; i < depth; ++i) text += "<x>";
    for (int i = 0; i < depth; ++i) text += "</x>";
    return text;
}

// Signed responses the library must accept, with the NameID it hands out.
std::vector<Case> honestCases(const std::string& honest) {
    ResponseShape sha256;
    sha256.nameId = "bob@example.test";
    sha256.digest = Digest::Sha256;
    sha256.keyInfo = false;
    ResponseShape escaped;
    escaped.nameId = "carol&amp;co&apos;o@example.test";
    ResponseShape nonAscii;
    nonAscii.nameId = "zo\xC3\xAB.&#xE5;sa@example.test";
    nonAscii.digest = Digest::Sha256;
    std::string compact;
    signWithRootIdReference(compacted(unsignedResponse(escaped)), idpKey(), &compact);
    return {
        {"honest-sha1-pretty", honest, 0, "alice@example.test", ""},
        {"honest-sha256-no-keyinfo", signedResponse(sha256), 0, "bob@example.test", ""},
        {"honest-compact-escaped", compact, 0, "carol&co'o@example.test", ""},
        {"honest-utf8-and-char-ref", signedResponse(nonAscii), 0, signedNameIds()[3], ""},
    };
}

// Rewritings that keep or break the signature and must be refused: -7
// when the text is a well-formed response that is not acceptable, -8 when
// screening refuses the text.
std::vector<Case> refusedByVerification(const std::string& honest, const ResponseShape& shape) {
    ResponseShape suffixed = shape;
    suffixed.nameId = "alice@example.test.evil.test";
    std::string otherKey;
    signWithRootIdReference(unsignedResponse(shape), spKeyAndCert(), &otherKey);
    const std::string fakeAssertion =
        "<saml:Assertion><saml:Subject><saml:NameID>admin@example.test</saml:NameID>"
        "</saml:Subject></saml:Assertion>";
    return {
        {"nameid-changed", replaceFirst(honest, ">alice@example.test<", ">admin@example.test<"),
         -7, "", kFailed},
        {"nameid-split-by-comment",
         replaceFirst(signedResponse(suffixed), "example.test.evil", "example.test<!---->.evil"),
         -7, "", "SAML token NameID is not covered by its signature"},
        {"unsigned-assertion-first",
         replaceFirst(honest, "<saml:Assertion ", fakeAssertion + "<saml:Assertion "), -7, "",
         kFailed},
        {"signed-by-another-key", otherKey, -7, "", kFailed},
        {"signature-removed", withoutSignature(honest), -7, "", kFailed},
        {"reference-to-assertion",
         replaceFirst(honest, "URI=\"#" + shape.rootId, "URI=\"#_7a6b5c4d3e2f10a9b8c7d6e5f4a3b2c1"),
         -7, "", kFailed},
    };
}

std::vector<Case> refusedByScreening(const std::string& honest) {
    const std::string anchor = "<saml:Issuer>";
    const std::string deep = replaceFirst(honest, anchor, nested(300) + anchor);
    // The root is level 1, so the 256th <x> is the first element too deep.
    const std::string deepAt = lineAndColumn(deep, deep.find("<x>") + 255 * 3);
    return {
        {"document-type-declaration",
         replaceFirst(honest, "<samlp:Response", "<!DOCTYPE r [<!ENTITY e \"x\">]>\n<samlp:Response"),
         -8, "", "SAML token must not contain a DTD"},
        {"processing-instruction", replaceFirst(honest, "<samlp:Status>", "<?x y?><samlp:Status>"),
         -8, "", "SAML token must not contain processing instructions"},
        {"nested-too-deeply", deep, -8, "",
         "Malformed XML in SAML token: elements nested too deeply " + deepAt},
        {"embedded-nul", honest + std::string(1, '\0') + "<x/>", -8, "",
         "SAML token must not contain NUL characters"},
        {"element-after-root", honest + "<x/>", -8, "",
         "SAML token must not contain anything after its root element"},
    };
}

}  // namespace

std::vector<Case> responseCases() {
    const ResponseShape shape;
    const std::string honest = signedResponse(shape);
    std::vector<Case> cases = honestCases(honest);
    for (std::vector<Case> more : {refusedByVerification(honest, shape), refusedByScreening(honest)}) {
        cases.insert(cases.end(), more.begin(), more.end());
    }
    return cases;
}

}  // namespace corvane_samples
