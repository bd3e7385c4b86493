// corvane for standard IdPs: keys loaded once, a schema-valid signed
// samlp:AuthnRequest for the HTTP-POST binding, the HTTP-Redirect binding,
// and SP metadata.
//
// These functions sit beside CorvaneBase::createAuthnRequest, which keeps
// its own request layout. They need what every library call needs: the
// helper obtained with CorvaneBase::getHelper (its error and ID callbacks)
// and initHelper run once before. Every failure is described once through
// the error callback; an output string is changed only on success.
//
// Status codes, in addition to those of Corvane.h:
//    0  success
//   -8  unusable input or the signature work failed: a key that cannot
//       do what is asked (no private key, no certificate), the clock not
//       readable, the document not built, compressed, signed or serialized
//   -9  the options are not usable: the ID from the host's ID callback is
//       not an xs:ID, a required value is empty or too long, a text holds
//       characters XML cannot carry, RelayState is longer than 80 bytes,
//       an unknown RequestedAuthnContext comparison
//
// Threads: a Key is immutable once loaded; one Key may sign on any number
// of threads at once. The functions keep no state of their own. Keys hold
// xmlsec1 and OpenSSL objects: load them after initHelper and release the
// last reference before finiHelper.
#ifndef CORVANE_CORVANE_STANDARD_H
#define CORVANE_CORVANE_STANDARD_H

#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include <boost/shared_ptr.hpp>

#include "Corvane.h"

namespace corvane {

// Binding and name identifier format URIs for the options below.
const char kBindingHttpPost[] = "urn:oasis:names:tc:SAML:2.0:bindings:HTTP-POST";
const char kBindingHttpRedirect[] = "urn:oasis:names:tc:SAML:2.0:bindings:HTTP-Redirect";
const char kNameIdFormatUnspecified[] = "urn:oasis:names:tc:SAML:1.1:nameid-format:unspecified";
const char kNameIdFormatEmailAddress[] = "urn:oasis:names:tc:SAML:1.1:nameid-format:emailAddress";
const char kNameIdFormatPersistent[] = "urn:oasis:names:tc:SAML:2.0:nameid-format:persistent";
const char kNameIdFormatTransient[] = "urn:oasis:names:tc:SAML:2.0:nameid-format:transient";

// Library-private access to a Key's loaded material.
namespace internal {
struct KeyAccess;
}

// How strong a loaded key must be. Strict, the default: RSA of at least
// 2048 bits, EC on a curve of at least 256 bits (P-256). AllowRsa1024
// relaxes RSA to at least 1024 bits, for IdPs that still sign with such a
// key; nothing below 1024 bits is ever loaded or used.
enum class KeyStrength { Strict, AllowRsa1024 };

// A key loaded once from PEM text and used for any number of operations.
// Immutable and shareable between threads. Each use hands xmlsec1 a cheap
// copy of the key value (the OpenSSL key shared by reference), so no PEM
// text is parsed and no certificate copied per call.
class Key {
public:
    // The SP key: an unencrypted RSA private key in PEM (PKCS#8 or PKCS#1),
    // optionally followed or preceded by its X.509 certificate, which must
    // belong to the key. Null after the error message "Can not load SP
    // private key and certificate" for anything else (empty text, an
    // encrypted key, a public key or certificate alone, a non-RSA key, a
    // certificate of another key). A pass phrase is never asked for. A key
    // weaker than strength allows is refused with the message "Can not load
    // SP private key and certificate: " and the size found.
    static boost::shared_ptr<const Key> loadPrivateKey(const std::string& pem,
                                                       KeyStrength strength = KeyStrength::Strict);

    // A certificate in PEM (for example an IdP's, or the SP's own for
    // metadata). Null after the error message "Can not load IDP public
    // key" when the text holds no readable certificate; a key weaker than
    // strength allows is refused with "Can not load IDP public key: " and
    // the size found.
    static boost::shared_ptr<const Key> loadCertificate(const std::string& pem,
                                                        KeyStrength strength = KeyStrength::Strict);

    ~Key();
    Key(const Key&) = delete;
    Key& operator=(const Key&) = delete;

    // True for a key from loadPrivateKey.
    bool hasPrivateKey() const { return m_hasPrivateKey; }
    // True when a certificate was loaded with the key.
    bool hasCertificate() const { return !m_certificateBase64.empty(); }
    // The certificate's DER in base64 on one line, as ds:X509Certificate
    // carries it; empty when there is none.
    const std::string& certificateBase64() const { return m_certificateBase64; }

private:
    struct XmlSecKeyDestroy {
        void operator()(xmlSecKey* key) const;
    };
    Key(xmlSecKey* value, bool privateKey, const std::string& certificate);

    const std::unique_ptr<xmlSecKey, XmlSecKeyDestroy> m_value;
    const bool m_hasPrivateKey;
    const std::string m_certificateBase64;

    friend struct internal::KeyAccess;
};

// What a standard AuthnRequest says. The defaults are the strict choice:
// RSA-SHA256 with SHA-256, responses by HTTP-POST, no KeyInfo.
struct StandardRequestOptions {
    // Destination attribute: the IdP's single sign-on URL. Required.
    std::string destination;
    // saml:Issuer text: the SP's entity ID. Required.
    std::string issuer;
    // AssertionConsumerServiceURL; omitted when empty.
    std::string acsUrl;
    // ProtocolBinding, the binding of the response; omitted when empty.
    std::string protocolBinding = kBindingHttpPost;
    // samlp:NameIDPolicy Format; omitted when empty (the IdP chooses).
    std::string nameIdFormat;
    // samlp:NameIDPolicy AllowCreate, always written.
    bool allowCreate = true;
    // ForceAuthn and IsPassive, written only when true.
    bool forceAuthn = false;
    bool isPassive = false;
    // samlp:RequestedAuthnContext with one saml:AuthnContextClassRef per
    // entry, in order; omitted when empty. Comparison is one of "exact",
    // "minimum", "maximum", "better".
    std::vector<std::string> authnContextClassRefs;
    std::string authnContextComparison = "exact";
    // RSA-SHA1 and SHA-1 instead of RSA-SHA256 and SHA-256, for IdPs that
    // know nothing newer; the embedded signature and the Redirect SigAlg.
    bool useSha1 = false;
    // Embedded signature only: a ds:KeyInfo with the SP certificate (the
    // key must have one).
    bool includeKeyInfo = false;
};

// The AuthnRequest for the HTTP-POST binding, signed with spKey: root
// samlp:AuthnRequest with ID (from the host's ID callback, called once),
// Version "2.0", IssueInstant (UTC xs:dateTime, "YYYY-MM-DDThh:mm:ssZ"),
// Destination and the optional attributes; children saml:Issuer,
// ds:Signature (Reference "#" + ID, enveloped, exclusive c14n),
// samlp:NameIDPolicy and the optional samlp:RequestedAuthnContext. Stores
// libxml2's serialization (UTF-8, with an XML declaration) in *request and
// the request's ID in *requestId (when not null; the InResponseTo to expect
// of the answer) and returns 0; on -8 or -9 neither is changed. request
// must not be null.
int createStandardAuthnRequest(std::string* request, const StandardRequestOptions& options,
                               const Key& spKey, std::string* requestId = nullptr);

// The same request without a signature (useSha1 and includeKeyInfo do not
// apply), as the HTTP-Redirect binding carries it. Statuses as above.
int createUnsignedAuthnRequest(std::string* request, const StandardRequestOptions& options,
                               std::string* requestId = nullptr);

// The HTTP-Redirect query for samlRequest, a serialized SAML request:
// "SAMLRequest=" + its raw DEFLATE, base64 and URL encoding, then
// "&RelayState=" + relayState URL-encoded (left out when empty), and with
// a key "&SigAlg=" + the RSA-SHA256 (RSA-SHA1 with useSha1) URI and
// "&Signature=" + the base64 signature over exactly the octets before
// "&Signature". URL encoding keeps the RFC 3986 unreserved characters and
// writes every other octet as %XX. spKey null: no SigAlg, no Signature.
// 0 with *query set; -9 for a RelayState over 80 bytes; -8 when the key
// holds no private key or compression or signing failed, *query unchanged.
int encodeRedirectQuery(std::string* query, const std::string& samlRequest,
                        const std::string& relayState, const Key* spKey, bool useSha1);

// createUnsignedAuthnRequest followed by encodeRedirectQuery (with
// options.useSha1): the query string to append to the IdP's single
// sign-on URL (see redirectUrl), and the request's ID in *requestId when
// not null. Statuses as for the two; on failure neither output changes.
int createRedirectQuery(std::string* query, const StandardRequestOptions& options,
                        const std::string& relayState, const Key* spKey,
                        std::string* requestId = nullptr);

// ssoUrl with query appended: after "?", or after "&" when ssoUrl has a
// query already; ahead of any "#fragment".
std::string redirectUrl(const std::string& ssoUrl, const std::string& query);

// What the SP's metadata says.
struct SpMetadataOptions {
    // entityID: the SP's entity ID, at most 1024 characters. Required.
    std::string entityId;
    // Location of the HTTP-POST AssertionConsumerService. Required.
    std::string acsUrl;
    // md:NameIDFormat; omitted when empty.
    std::string nameIdFormat;
    bool authnRequestsSigned = true;
    bool wantAssertionsSigned = true;
};

// md:EntityDescriptor with one md:SPSSODescriptor (AuthnRequestsSigned,
// WantAssertionsSigned, protocolSupportEnumeration of SAML 2.0), a signing
// md:KeyDescriptor with the certificate of spKey (from loadPrivateKey with
// its certificate, or loadCertificate), md:NameIDFormat and the HTTP-POST
// md:AssertionConsumerService with index 0, isDefault true. 0 with
// *metadata set; -8 when spKey has no certificate or building failed, -9
// for unusable options; *metadata unchanged on failure. Calls no ID
// callback. metadata must not be null.
int createSpMetadata(std::string* metadata, const SpMetadataOptions& options, const Key& spKey);

// instant as UTC xs:dateTime "YYYY-MM-DDThh:mm:ssZ", or empty when it is
// not a date of the years 0001 to 9999.
std::string utcDateTime(std::time_t instant);

}  // namespace corvane

#endif
