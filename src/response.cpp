// Accepting a SAML Response and handing out its NameID.
#include "internal.h"

namespace corvane {

namespace {

const char kMalformed[] = "Malformed XML in SAML token: %s line: %d col: %d";
const char kNoAssertion[] = "SAML token contains no assertions";
const char kSignatureFailed[] = "Signature verification failed";
const char kNoNameId[] = "SAML token contains no valid saml:Subject/NameID";

const TiXmlElement* firstChildNamed(const TiXmlElement* parent, const char* name) {
    return parent ? parent->FirstChildElement(name) : nullptr;
}

}  // namespace

int Corvane::verifySamlResponse(std::string& nameId, const std::string& responseXml,
                                const std::string& idpKey) {
    TiXmlDocument document;
    document.Parse(responseXml.c_str(), nullptr, TIXML_ENCODING_UNKNOWN);
    const TiXmlElement* root = document.FirstChildElement();
    if (document.Error() || root == nullptr) {
        setErrorMessage(kMalformed, document.ErrorDesc(), document.ErrorRow(),
                        document.ErrorCol());
        return -8;
    }
    const TiXmlElement* assertion = firstChildNamed(root, "saml:Assertion");
    if (assertion == nullptr) {
        setErrorMessage(kNoAssertion);
        return -7;
    }
    if (verifySignature(responseXml, idpKey) != 0) {
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
    nameId = text;
    return 0;
}

}  // namespace corvane
