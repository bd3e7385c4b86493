#include "encryption.h"

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>

namespace corvane_test {

const char kAes128Cbc[] = "http://www.w3.org/2001/04/xmlenc#aes128-cbc";
const char kAes192Cbc[] = "http://www.w3.org/2001/04/xmlenc#aes192-cbc";
const char kAes256Cbc[] = "http://www.w3.org/2001/04/xmlenc#aes256-cbc";
const char kAes128Gcm[] = "http://www.w3.org/2009/xmlenc11#aes128-gcm";
const char kAes192Gcm[] = "http://www.w3.org/2009/xmlenc11#aes192-gcm";
const char kAes256Gcm[] = "http://www.w3.org/2009/xmlenc11#aes256-gcm";
const char kTripleDes[] = "http://www.w3.org/2001/04/xmlenc#tripledes-cbc";
const char kRsaOaepMgf1p[] = "http://www.w3.org/2001/04/xmlenc#rsa-oaep-mgf1p";
const char kRsaOaep[] = "http://www.w3.org/2009/xmlenc11#rsa-oaep";
const char kRsa15[] = "http://www.w3.org/2001/04/xmlenc#rsa-1_5";
const char kDigestSha1[] = "http://www.w3.org/2000/09/xmldsig#sha1";
const char kDigestSha256[] = "http://www.w3.org/2001/04/xmlenc#sha256";
const char kDigestSha384[] = "http://www.w3.org/2001/04/xmldsig-more#sha384";
const char kDigestSha512[] = "http://www.w3.org/2001/04/xmlenc#sha512";
const char kMgf1Sha1[] = "http://www.w3.org/2009/xmlenc11#mgf1sha1";
const char kMgf1Sha256[] = "http://www.w3.org/2009/xmlenc11#mgf1sha256";
const char kMgf1Sha384[] = "http://www.w3.org/2009/xmlenc11#mgf1sha384";
const char kMgf1Sha512[] = "http://www.w3.org/2009/xmlenc11#mgf1sha512";

namespace {

// The helpers serve tests, fuzz targets and benchmarks alike: a failure
// here is a broken test set-up, which stops the process loudly.
void require(bool condition, const std::string& what) {
    if (condition) return;
    std::fprintf(stderr, "test encryption failed: %s\n", what.c_str());
    std::abort();
}

struct Cipher {
    const EVP_CIPHER* (*evp)();
    std::size_t ivBytes;
    bool gcm;
};

const std::map<std::string, Cipher>& ciphers() {
    static const std::map<std::string, Cipher> table = {
        {kAes128Cbc, {EVP_aes_128_cbc, 16, false}}, {kAes192Cbc, {EVP_aes_192_cbc, 16, false}},
        {kAes256Cbc, {EVP_aes_256_cbc, 16, false}}, {kAes128Gcm, {EVP_aes_128_gcm, 12, true}},
        {kAes192Gcm, {EVP_aes_192_gcm, 12, true}},  {kAes256Gcm, {EVP_aes_256_gcm, 12, true}},
        {kTripleDes, {EVP_des_ede3_cbc, 8, false}}};
    return table;
}

const EVP_MD* digestNamed(const std::string& uri) {
    static const std::map<std::string, const EVP_MD* (*)()> table = {{"", EVP_sha1},
                                                                     {kDigestSha1, EVP_sha1},
                                                                     {kDigestSha256, EVP_sha256},
                                                                     {kDigestSha384, EVP_sha384},
                                                                     {kDigestSha512, EVP_sha512},
                                                                     {kMgf1Sha1, EVP_sha1},
                                                                     {kMgf1Sha256, EVP_sha256},
                                                                     {kMgf1Sha384, EVP_sha384},
                                                                     {kMgf1Sha512, EVP_sha512}};
    const auto found = table.find(uri);
    return found == table.end() ? EVP_sha1() : found->second();
}

std::string random(std::size_t bytes) {
    std::string out(bytes, '\0');
    require(RAND_bytes(reinterpret_cast<unsigned char*>(&out[0]), static_cast<int>(bytes)) == 1,
            "no random bytes");
    return out;
}

std::string base64(const std::string& bytes) {
    std::string out(4 * ((bytes.size() + 2) / 3) + 1, '\0');
    const int written = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(&out[0]),
                                        reinterpret_cast<const unsigned char*>(bytes.data()),
                                        static_cast<int>(bytes.size()));
    out.resize(written > 0 ? static_cast<std::size_t>(written) : 0);
    return out;
}

std::string unbase64(const std::string& text) {
    std::string compact;
    for (const char c : text)
        if (c != '\n' && c != '\r' && c != ' ' && c != '\t') compact += c;
    std::string out(compact.size() / 4 * 3 + 3, '\0');
    const int written = EVP_DecodeBlock(reinterpret_cast<unsigned char*>(&out[0]),
                                        reinterpret_cast<const unsigned char*>(compact.data()),
                                        static_cast<int>(compact.size()));
    if (written < 0) return std::string();
    std::size_t size = static_cast<std::size_t>(written);
    if (!compact.empty() && compact.back() == '=') --size;
    if (compact.size() > 1 && compact[compact.size() - 2] == '=') --size;
    out.resize(size);
    return out;
}

// The data encrypted as XML Encryption lays it out: IV first, and for
// GCM the 16-byte tag last.
std::string encryptData(const Cipher& cipher, const std::string& key,
                        const std::string& plaintext) {
    const std::string iv = random(cipher.ivBytes);
    std::unique_ptr<EVP_CIPHER_CTX, void (*)(EVP_CIPHER_CTX*)> ctx(EVP_CIPHER_CTX_new(),
                                                                   EVP_CIPHER_CTX_free);
    std::string out(plaintext.size() + 32, '\0');
    int written = 0;
    int last = 0;
    unsigned char* to = reinterpret_cast<unsigned char*>(&out[0]);
    const unsigned char* keyBytes = reinterpret_cast<const unsigned char*>(key.data());
    const unsigned char* ivBytes = reinterpret_cast<const unsigned char*>(iv.data());
    bool ok = EVP_EncryptInit_ex(ctx.get(), cipher.evp(), nullptr, nullptr, nullptr) == 1;
    if (cipher.gcm)
        ok = ok && EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_SET_IVLEN,
                                       static_cast<int>(cipher.ivBytes), nullptr) == 1;
    ok = ok && EVP_EncryptInit_ex(ctx.get(), nullptr, nullptr, keyBytes, ivBytes) == 1 &&
         EVP_EncryptUpdate(ctx.get(), to, &written,
                           reinterpret_cast<const unsigned char*>(plaintext.data()),
                           static_cast<int>(plaintext.size())) == 1 &&
         EVP_EncryptFinal_ex(ctx.get(), to + written, &last) == 1;
    out.resize(static_cast<std::size_t>(written + last));
    if (cipher.gcm) {
        std::string tag(16, '\0');
        ok = ok && EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_GET_TAG, 16, &tag[0]) == 1;
        out += tag;
    }
    require(ok, "OpenSSL could not encrypt the test data");
    return iv + out;
}

std::string wrapKey(const std::string& key, const std::string& certificatePem,
                    const Encryption& how) {
    std::unique_ptr<BIO, int (*)(BIO*)> bio(
        BIO_new_mem_buf(certificatePem.data(), static_cast<int>(certificatePem.size())), BIO_free);
    std::unique_ptr<X509, void (*)(X509*)> cert(
        PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr), X509_free);
    std::unique_ptr<EVP_PKEY, void (*)(EVP_PKEY*)> publicKey(
        cert ? X509_get_pubkey(cert.get()) : nullptr, EVP_PKEY_free);
    std::unique_ptr<EVP_PKEY_CTX, void (*)(EVP_PKEY_CTX*)> ctx(
        publicKey ? EVP_PKEY_CTX_new(publicKey.get(), nullptr) : nullptr, EVP_PKEY_CTX_free);
    bool ok = ctx && EVP_PKEY_encrypt_init(ctx.get()) == 1;
    if (how.keyTransport == kRsa15) {
        ok = ok && EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_PKCS1_PADDING) == 1;
    } else {
        ok = ok && EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_PKCS1_OAEP_PADDING) == 1 &&
             EVP_PKEY_CTX_set_rsa_oaep_md(ctx.get(), digestNamed(how.oaepDigest)) == 1 &&
             EVP_PKEY_CTX_set_rsa_mgf1_md(ctx.get(), digestNamed(how.mgf)) == 1;
        if (ok && !how.oaepLabel.empty()) {
            void* label = OPENSSL_memdup(how.oaepLabel.data(), how.oaepLabel.size());
            ok = EVP_PKEY_CTX_set0_rsa_oaep_label(ctx.get(), label,
                                                  static_cast<int>(how.oaepLabel.size())) == 1;
        }
    }
    std::size_t size = 0;
    const unsigned char* in = reinterpret_cast<const unsigned char*>(key.data());
    ok = ok && EVP_PKEY_encrypt(ctx.get(), nullptr, &size, in, key.size()) == 1;
    std::string out(size, '\0');
    ok = ok && EVP_PKEY_encrypt(ctx.get(), reinterpret_cast<unsigned char*>(&out[0]), &size, in,
                                key.size()) == 1;
    require(ok, "OpenSSL could not wrap the test key");
    out.resize(size);
    return out;
}

std::string certificateBase64(const std::string& pem) {
    const std::string begin = "-----BEGIN CERTIFICATE-----";
    const std::size_t from = pem.find(begin);
    const std::size_t to = pem.find("-----END CERTIFICATE-----");
    if (from == std::string::npos || to == std::string::npos) return std::string();
    std::string body;
    for (std::size_t i = from + begin.size(); i < to; ++i)
        if (pem[i] != '\n' && pem[i] != '\r') body += pem[i];
    return body;
}

std::string encryptedKeyXml(const std::string& wrapped, const std::string& certificatePem,
                            const Encryption& how) {
    std::string method = "<xenc:EncryptionMethod Algorithm=\"" + how.keyTransport + "\">";
    if (!how.oaepDigest.empty())
        method += "<ds:DigestMethod xmlns:ds=\"http://www.w3.org/2000/09/xmldsig#\" Algorithm=\"" +
                  how.oaepDigest + "\"/>";
    if (!how.mgf.empty())
        method += "<xenc11:MGF xmlns:xenc11=\"http://www.w3.org/2009/xmlenc11#\" Algorithm=\"" +
                  how.mgf + "\"/>";
    if (!how.oaepLabel.empty())
        method += "<xenc:OAEPparams>" + base64(how.oaepLabel) + "</xenc:OAEPparams>";
    method += "</xenc:EncryptionMethod>";
    const std::string keyInfo =
        how.nameCertificate
            ? "<ds:KeyInfo xmlns:ds=\"http://www.w3.org/2000/09/xmldsig#\"><ds:X509Data>"
              "<ds:X509Certificate>" +
                  certificateBase64(certificatePem) +
                  "</ds:X509Certificate></ds:X509Data></ds:KeyInfo>"
            : "";
    const std::string id = how.keyBesideData ? " Id=\"_encrypted-key-1\"" : "";
    return "<xenc:EncryptedKey xmlns:xenc=\"http://www.w3.org/2001/04/xmlenc#\"" + id + ">" +
           method + keyInfo + "<xenc:CipherData><xenc:CipherValue>" + base64(wrapped) +
           "</xenc:CipherValue></xenc:CipherData></xenc:EncryptedKey>";
}

}  // namespace

std::string encryptedElement(const std::string& plaintext,
                             const std::string& recipientCertificatePem, const Encryption& how) {
    const auto cipher = ciphers().find(how.dataAlgorithm);
    // Unknown algorithms are written with AES-256-GCM data under their name.
    const Cipher& used = cipher == ciphers().end() ? ciphers().at(kAes256Gcm) : cipher->second;
    const std::string key = random(static_cast<std::size_t>(EVP_CIPHER_key_length(used.evp())));
    const std::string encryptedKey =
        encryptedKeyXml(wrapKey(key, recipientCertificatePem, how), recipientCertificatePem, how);
    const std::string keyInfo =
        how.keyBesideData
            ? "<ds:RetrievalMethod Type=\"http://www.w3.org/2001/04/xmlenc#EncryptedKey\" "
              "URI=\"#_encrypted-key-1\"/>"
            : encryptedKey;
    const std::string data =
        "<xenc:EncryptedData xmlns:xenc=\"http://www.w3.org/2001/04/xmlenc#\" "
        "Type=\"http://www.w3.org/2001/04/xmlenc#Element\"><xenc:EncryptionMethod Algorithm=\"" +
        how.dataAlgorithm + "\"/><ds:KeyInfo xmlns:ds=\"http://www.w3.org/2000/09/xmldsig#\">" +
        keyInfo + "</ds:KeyInfo><xenc:CipherData><xenc:CipherValue>" +
        base64(encryptData(used, key, plaintext)) +
        "</xenc:CipherValue></xenc:CipherData></xenc:EncryptedData>";
    return "<" + how.element + " xmlns:saml=\"urn:oasis:names:tc:SAML:2.0:assertion\">" + data +
           (how.keyBesideData ? encryptedKey : "") + "</" + how.element + ">";
}

std::string withCipherByteFlipped(const std::string& xml, const std::string& after, long offset,
                                  unsigned char mask) {
    const std::string open = "<xenc:CipherValue>";
    const std::size_t anchor = xml.find(after);
    const std::size_t from = anchor == std::string::npos ? anchor : xml.find(open, anchor);
    const std::size_t to = from == std::string::npos ? from : xml.find("</xenc:CipherValue>", from);
    require(to != std::string::npos, "no CipherValue after " + after);
    const std::size_t start = from + open.size();
    std::string bytes = unbase64(xml.substr(start, to - start));
    const long size = static_cast<long>(bytes.size());
    const long at = offset < 0 ? size + offset : offset;
    require(at >= 0 && at < size, "offset " + std::to_string(offset) + " outside the cipher text");
    bytes[static_cast<std::size_t>(at)] =
        static_cast<char>(static_cast<unsigned char>(bytes[static_cast<std::size_t>(at)]) ^ mask);
    return xml.substr(0, start) + base64(bytes) + xml.substr(to);
}

}  // namespace corvane_test
