// XML Encryption as SAML uses it: an element (saml:EncryptedAssertion,
// saml:EncryptedID, saml:EncryptedAttribute) holding one xenc:EncryptedData
// whose AES key is carried by an xenc:EncryptedKey under RSA-OAEP. The
// library reads the structure itself and decrypts with OpenSSL: the
// installed xmlsec1 knows neither the XML Encryption 1.1 RSA-OAEP nor
// OAEP digests other than SHA-1, allows every algorithm by default,
// follows CipherReference URIs and reparses plaintext without limits.
#ifndef CORVANE_XMLDSIG_DECRYPTION_H
#define CORVANE_XMLDSIG_DECRYPTION_H

#include <cstddef>
#include <string>
#include <vector>

#include <libxml/tree.h>
#include <openssl/evp.h>

#include "corvane/key.h"

namespace corvane {
namespace internal {

// The data encryption algorithms allowed; everything else (3DES, AES key
// wrap, unknown URIs) is refused when the structure is read.
enum class DataCipher { Aes128Cbc, Aes192Cbc, Aes256Cbc, Aes128Gcm, Aes192Gcm, Aes256Gcm };
bool isCbc(DataCipher cipher);

// RSA-OAEP as an EncryptedKey names it: its digest, the MGF1 digest and
// the label (OAEPparams, decoded; empty when absent).
struct KeyTransport {
    const EVP_MD* digest = nullptr;
    const EVP_MD* mgf1Digest = nullptr;
    std::string label;
};

// What an encrypted element carries, read and checked for structure only:
// nothing here has been decrypted.
struct EncryptedElement {
    DataCipher cipher = DataCipher::Aes128Gcm;
    std::string ciphertext;  // IV, cipher text and, for GCM, the tag
    KeyTransport transport;
    std::string wrappedKey;
    // The certificate the EncryptedKey's KeyInfo names (base64 DER without
    // white space); empty when it names none.
    std::string recipientCertificate;
};

// Reads element's structure: exactly one xenc:EncryptedData (Type absent
// or Element) with an allowed EncryptionMethod and its cipher text in a
// CipherValue (a CipherReference is never followed); its key in one
// xenc:EncryptedKey inside its KeyInfo, or in the one sibling EncryptedKey
// of element that a ds:RetrievalMethod URI="#Id" names by an Id unique in
// the document; that key transported by rsa-oaep-mgf1p (digest SHA-1 or
// SHA-256, MGF1 with SHA-1) or xmlenc11 rsa-oaep (digest and MGF1 of SHA-1,
// SHA-256, SHA-384 or SHA-512). rsa-1_5 is refused always. The decoded
// cipher text is at most maxCiphertextBytes. 0, or -7 after one message
// naming what is wrong; the structure is attacker-chosen and public, so
// these messages tell an attacker nothing about any key or plaintext.
int readEncryptedElement(xmlNode* element, std::size_t maxCiphertextBytes,
                         EncryptedElement* encrypted);

// Decrypts with the SP's private keys: the key whose certificate the
// EncryptedKey names, when one does, else each key in turn. True with the
// plaintext; false for every kind of failure alike (no key unwraps, a key
// of the wrong length, bad padding, a bad GCM tag), with the detail only at
// log level 3. When no key unwraps, the data is still decrypted under a
// random key of the right length, so the work done does not tell a wrong
// key from bad data.
bool decryptElement(const EncryptedElement& encrypted, const std::vector<KeyPtr>& spKeys,
                    std::string* plaintext);

// How many RSA private-key operations decryption has run, in this process.
// Read by tests that show a refused response cost no RSA operation.
unsigned long keyTransportDecryptionsSoFar();

}  // namespace internal
}  // namespace corvane

#endif
