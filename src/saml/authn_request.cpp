// The samlp:AuthnRequest: its element tree with the signature template,
// and the creation of the signed request text.
#include <ctime>
#include <memory>
#include <sstream>

#include <xmlsec/strings.h>

#include "Corvane.h"
#include "xml/namespaces.h"
#include "frame/assertions.h"

namespace corvane {

namespace {


const char* href(const xmlChar* uri) { return reinterpret_cast<const char*>(uri); }

// Creates a child element, hands it to parent at once and returns it.
TiXmlElement* linkChild(TiXmlNode* parent, const char* name) {
    TiXmlElement* child = new TiXmlElement(name);
    parent->LinkEndChild(child);
    return child;
}

TiXmlElement* linkChildWithAlgorithm(TiXmlNode* parent, const char* name, const xmlChar* uri) {
    TiXmlElement* child = linkChild(parent, name);
    child->SetAttribute("Algorithm", href(uri));
    return child;
}

}  // namespace

std::string instantTime() {
    std::ostringstream text;
    text << static_cast<long>(std::time(nullptr));
    return text.str();
}

TiXmlElement* createDsSignatureTemplate() {
    std::unique_ptr<TiXmlElement> owner(new TiXmlElement("ds:Signature"));
    TiXmlElement* signature = owner.get();
    signature->SetAttribute("xmlns:ds", href(xmlSecDSigNs));
    TiXmlElement* signedInfo = linkChild(signature, "ds:SignedInfo");
    linkChildWithAlgorithm(signedInfo, "ds:CanonicalizationMethod", xmlSecHrefExcC14N);
    linkChildWithAlgorithm(signedInfo, "ds:SignatureMethod", xmlSecHrefRsaSha1);
    TiXmlElement* reference = linkChild(signedInfo, "ds:Reference");
    reference->SetAttribute("URI", "");
    TiXmlElement* transforms = linkChild(reference, "ds:Transforms");
    linkChildWithAlgorithm(transforms, "ds:Transform", xmlSecHrefEnveloped);
    linkChildWithAlgorithm(transforms, "ds:Transform", xmlSecHrefExcC14N);
    linkChildWithAlgorithm(reference, "ds:DigestMethod", xmlSecHrefSha1);
    linkChild(reference, "ds:DigestValue");
    linkChild(signature, "ds:SignatureValue");
    return owner.release();
}

TiXmlElement* createAuthnRequestElement(const std::string& destination, const std::string& issuer) {
    std::string id;
    const std::string issueInstant = instantTime();
    CorvaneBase::generateID(id);

    std::unique_ptr<TiXmlElement> owner(new TiXmlElement("samlp:AuthnRequest"));
    TiXmlElement* request = owner.get();
    request->SetAttribute("xmlns:samlp", internal::kSamlProtocolNs);
    request->SetAttribute("xmlns:saml", internal::kSamlAssertionNs);
    request->SetAttribute(std::string("ID"), id);
    request->SetAttribute("Version", "2.0");
    request->SetAttribute(std::string("IssueInstant"), issueInstant);
    request->SetAttribute(std::string("Destination"), destination);

    TiXmlElement* extensions = linkChild(request, "samlp:Extensions");
    linkChild(extensions, "SessionIndex")->LinkEndChild(new TiXmlText("SessionIndex"));
    linkChild(request, "saml:Issuer")->LinkEndChild(new TiXmlText(issuer));
    request->LinkEndChild(createDsSignatureTemplate());
    return owner.release();
}

int Corvane::createAuthnRequest(std::string* samlAuthnRequest, const std::string& destination,
                                const std::string& issuer, const std::string& spKeyAndCert) {
    CORVANE_ASSERT(samlAuthnRequest);
    TiXmlDocument document;
    document.LinkEndChild(new TiXmlDeclaration("1.0", "", ""));
    document.LinkEndChild(createAuthnRequestElement(destination, issuer));
    std::ostringstream text;
    text << document;
    *samlAuthnRequest = text.str();
    return signDocument(samlAuthnRequest, spKeyAndCert);
}

}  // namespace corvane
