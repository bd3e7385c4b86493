// What the signature layer offers the protocol rooms: keys from PEM text,
// the allowlists every signature context carries, the binding of a
// Reference to the element it signs, and document verification.
#ifndef CORVANE_XMLDSIG_SIGNATURE_LAYER_H
#define CORVANE_XMLDSIG_SIGNATURE_LAYER_H

#include <cstddef>
#include <memory>
#include <string>

#include <libxml/tree.h>
#include <openssl/evp.h>
#include <xmlsec/keys.h>
#include <xmlsec/transforms.h>
#include <xmlsec/xmldsig.h>

#include "corvane/key.h"

namespace corvane {

// Keys loaded once (corvane/key.h).
class Key;

namespace internal {

// The first certificate of the PEM text loaded as a key, or null after one
// message (Key::loadCertificate's texts).
std::shared_ptr<const Key> loadCertificate(const std::string& pem, KeyStrength strength);
// The same for the base64 of a certificate's DER alone, as ds:X509Certificate
// carries it (white space allowed); Key::loadCertificate's message for text
// that is not base64.
std::shared_ptr<const Key> loadCertificateFromBase64(const std::string& base64Der,
                                                     KeyStrength strength);

// The text with every PEM private-key block replaced by a fixed marker;
// certificates and any other text are kept as given.
std::string withPrivateKeysWithheld(const std::string& pemText);

// Loads a key from PEM text in memory, or null; the caller owns it.
xmlSecKey* loadKeyFromPem(const std::string& pemText, xmlSecKeyDataFormat format);

// A new xmlsec key for one signing or verification context: a copy of the
// key's value alone (the OpenSSL key shared by reference, no X.509 data,
// no PEM parsing). Null when xmlsec could not make it; the caller owns it.
xmlSecKey* newKeyValueCopy(const Key& key);
// The same for an xmlsec key (null for null or a key without a value).
xmlSecKey* newKeyValueCopy(xmlSecKey* key);

// The OpenSSL private key of a key from Key::loadPrivateKey, shared with
// the key (not to be freed); null for a key without a private part.
EVP_PKEY* privateKeyOf(const Key& key);

// The signature methods a signature may name (SignedInfo, or the SigAlg
// of a Redirect query), in one list; count in *size.
const xmlSecTransformId* allowedSignatureMethods(std::size_t* size);

// Restricts a verification context to same-document References and to
// the allowed transforms, digests and signature methods; manifests are
// ignored. False when xmlsec1 could not record the lists.
bool restrictToAllowedAlgorithms(xmlSecDSigCtx* ctx);

// The signature's SignatureMethod, or a DigestMethod of one of its
// References, is SHA-1 based (RSA-SHA1, ECDSA-SHA1, SHA-1): allowed by the
// allowlists for the documented operations and old IdPs, refused by the
// login unless the host names it.
bool signatureUsesSha1(xmlNode* signature);

// The signature carries exactly one Reference, and its URI is empty (the
// whole document, which holds the element) or "#" plus an ID that
// resolves to the element itself.
bool referenceCoversElement(xmlDoc* doc, const xmlNode* element, xmlNode* signature);

// A keys manager that hands a verification context the key its caller
// chose (newRestrictedVerificationContext), never one read from the
// document; null when xmlsec1 could not allocate.
xmlSecKeysMngr* newChosenKeyManager();

// A verification context restricted as restrictToAllowedAlgorithms says
// that verifies with a copy of key, handed to it by manager (from
// newChosenKeyManager); key and manager must outlive the context. Null on
// failure.
xmlSecDSigCtx* newRestrictedVerificationContext(xmlSecKeysMngr* manager, xmlSecKey* key);

// Verifies the first ds:Signature of a parsed document (null when the
// text did not parse), with the statuses and messages of verifySignature.
// *signature receives the Signature element verified, when one was found.
int verifyDocumentSignature(xmlDoc* doc, const std::string& idpKey, xmlNode** signature);

}  // namespace internal
}  // namespace corvane

#endif
