// Reading and decrypting the encrypted elements of SAML messages.
#include "xmldsig/decryption.h"

#include <openssl/err.h>
#include <openssl/rand.h>
#include <openssl/rsa.h>
#include <xmlsec/base64.h>

#include <atomic>
#include <cstring>
#include <initializer_list>

#include "Corvane.h"
#include "frame/escape.h"
#include "frame/handles.h"
#include "xml/namespaces.h"
#include "xml/tree.h"
#include "xmldsig/signature_layer.h"

namespace corvane {
namespace internal {

namespace {

const char kNotOneEncryptedData[] = "SAML %s must hold exactly one EncryptedData";
const char kUnexpectedChild[] = "SAML %s holds an unexpected element %s";
const char kNotElementType[] = "SAML %s EncryptedData Type \"%s\" is not Element";
const char kDataAlgorithmRefused[] =
    "SAML %s data encryption algorithm \"%s\" is not allowed (AES-GCM or AES-CBC only)";
const char kRsa15Refused[] =
    "SAML %s key transport RSA-1.5 is always refused: it is open to padding oracle attacks";
const char kTransportRefused[] =
    "SAML %s key transport algorithm \"%s\" is not allowed (RSA-OAEP only)";
const char kOaepDigestRefused[] = "SAML %s key transport digest \"%s\" is not allowed";
const char kMgfRefused[] = "SAML %s key transport mask generation function \"%s\" is not allowed";
const char kCipherReference[] =
    "SAML %s refers to its cipher data by CipherReference, which is never followed";
const char kNoCipherValue[] = "SAML %s carries no single CipherValue";
const char kBadBase64[] = "SAML %s %s is not base64";
const char kTooLarge[] = "SAML %s cipher data is larger than %s bytes";
const char kNoKey[] = "SAML %s carries no single EncryptedKey for its data";
const char kBadRetrieval[] =
    "SAML %s RetrievalMethod URI \"%s\" does not name exactly one EncryptedKey beside its "
    "EncryptedData";
const char kStrayKey[] = "SAML %s holds an EncryptedKey its EncryptedData does not name";

const char kRetrievalTypeEncryptedKey[] = "http://www.w3.org/2001/04/xmlenc#EncryptedKey";
const char kTypeElement[] = "http://www.w3.org/2001/04/xmlenc#Element";
const char kRsaOaepMgf1p[] = "http://www.w3.org/2001/04/xmlenc#rsa-oaep-mgf1p";
const char kRsaOaep11[] = "http://www.w3.org/2009/xmlenc11#rsa-oaep";
const char kRsa15[] = "http://www.w3.org/2001/04/xmlenc#rsa-1_5";
const char kSha1[] = "http://www.w3.org/2000/09/xmldsig#sha1";
const char kSha256[] = "http://www.w3.org/2001/04/xmlenc#sha256";

// The largest wrapped key read: an RSA-8192 cipher text.
const std::size_t kMaxWrappedKeyBytes = 1024;
const std::size_t kMaxLabelBytes = 1024;
const std::size_t kGcmIvBytes = 12;
const std::size_t kGcmTagBytes = 16;
const std::size_t kCbcBlockBytes = 16;

std::atomic<unsigned long> g_keyTransportDecryptions{0};

struct CipherName {
    const char* uri;
    DataCipher cipher;
};
const CipherName kDataCiphers[] = {
    {"http://www.w3.org/2009/xmlenc11#aes128-gcm", DataCipher::Aes128Gcm},
    {"http://www.w3.org/2009/xmlenc11#aes192-gcm", DataCipher::Aes192Gcm},
    {"http://www.w3.org/2009/xmlenc11#aes256-gcm", DataCipher::Aes256Gcm},
    {"http://www.w3.org/2001/04/xmlenc#aes128-cbc", DataCipher::Aes128Cbc},
    {"http://www.w3.org/2001/04/xmlenc#aes192-cbc", DataCipher::Aes192Cbc},
    {"http://www.w3.org/2001/04/xmlenc#aes256-cbc", DataCipher::Aes256Cbc},
};

struct DigestName {
    const char* uri;
    const EVP_MD* (*digest)();
};
const DigestName kOaepDigests[] = {
    {kSha1, EVP_sha1},
    {kSha256, EVP_sha256},
    {"http://www.w3.org/2001/04/xmldsig-more#sha384", EVP_sha384},
    {"http://www.w3.org/2001/04/xmlenc#sha512", EVP_sha512},
};
const DigestName kMgf1Digests[] = {
    {"http://www.w3.org/2009/xmlenc11#mgf1sha1", EVP_sha1},
    {"http://www.w3.org/2009/xmlenc11#mgf1sha256", EVP_sha256},
    {"http://www.w3.org/2009/xmlenc11#mgf1sha384", EVP_sha384},
    {"http://www.w3.org/2009/xmlenc11#mgf1sha512", EVP_sha512},
};

std::string elementName(const xmlNode* element) {
    return escapedForMessage(reinterpret_cast<const char*>(element->name));
}

std::string attributeOrEmpty(const xmlNode* element, const char* name) {
    std::string value;
    attributeValue(element, name, &value);
    return value;
}

// The element children of parent, in document order.
std::vector<xmlNode*> elementChildren(xmlNode* parent) {
    std::vector<xmlNode*> children;
    for (xmlNode* child = parent->children; child != nullptr; child = child->next)
        if (child->type == XML_ELEMENT_NODE) children.push_back(child);
    return children;
}

// The text with each "%s" replaced by the next of the values, in order.
std::string filledIn(const char* text, std::initializer_list<std::string> values) {
    std::string out(text);
    std::string::size_type at = 0;
    for (const std::string& value : values) {
        at = out.find("%s", at);
        if (at == std::string::npos) break;
        out.replace(at, 2, value);
        at += value.size();
    }
    return out;
}

// What an element of the encrypted structure reports its problems as.
struct Reader {
    std::string what;  // "EncryptedAssertion", ...
    std::size_t maxCiphertextBytes;

    int refuse(const char* text, const std::string& detail = std::string()) const {
        CorvaneBase::setErrorMessage("%s",
                                     filledIn(text, {what, escapedForMessage(detail)}).c_str());
        return -7;
    }
};

// Only the named children (and, where SAML or XML Encryption allows
// them, descriptive ones that the library does not read) may stand under
// an element of the structure.
int onlyKnownChildren(const Reader& reader, xmlNode* parent,
                      const std::vector<std::pair<const char*, const char*>>& allowed) {
    for (xmlNode* child : elementChildren(parent)) {
        bool known = false;
        for (const auto& name : allowed) known = known || isElement(child, name.first, name.second);
        if (!known) return reader.refuse(kUnexpectedChild, elementName(child));
    }
    return 0;
}

// Base64 text of element (white space allowed) decoded; at most maxBytes.
int decodeBase64Text(const Reader& reader, xmlNode* element, const char* what, std::size_t maxBytes,
                     std::string* bytes) {
    std::string text;
    if (!fullCharacterContent(element, &text)) return reader.refuse(kBadBase64, what);
    std::string digits;
    for (const char c : text)
        if (c != ' ' && c != '\t' && c != '\r' && c != '\n') digits += c;
    if (digits.size() / 4 * 3 > maxBytes + 2)
        return reader.refuse(kTooLarge, std::to_string(maxBytes));
    if (digits.empty() || digits.size() % 4 != 0) return reader.refuse(kBadBase64, what);
    // xmlsec1's decoder wants room for whole groups beyond the padding.
    bytes->assign(digits.size() / 4 * 3 + 3, '\0');
    xmlSecSize written = 0;
    if (xmlSecBase64Decode_ex(BAD_CAST digits.c_str(), reinterpret_cast<xmlSecByte*>(&(*bytes)[0]),
                              static_cast<xmlSecSize>(bytes->size()), &written) < 0 ||
        written == 0 || written > maxBytes)
        return reader.refuse(kBadBase64, what);
    bytes->resize(written);
    return 0;
}

// xenc:CipherData holding one xenc:CipherValue, decoded.
int readCipherData(const Reader& reader, xmlNode* owner, std::size_t maxBytes, std::string* bytes) {
    const std::vector<xmlNode*> data = childElements(owner, kXmlEncNs, "CipherData");
    if (data.size() != 1) return reader.refuse(kNoCipherValue);
    if (firstChildElement(data.front(), kXmlEncNs, "CipherReference") != nullptr)
        return reader.refuse(kCipherReference);
    const std::vector<xmlNode*> values = childElements(data.front(), kXmlEncNs, "CipherValue");
    if (values.size() != 1 || elementChildren(data.front()).size() != 1)
        return reader.refuse(kNoCipherValue);
    return decodeBase64Text(reader, values.front(), "CipherValue", maxBytes, bytes);
}

int readDataCipher(const Reader& reader, xmlNode* encryptedData, DataCipher* cipher) {
    const std::string algorithm = attributeOrEmpty(
        firstChildElement(encryptedData, kXmlEncNs, "EncryptionMethod"), "Algorithm");
    for (const CipherName& name : kDataCiphers) {
        if (algorithm == name.uri) {
            *cipher = name.cipher;
            return 0;
        }
    }
    return reader.refuse(kDataAlgorithmRefused, algorithm);
}

// The digest a DigestName table names for the element's Algorithm, or
// the default when the element is absent.
const EVP_MD* namedDigest(const xmlNode* element, const DigestName* table, std::size_t size,
                          const EVP_MD* absent, std::string* algorithm) {
    if (element == nullptr) return absent;
    *algorithm = attributeOrEmpty(element, "Algorithm");
    for (std::size_t i = 0; i < size; ++i)
        if (*algorithm == table[i].uri) return table[i].digest();
    return nullptr;
}

int readKeyTransport(const Reader& reader, xmlNode* encryptedKey, KeyTransport* transport) {
    xmlNode* method = firstChildElement(encryptedKey, kXmlEncNs, "EncryptionMethod");
    const std::string algorithm = attributeOrEmpty(method, "Algorithm");
    if (algorithm == kRsa15) return reader.refuse(kRsa15Refused);
    const bool mgf1p = algorithm == kRsaOaepMgf1p;
    if (!mgf1p && algorithm != kRsaOaep11) return reader.refuse(kTransportRefused, algorithm);
    int status = onlyKnownChildren(reader, method,
                                   {{kDsigNs, "DigestMethod"},
                                    {kXmlEncNs, "OAEPparams"},
                                    {kXmlEnc11Ns, "MGF"},
                                    {kXmlEncNs, "KeySize"}});
    if (status != 0) return status;
    std::string named;
    // rsa-oaep-mgf1p fixes MGF1 to SHA-1; its digest is SHA-1 or SHA-256.
    const std::size_t digests = mgf1p ? 2 : sizeof kOaepDigests / sizeof kOaepDigests[0];
    transport->digest = namedDigest(firstChildElement(method, kDsigNs, "DigestMethod"),
                                    kOaepDigests, digests, EVP_sha1(), &named);
    if (transport->digest == nullptr) return reader.refuse(kOaepDigestRefused, named);
    xmlNode* mgf = firstChildElement(method, kXmlEnc11Ns, "MGF");
    if (mgf1p && mgf != nullptr) return reader.refuse(kUnexpectedChild, "MGF");
    transport->mgf1Digest = namedDigest(
        mgf, kMgf1Digests, sizeof kMgf1Digests / sizeof kMgf1Digests[0], EVP_sha1(), &named);
    if (transport->mgf1Digest == nullptr) return reader.refuse(kMgfRefused, named);
    xmlNode* params = firstChildElement(method, kXmlEncNs, "OAEPparams");
    transport->label.clear();
    if (params != nullptr)
        return decodeBase64Text(reader, params, "OAEPparams", kMaxLabelBytes, &transport->label);
    return 0;
}

// The base64 certificate of the KeyInfo's first X509Data, without white
// space; empty when there is none.
std::string namedCertificate(xmlNode* keyInfo) {
    xmlNode* data = firstChildElement(keyInfo, kDsigNs, "X509Data");
    xmlNode* certificate = firstChildElement(data, kDsigNs, "X509Certificate");
    std::string text;
    if (certificate == nullptr || !fullCharacterContent(certificate, &text)) return std::string();
    std::string compact;
    for (const char c : text)
        if (c != ' ' && c != '\t' && c != '\r' && c != '\n') compact += c;
    return compact;
}

int readEncryptedKey(const Reader& reader, xmlNode* encryptedKey, EncryptedElement* encrypted) {
    int status = onlyKnownChildren(reader, encryptedKey,
                                   {{kXmlEncNs, "EncryptionMethod"},
                                    {kDsigNs, "KeyInfo"},
                                    {kXmlEncNs, "CipherData"},
                                    {kXmlEncNs, "EncryptionProperties"},
                                    {kXmlEncNs, "ReferenceList"},
                                    {kXmlEncNs, "CarriedKeyName"}});
    if (status == 0) status = readKeyTransport(reader, encryptedKey, &encrypted->transport);
    if (status == 0)
        status = readCipherData(reader, encryptedKey, kMaxWrappedKeyBytes, &encrypted->wrappedKey);
    if (status == 0)
        encrypted->recipientCertificate =
            namedCertificate(firstChildElement(encryptedKey, kDsigNs, "KeyInfo"));
    return status;
}

// Every element of the document whose Id attribute is id.
std::size_t elementsWithId(xmlNode* node, const std::string& id) {
    std::size_t found = 0;
    for (; node != nullptr; node = node->next) {
        if (node->type != XML_ELEMENT_NODE) continue;
        std::string value;
        if (attributeValue(node, "Id", &value) && value == id) ++found;
        found += elementsWithId(node->children, id);
    }
    return found;
}

// The EncryptedKey that carries the data's key: the one in its KeyInfo, or
// the sibling a RetrievalMethod names; every sibling key must be that one.
int locateEncryptedKey(const Reader& reader, xmlNode* element, xmlNode* encryptedData,
                       xmlNode** encryptedKey) {
    xmlNode* keyInfo = firstChildElement(encryptedData, kDsigNs, "KeyInfo");
    const std::vector<xmlNode*> inner = childElements(keyInfo, kXmlEncNs, "EncryptedKey");
    const std::vector<xmlNode*> retrievals = childElements(keyInfo, kDsigNs, "RetrievalMethod");
    const std::vector<xmlNode*> siblings = childElements(element, kXmlEncNs, "EncryptedKey");
    if (inner.size() + retrievals.size() != 1) return reader.refuse(kNoKey);
    if (inner.size() == 1) {
        if (!siblings.empty()) return reader.refuse(kStrayKey);
        *encryptedKey = inner.front();
        return 0;
    }
    const std::string uri = attributeOrEmpty(retrievals.front(), "URI");
    const std::string type = attributeOrEmpty(retrievals.front(), "Type");
    const bool sameDocument = uri.size() > 1 && uri[0] == '#';
    if (!sameDocument || (!type.empty() && type != kRetrievalTypeEncryptedKey) ||
        siblings.size() != 1 || attributeOrEmpty(siblings.front(), "Id") != uri.substr(1) ||
        elementsWithId(xmlDocGetRootElement(element->doc), uri.substr(1)) != 1)
        return reader.refuse(kBadRetrieval, uri);
    *encryptedKey = siblings.front();
    return 0;
}

int readEncryptedData(const Reader& reader, xmlNode* encryptedData, EncryptedElement* encrypted) {
    int status = onlyKnownChildren(reader, encryptedData,
                                   {{kXmlEncNs, "EncryptionMethod"},
                                    {kDsigNs, "KeyInfo"},
                                    {kXmlEncNs, "CipherData"},
                                    {kXmlEncNs, "EncryptionProperties"}});
    if (status != 0) return status;
    std::string type;
    if (attributeValue(encryptedData, "Type", &type) && type != kTypeElement)
        return reader.refuse(kNotElementType, type);
    status = readDataCipher(reader, encryptedData, &encrypted->cipher);
    if (status != 0) return status;
    return readCipherData(reader, encryptedData, reader.maxCiphertextBytes, &encrypted->ciphertext);
}

// ---- Decryption --------------------------------------------------------------

std::size_t keyBytes(DataCipher cipher) {
    switch (cipher) {
        case DataCipher::Aes128Cbc:
        case DataCipher::Aes128Gcm:
            return 16;
        case DataCipher::Aes192Cbc:
        case DataCipher::Aes192Gcm:
            return 24;
        case DataCipher::Aes256Cbc:
        case DataCipher::Aes256Gcm:
            return 32;
    }
    return 0;
}

const EVP_CIPHER* evpCipher(DataCipher cipher) {
    switch (cipher) {
        case DataCipher::Aes128Cbc:
            return EVP_aes_128_cbc();
        case DataCipher::Aes192Cbc:
            return EVP_aes_192_cbc();
        case DataCipher::Aes256Cbc:
            return EVP_aes_256_cbc();
        case DataCipher::Aes128Gcm:
            return EVP_aes_128_gcm();
        case DataCipher::Aes192Gcm:
            return EVP_aes_192_gcm();
        case DataCipher::Aes256Gcm:
            return EVP_aes_256_gcm();
    }
    return nullptr;
}

// RSA-OAEP decryption of the wrapped key with one private key.
bool unwrapWithKey(EVP_PKEY* privateKey, const EncryptedElement& encrypted, std::string* key) {
    UniquePtr<EVP_PKEY_CTX> ctx(EVP_PKEY_CTX_new(privateKey, nullptr));
    if (!ctx || EVP_PKEY_decrypt_init(ctx.get()) <= 0 ||
        EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_PKCS1_OAEP_PADDING) <= 0 ||
        EVP_PKEY_CTX_set_rsa_oaep_md(ctx.get(), encrypted.transport.digest) <= 0 ||
        EVP_PKEY_CTX_set_rsa_mgf1_md(ctx.get(), encrypted.transport.mgf1Digest) <= 0)
        return false;
    if (!encrypted.transport.label.empty()) {
        // OpenSSL takes the label over and frees it with the context.
        unsigned char* label = static_cast<unsigned char*>(
            OPENSSL_memdup(encrypted.transport.label.data(), encrypted.transport.label.size()));
        if (label == nullptr) return false;
        if (EVP_PKEY_CTX_set0_rsa_oaep_label(
                ctx.get(), label, static_cast<int>(encrypted.transport.label.size())) <= 0) {
            OPENSSL_free(label);
            return false;
        }
    }
    const unsigned char* in = reinterpret_cast<const unsigned char*>(encrypted.wrappedKey.data());
    std::size_t size = 0;
    if (EVP_PKEY_decrypt(ctx.get(), nullptr, &size, in, encrypted.wrappedKey.size()) <= 0)
        return false;
    std::string out(size, '\0');
    g_keyTransportDecryptions.fetch_add(1, std::memory_order_relaxed);
    if (EVP_PKEY_decrypt(ctx.get(), reinterpret_cast<unsigned char*>(&out[0]), &size, in,
                         encrypted.wrappedKey.size()) <= 0) {
        OPENSSL_cleanse(&out[0], out.size());
        return false;
    }
    out.resize(size);
    key->swap(out);
    OPENSSL_cleanse(&out[0], out.size());
    return true;
}

// The keys to try: the one whose certificate the EncryptedKey names, or
// all of them when it names none of theirs.
std::vector<const Key*> candidateKeys(const EncryptedElement& encrypted,
                                      const std::vector<KeyPtr>& spKeys) {
    std::vector<const Key*> all;
    for (const KeyPtr& key : spKeys) {
        if (!key) continue;
        if (!encrypted.recipientCertificate.empty() &&
            key->certificateBase64() == encrypted.recipientCertificate)
            return {key.get()};
        all.push_back(key.get());
    }
    return all;
}

// The data key: unwrapped by one of the candidate keys and of the length
// the data algorithm needs; otherwise false with random bytes of that
// length in *key, so decryption goes on as if the key were right.
bool unwrapDataKey(const EncryptedElement& encrypted, const std::vector<KeyPtr>& spKeys,
                   std::string* key) {
    const std::size_t needed = keyBytes(encrypted.cipher);
    ERR_set_mark();
    bool unwrapped = false;
    for (const Key* candidate : candidateKeys(encrypted, spKeys)) {
        EVP_PKEY* privateKey = privateKeyOf(*candidate);
        if (privateKey == nullptr) continue;
        if (unwrapWithKey(privateKey, encrypted, key) && key->size() == needed) {
            unwrapped = true;
            break;
        }
    }
    ERR_pop_to_mark();
    if (unwrapped) return true;
    CorvaneBase::writeToLog(3, "Encrypted data: no SP key unwraps a %lu-byte data key",
                            static_cast<unsigned long>(needed));
    key->assign(needed, '\0');
    if (RAND_bytes(reinterpret_cast<unsigned char*>(&(*key)[0]), static_cast<int>(needed)) != 1)
        key->assign(needed, '\x5c');
    return false;
}

// XML Encryption's AES-CBC: a 16-byte IV first; the last plaintext byte
// gives the padding length (1 to 16), the other padding bytes are
// arbitrary, so OpenSSL's PKCS#7 check is off and the length checked here.
bool decryptCbc(const EVP_CIPHER* cipher, const std::string& key, const std::string& data,
                std::string* plaintext) {
    if (data.size() < 2 * kCbcBlockBytes || data.size() % kCbcBlockBytes != 0) return false;
    UniquePtr<EVP_CIPHER_CTX> ctx(EVP_CIPHER_CTX_new());
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(data.data());
    std::string out(data.size(), '\0');
    unsigned char* to = reinterpret_cast<unsigned char*>(&out[0]);
    int written = 0;
    int last = 0;
    const bool decrypted =
        ctx &&
        EVP_DecryptInit_ex(ctx.get(), cipher, nullptr,
                           reinterpret_cast<const unsigned char*>(key.data()), bytes) == 1 &&
        EVP_CIPHER_CTX_set_padding(ctx.get(), 0) == 1 &&
        EVP_DecryptUpdate(ctx.get(), to, &written, bytes + kCbcBlockBytes,
                          static_cast<int>(data.size() - kCbcBlockBytes)) == 1 &&
        EVP_DecryptFinal_ex(ctx.get(), to + written, &last) == 1;
    const std::size_t size = static_cast<std::size_t>(written + last);
    const std::size_t padding = size > 0 ? static_cast<unsigned char>(out[size - 1]) : 0;
    if (!decrypted || padding < 1 || padding > kCbcBlockBytes || padding > size) {
        CorvaneBase::writeToLog(3, "Encrypted data: AES-CBC padding is not valid");
        return false;
    }
    out.resize(size - padding);
    plaintext->swap(out);
    return true;
}

// AES-GCM: a 12-byte IV first, the 16-byte tag last.
bool decryptGcm(const EVP_CIPHER* cipher, const std::string& key, const std::string& data,
                std::string* plaintext) {
    if (data.size() < kGcmIvBytes + kGcmTagBytes) return false;
    UniquePtr<EVP_CIPHER_CTX> ctx(EVP_CIPHER_CTX_new());
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(data.data());
    const std::size_t textBytes = data.size() - kGcmIvBytes - kGcmTagBytes;
    std::string out(textBytes + kCbcBlockBytes, '\0');
    unsigned char* to = reinterpret_cast<unsigned char*>(&out[0]);
    std::string tag = data.substr(data.size() - kGcmTagBytes);
    int written = 0;
    int last = 0;
    const bool decrypted =
        ctx && EVP_DecryptInit_ex(ctx.get(), cipher, nullptr, nullptr, nullptr) == 1 &&
        EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_SET_IVLEN, static_cast<int>(kGcmIvBytes),
                            nullptr) == 1 &&
        EVP_DecryptInit_ex(ctx.get(), nullptr, nullptr,
                           reinterpret_cast<const unsigned char*>(key.data()), bytes) == 1 &&
        EVP_DecryptUpdate(ctx.get(), to, &written, bytes + kGcmIvBytes,
                          static_cast<int>(textBytes)) == 1 &&
        EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_SET_TAG, static_cast<int>(kGcmTagBytes),
                            &tag[0]) == 1 &&
        EVP_DecryptFinal_ex(ctx.get(), to + written, &last) == 1;
    if (!decrypted) {
        OPENSSL_cleanse(&out[0], out.size());
        CorvaneBase::writeToLog(3, "Encrypted data: the AES-GCM tag does not verify");
        return false;
    }
    out.resize(static_cast<std::size_t>(written + last));
    plaintext->swap(out);
    return true;
}

bool decryptData(DataCipher cipher, const std::string& key, const std::string& data,
                 std::string* plaintext) {
    if (isCbc(cipher)) return decryptCbc(evpCipher(cipher), key, data, plaintext);
    return decryptGcm(evpCipher(cipher), key, data, plaintext);
}

}  // namespace

bool isCbc(DataCipher cipher) {
    return cipher == DataCipher::Aes128Cbc || cipher == DataCipher::Aes192Cbc ||
           cipher == DataCipher::Aes256Cbc;
}

int readEncryptedElement(xmlNode* element, std::size_t maxCiphertextBytes,
                         EncryptedElement* encrypted) {
    const Reader reader{elementName(element), maxCiphertextBytes};
    int status = onlyKnownChildren(reader, element,
                                   {{kXmlEncNs, "EncryptedData"}, {kXmlEncNs, "EncryptedKey"}});
    if (status != 0) return status;
    const std::vector<xmlNode*> data = childElements(element, kXmlEncNs, "EncryptedData");
    if (data.size() != 1) return reader.refuse(kNotOneEncryptedData);
    status = readEncryptedData(reader, data.front(), encrypted);
    xmlNode* encryptedKey = nullptr;
    if (status == 0) status = locateEncryptedKey(reader, element, data.front(), &encryptedKey);
    if (status == 0) status = readEncryptedKey(reader, encryptedKey, encrypted);
    return status;
}

bool decryptElement(const EncryptedElement& encrypted, const std::vector<KeyPtr>& spKeys,
                    std::string* plaintext) {
    std::string key;
    const bool unwrapped = unwrapDataKey(encrypted, spKeys, &key);
    std::string decrypted;
    const bool decryptedData = decryptData(encrypted.cipher, key, encrypted.ciphertext, &decrypted);
    OPENSSL_cleanse(&key[0], key.size());
    if (!unwrapped || !decryptedData) return false;
    plaintext->swap(decrypted);
    return true;
}

unsigned long keyTransportDecryptionsSoFar() {
    return g_keyTransportDecryptions.load(std::memory_order_relaxed);
}

}  // namespace internal
}  // namespace corvane
