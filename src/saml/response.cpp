// Accepting a SAML Response and handing out its NameID.
//
// TinyXML walks the response to the NameID; libxml2 parses the same text
// once more, and that document is the one whose signature is verified and
// from which the NameID is read back. The value is handed out only when
// both readings agree, so it is always a value the IdP signed.
#include "Corvane.h"
#include "frame/handles.h"
#include "frame/messages.h"
#include "xml/parse.h"
#include "xmldsig/signature_layer.h"
#include "saml/signed_name_id.h"
#include "xml/limits.h"
#include "xml/screening.h"

namespace corvane {

namespace {

const char kNoAssertion[] = "SAML token contains no assertions";
const char kSignatureFailed[] = "Signature verification failed";
const char kNoNameId[] = "SAML token contains no valid saml:Subject/NameID";
const char kNotCovered[] = "SAML token NameID is not covered by its signature";

const TiXmlElement* firstChildNamed(const TiXmlElement* parent, const char* name) {
    return parent ? parent->FirstChildElement(name) : nullptr;
}

}  // namespace

int Corvane::verifySamlResponse(std::string& nameId, const std::string& responseXml,
                                const std::string& idpKey) {
    if (!internal::messageWithinSizeLimit(responseXml, internal::kDefaultMaxMessageBytes))
        return -8;
    internal::ScreenedText screened;
    if (!internal::screenResponseText(responseXml, &screened)) return -8;
    // The text is UTF-8 or refused above; TinyXML is told so, which makes it
    // decode character references as libxml2 does.
    TiXmlDocument document;
    document.Parse(responseXml.c_str(), nullptr, TIXML_ENCODING_UTF8);
    const TiXmlElement* root = document.FirstChildElement();
    if (document.Error() || root == nullptr) {
        setErrorMessage(internal::kMessageMalformed, document.ErrorDesc(), document.ErrorRow(), document.ErrorCol());
        return -8;
    }
    const TiXmlElement* assertion = firstChildNamed(root, "saml:Assertion");
    if (assertion == nullptr) {
        setErrorMessage(kNoAssertion);
        return -7;
    }
    internal::XmlDocPtr verified(internal::parseScreenedXml(screened));
    xmlNode* signature = nullptr;
    if (internal::verifyDocumentSignature(verified.get(), idpKey, &signature) != 0) {
        setErrorMessage(kSignatureFailed);
        return -7;
    }
    const TiXmlElement* nameIdElement =
        firstChildNamed(firstChildNamed(assertion, "saml:Subject"), "saml:NameID");
    const char* text = nameIdElement ? nameIdElement->GetText() : nullptr;
    if (text == nullptr || *text == '\0') {
        setErrorMessage(kNoNameId);
        return -7;
    }
    if (!internal::nameIdMatchesSignedTree(verified.get(), signature, text)) {
        setErrorMessage(kNotCovered);
        return -7;
    }
    nameId = text;
    return 0;
}

}  // namespace corvane
