// The namespace URIs of SAML 2.0, XML Signature and XML Encryption, written
// once.
#ifndef CORVANE_XML_NAMESPACES_H
#define CORVANE_XML_NAMESPACES_H

namespace corvane {
namespace internal {

constexpr char kSamlAssertionNs[] = "urn:oasis:names:tc:SAML:2.0:assertion";
constexpr char kSamlProtocolNs[] = "urn:oasis:names:tc:SAML:2.0:protocol";
constexpr char kSamlMetadataNs[] = "urn:oasis:names:tc:SAML:2.0:metadata";
// The same text as xmlsec1's xmlSecDSigNs, for code that reads trees
// with plain char strings.
constexpr char kDsigNs[] = "http://www.w3.org/2000/09/xmldsig#";
// XML Encryption 1.0 and the 1.1 additions (RSA-OAEP, AES-GCM, MGF).
constexpr char kXmlEncNs[] = "http://www.w3.org/2001/04/xmlenc#";
constexpr char kXmlEnc11Ns[] = "http://www.w3.org/2009/xmlenc11#";

}  // namespace internal
}  // namespace corvane

#endif
