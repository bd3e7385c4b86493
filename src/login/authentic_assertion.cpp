// The assertion of a login response made authentic: the plain assertion
// with its signatures, or the encrypted one decrypted into a document of
// its own, only after the signature over its cipher text held.
#include <libxml/tree.h>

#include "Corvane.h"
#include "frame/call_scope.h"
#include "frame/handles.h"
#include "login/login_internal.h"
#include "xml/namespaces.h"
#include "xml/parse.h"
#include "xml/screening.h"
#include "xml/tree.h"
#include "xmldsig/decryption.h"

namespace corvane {
namespace internal {

namespace {

const char kAssertionCount[] = "SAML response carries %d assertions, not exactly one";
const char kNoDecryptionKey[] =
    "Login expectations are incomplete: the response carries an %s, but no SP decryption key "
    "is given";
const char kNotDecrypted[] = "SAML %s could not be decrypted with the SP decryption keys";
const char kCbcNeedsResponseSignature[] =
    "SAML response encrypts its assertion with AES-CBC but the Response is not signed: the IdP "
    "must sign the Response or encrypt with AES-GCM (allowCbcWithoutResponseSignature accepts "
    "it as it is)";

// AES-CBC gives an attacker who can change the cipher text a decryption
// oracle (the 2011 attack on XML Encryption); a verified Response
// signature over the cipher text rules that out. Without one, CBC is
// refused unless the host accepted that risk by name.
int cbcOnlyUnderResponseSignature(const EncryptedElement& encrypted, bool responseSigned,
                                  const LoginExpectations& expected) {
    if (!isCbc(encrypted.cipher) || responseSigned || expected.allowCbcWithoutResponseSignature)
        return 0;
    CorvaneBase::setErrorMessage(kCbcNeedsResponseSignature);
    return -7;
}

// The decrypted plaintext as a document of its own, read by the one
// hardened parse, whose root is the one saml:<rootName> and nothing beside
// it. Every failure, from a key that does not unwrap to a plaintext that
// does not parse, gives the one message of kNotDecrypted; the details go
// to the log at level 3 only.
int decryptToDocument(xmlNode* element, const EncryptedElement& encrypted,
                      const LoginExpectations& expected, const char* rootName, XmlDocPtr* out) {
    XmlDocPtr plain;
    {
        CallScope detailsOnly(CallScope::Delivery::DetailsOnly);
        std::string plaintext;
        const bool decrypted = decryptElement(encrypted, expected.spDecryptionKeys, &plaintext);
        ScreenedText screened;
        if (decrypted && screenResponseText(plaintext, &screened))
            plain.reset(parseScreenedXml(screened));
        xmlNode* root = plain ? xmlDocGetRootElement(plain.get()) : nullptr;
        if (root != nullptr && !isElement(root, kSamlAssertionNs, rootName)) {
            CorvaneBase::writeToLog(3, "Encrypted data: the plaintext's root is not saml:%s",
                                    rootName);
            plain.reset();
        }
    }
    if (!plain) {
        CorvaneBase::setErrorMessage(kNotDecrypted, reinterpret_cast<const char*>(element->name));
        return -7;
    }
    *out = std::move(plain);
    return 0;
}

int requireDecryptionKey(const xmlNode* element, const LoginExpectations& expected) {
    if (!expected.spDecryptionKeys.empty()) return 0;
    CorvaneBase::setErrorMessage(kNoDecryptionKey, reinterpret_cast<const char*>(element->name));
    return -9;
}

int plainAssertion(xmlDoc* doc, xmlNode* assertion, const LoginExpectations& expected,
                   AuthenticAssertion* out) {
    const int status = verifyAssertionSignatures(
        doc, assertion, verificationKeys(expected.idpCertificates), expected.allowSha1);
    if (status == 0) out->assertion = assertion;
    return status;
}

// The Response signature, when present, covers the cipher text: it is
// verified before any key is touched, so a changed cipher text is refused
// without a single decryption.
int decryptedOnlyAfterResponseVerified(xmlDoc* doc, xmlNode* encryptedAssertion,
                                       const LoginExpectations& expected, const KeySet& keys,
                                       XmlDocPtr* plain) {
    xmlNode* response = xmlDocGetRootElement(doc);
    EncryptedElement encrypted;
    int status = checkDocumentStructure(doc);
    if (status == 0)
        status = readEncryptedElement(encryptedAssertion, expected.maxMessageBytes, &encrypted);
    if (status == 0)
        status = cbcOnlyUnderResponseSignature(encrypted, carriesOwnSignature(response), expected);
    if (status == 0) status = verifyOwnSignature(doc, response, keys, expected.allowSha1);
    if (status == 0) status = requireDecryptionKey(encryptedAssertion, expected);
    if (status == 0)
        status = decryptToDocument(encryptedAssertion, encrypted, expected, "Assertion", plain);
    return status;
}

// The decrypted assertion is authentic through the Response signature
// verified before decryption, or through its own signature; a signature
// it carries must verify either way.
int decryptedAssertion(xmlDoc* doc, xmlNode* encryptedAssertion, const LoginExpectations& expected,
                       AuthenticAssertion* out) {
    const KeySet keys = verificationKeys(expected.idpCertificates);
    XmlDocPtr plain;
    int status =
        decryptedOnlyAfterResponseVerified(doc, encryptedAssertion, expected, keys, &plain);
    if (status != 0) return status;
    xmlNode* assertion = xmlDocGetRootElement(plain.get());
    status = checkDocumentStructure(plain.get());
    if (status != 0) return status;
    if (!carriesOwnSignature(xmlDocGetRootElement(doc)) && !carriesOwnSignature(assertion))
        return refuseUnsigned();
    status = verifyOwnSignature(plain.get(), assertion, keys, expected.allowSha1);
    if (status != 0) return status;
    out->assertion = assertion;
    out->decryptedDocument = std::move(plain);
    out->encrypted = true;
    return 0;
}

// Decrypts one EncryptedID or EncryptedAttribute and puts what it holds
// in its place.
int replaceByDecrypted(xmlNode* element, const char* rootName, const LoginExpectations& expected) {
    EncryptedElement encrypted;
    XmlDocPtr plain;
    int status = readEncryptedElement(element, expected.maxMessageBytes, &encrypted);
    if (status == 0) status = requireDecryptionKey(element, expected);
    if (status == 0) status = decryptToDocument(element, encrypted, expected, rootName, &plain);
    if (status != 0) return status;
    xmlNode* copy = xmlDocCopyNode(xmlDocGetRootElement(plain.get()), element->doc, 1);
    if (copy == nullptr) {
        CorvaneBase::setErrorMessage(kNotDecrypted, reinterpret_cast<const char*>(element->name));
        return -7;
    }
    xmlReplaceNode(element, copy);
    xmlFreeNode(element);
    return 0;
}

}  // namespace

int authenticAssertion(xmlDoc* doc, const LoginExpectations& expected, AuthenticAssertion* out) {
    xmlNode* response = xmlDocGetRootElement(doc);
    const std::vector<xmlNode*> plain = childElements(response, kSamlAssertionNs, "Assertion");
    const std::vector<xmlNode*> encrypted =
        childElements(response, kSamlAssertionNs, "EncryptedAssertion");
    if (plain.size() + encrypted.size() != 1) {
        CorvaneBase::setErrorMessage(kAssertionCount,
                                     static_cast<int>(plain.size() + encrypted.size()));
        return -10;
    }
    if (!plain.empty()) return plainAssertion(doc, plain.front(), expected, out);
    return decryptedAssertion(doc, encrypted.front(), expected, out);
}

int decryptIdentifiersInPlace(xmlNode* assertion, const LoginExpectations& expected) {
    int status = 0;
    xmlNode* subject = firstChildElement(assertion, kSamlAssertionNs, "Subject");
    for (xmlNode* id : childElements(subject, kSamlAssertionNs, "EncryptedID")) {
        if (status == 0) status = replaceByDecrypted(id, "NameID", expected);
    }
    for (xmlNode* statement : childElements(assertion, kSamlAssertionNs, "AttributeStatement")) {
        for (xmlNode* attribute :
             childElements(statement, kSamlAssertionNs, "EncryptedAttribute")) {
            if (status == 0) status = replaceByDecrypted(attribute, "Attribute", expected);
        }
    }
    return status;
}

}  // namespace internal
}  // namespace corvane
