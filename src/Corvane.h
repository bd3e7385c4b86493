// corvane: SAML 2.0 service-provider single sign-on in memory.
//
// A host obtains the one helper object with CorvaneBase::getHelper, starts
// the XML security libraries with initHelper, then builds signed
// AuthnRequests and verifies signed Responses any number of times, and
// calls finiHelper after the last operation. Everything crosses the
// boundary as std::string; every failure, diagnostic and xmlsec1 error is
// reported through the three callbacks given to the first getHelper call.
//
// Status codes:
//    0  success
//    1  verifySignature only: the signature was processed and is not valid
//   -1  initHelper: a start-up step failed (reason logged at level 1)
//   -7  verifySamlResponse: the response is well-formed but not acceptable
//   -8  the document is unusable or the signature work failed
//
// Compile with the include flags of libxml-2.0, xmlsec1-openssl and
// TinyXML (built with TIXML_USE_STL); link with -lcorvane.
#ifndef CORVANE_CORVANE_H
#define CORVANE_CORVANE_H

#include <string>

#include <boost/shared_ptr.hpp>
#include <libxml/tree.h>
#include <xmlsec/xmldsig.h>

#ifndef TIXML_USE_STL
#define TIXML_USE_STL
#endif
#include <tinyxml.h>

namespace corvane {

// Receives every log line: level 1 errors (start-up failures and every
// error xmlsec1 reports), 2 warnings, 3 diagnostic detail.
typedef void (*LogCallback)(int level, const std::string& message);
// Receives the description of every failure, once per failure.
typedef void (*ErrorCallback)(const std::string& message);
// Fills the given string with a fresh identifier for a request's ID.
typedef void (*GenIDCallback)(std::string& id);

class CorvaneBase {
public:
    virtual ~CorvaneBase() {}

    // Verifies the signed response against the IdP certificate (PEM) and,
    // on success (0), replaces nameId with the text of
    // Response/saml:Assertion/saml:Subject/saml:NameID. On -7 or -8 nameId
    // is left as it was and the reason went to the error callback. A
    // response larger than 2 MB is refused (-8) before anything reads it.
    //
    // WARNING: the NameID handed out has its white space condensed
    // (leading and trailing white space dropped, inner runs made one
    // space), so it may differ from the signed text: a signed
    // "  admin@example.test  " comes out as "admin@example.test". No
    // audience, time window, destination or request (InResponseTo) is
    // checked: a response signed for another service provider or long ago
    // is accepted. verifyLoginResponse (CorvaneLogin.h) checks all of them
    // and hands out the exact signed text; new hosts should use it.
    virtual int verifySamlResponse(std::string& nameId, const std::string& responseXml,
                                   const std::string& idpKey) = 0;

    // Builds a samlp:AuthnRequest for destination and issuer, signs it with
    // the unencrypted PEM private key in spKeyAndCert (RSA-SHA1, exclusive
    // c14n, enveloped, empty-URI Reference) and stores the signed text in
    // *samlAuthnRequest: 0 on success; -8 after a signing failure, with the
    // unsigned request left there. samlAuthnRequest must not be null.
    virtual int createAuthnRequest(std::string* samlAuthnRequest, const std::string& destination,
                                   const std::string& issuer, const std::string& spKeyAndCert) = 0;

    // Starts libxml2, xmlsec1 and its OpenSSL back end: 0, or -1 with the
    // reason logged at level 1. Call once, before any other thread uses
    // the library.
    virtual int initHelper() = 0;

    // Shuts the libraries down again; always 0. Call once, when no other
    // library call runs.
    virtual int finiHelper() = 0;

    // Returns the single helper. The first call creates it and stores the
    // three callbacks; later calls ignore their arguments. The error and
    // ID callbacks must not be null; a null log callback silences the log.
    static boost::shared_ptr<CorvaneBase> getHelper(LogCallback logCallback,
                                                    ErrorCallback errorCallback,
                                                    GenIDCallback genIDCallback);

    // printf-style formatting into 1023 characters, "..." appended when
    // cut; the result goes to the log (dropped when no log callback) or
    // to the error callback.
    static void writeToLog(int level, const char* format, ...)
        __attribute__((format(printf, 2, 3)));
    static void setErrorMessage(const char* format, ...) __attribute__((format(printf, 1, 2)));

    // Asks the host's ID callback to fill id; the result is used unchanged.
    static void generateID(std::string& id);

    static LogCallback m_logCallback;
    static ErrorCallback m_errorCallback;
    static GenIDCallback m_genIDCallback;
};

class Corvane : public CorvaneBase {
public:
    virtual ~Corvane() {}
    virtual int verifySamlResponse(std::string& nameId, const std::string& responseXml,
                                   const std::string& idpKey);
    virtual int createAuthnRequest(std::string* samlAuthnRequest, const std::string& destination,
                                   const std::string& issuer, const std::string& spKeyAndCert);
    virtual int initHelper();
    virtual int finiHelper();
};

// xmlsec1 error callback installed by initHelper: one level-1 log line
// "func=%s:file=%s:line=%d:obj=%s:subj=%s:error=%d:%s:%s" per report.
void XmlsecError2Log(const char* file, int line, const char* func, const char* errorObject,
                     const char* errorSubject, int reason, const char* msg);

// Signature layer. verifySignature checks the first ds:Signature of the
// document against the certificate: 0 valid, 1 processed and not valid
// (no message), -8 any other failure (one message to the error callback).
int verifySignature(const std::string& xml, const std::string& idpKey);
// Registers the root element's ID attribute as an XML ID; true on success.
bool registerRootAttrID(xmlDoc* doc);
// A verification context holding the certificate's key, owned by the
// caller; null (after one error message) when it cannot be made.
xmlSecDSigCtx* getSignatureVerificationContext(const std::string& idpKey);
// Deleters for boost::shared_ptr holders; both accept null.
void myXmlFreeDoc(xmlDoc* doc);
void myXmlSecDSigCtxDestroy(xmlSecDSigCtx* ctx);

// Signs the first ds:Signature template of *documentText with the PEM
// private key and replaces the text with the signed serialization: 0, or
// -8 with the text unchanged and one error message.
int signDocument(std::string* documentText, const std::string& spKeyAndCert);
// A signing context holding the private key, owned by the caller; null
// (after one error message) when it cannot be made. Logs the key text at
// level 3 with every private-key block withheld.
xmlSecDSigCtx* getSigningContext(const std::string& spKeyAndCert);

// Request builders: unlinked TinyXML trees owned by the caller.
TiXmlElement* createAuthnRequestElement(const std::string& destination, const std::string& issuer);
TiXmlElement* createDsSignatureTemplate();
// The current time as decimal seconds since the epoch.
std::string instantTime();

}  // namespace corvane

#endif
