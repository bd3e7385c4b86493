// verifyLoginResponse on encrypted logins, with the SP's decryption key of
// the test data (data/idp-encrypted) and CBC allowed without a Response
// signature, so that unsigned inputs reach decryption. An input starting
// with '<' is a whole response (the real IdP responses seed it); any other
// input is, after its first byte, the plaintext of an EncryptedAssertion:
// it is encrypted here under AES-128-GCM with a data key wrapped once for
// the SP's key, which takes the input through key transport, decryption
// and the hardened parse of the plaintext. Whatever the input:
// - the call ends with one of the login's statuses, and a message exactly
//   when it failed;
// - a plaintext input never logs in: nothing signed it.
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include <corvane/corvane.h>

namespace {

using corvane::Status;

void require(bool condition, const char* what, const std::string& message = std::string()) {
    if (condition) return;
    std::fprintf(stderr, "corvane fuzz check failed: %s (message: %s)\n", what, message.c_str());
    std::abort();
}

std::string dataFile(const char* name) {
    std::ifstream in(std::string(CORVANE_IDP_ENCRYPTED_DIR) + "/" + name, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    require(!text.str().empty(), "test data missing", name);
    return text.str();
}

std::string base64(const std::string& bytes) {
    std::string out(4 * ((bytes.size() + 2) / 3) + 1, '\0');
    const int written = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(&out[0]),
                                        reinterpret_cast<const unsigned char*>(bytes.data()),
                                        static_cast<int>(bytes.size()));
    out.resize(static_cast<std::size_t>(written));
    return out;
}

// The data key and its RSA-OAEP wrapping for the SP's certificate, made once.
struct DataKey {
    std::string key = std::string(16, '\0');
    std::string wrappedBase64;
    DataKey() {
        require(RAND_bytes(reinterpret_cast<unsigned char*>(&key[0]), 16) == 1, "random key");
        const std::string pem = dataFile("test-only-sp-encryption.crt.pem");
        BIO* bio = BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size()));
        X509* cert = PEM_read_bio_X509(bio, nullptr, nullptr, nullptr);
        EVP_PKEY* publicKey = cert ? X509_get_pubkey(cert) : nullptr;
        EVP_PKEY_CTX* ctx = publicKey ? EVP_PKEY_CTX_new(publicKey, nullptr) : nullptr;
        std::string wrapped(512, '\0');
        std::size_t size = wrapped.size();
        const bool ok =
            ctx && EVP_PKEY_encrypt_init(ctx) == 1 &&
            EVP_PKEY_CTX_set_rsa_padding(ctx, RSA_PKCS1_OAEP_PADDING) == 1 &&
            EVP_PKEY_encrypt(ctx, reinterpret_cast<unsigned char*>(&wrapped[0]), &size,
                             reinterpret_cast<const unsigned char*>(key.data()), key.size()) == 1;
        EVP_PKEY_CTX_free(ctx);
        EVP_PKEY_free(publicKey);
        X509_free(cert);
        BIO_free(bio);
        require(ok, "wrapping the data key");
        wrapped.resize(size);
        wrappedBase64 = base64(wrapped);
    }
};

// plaintext under AES-128-GCM: IV, cipher text, tag.
std::string encrypted(const std::string& key, const std::string& plaintext) {
    const std::string iv(12, '\x42');
    std::string out(plaintext.size() + 16, '\0');
    std::string tag(16, '\0');
    int written = 0;
    int last = 0;
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    const bool ok =
        ctx &&
        EVP_EncryptInit_ex(ctx, EVP_aes_128_gcm(), nullptr,
                           reinterpret_cast<const unsigned char*>(key.data()),
                           reinterpret_cast<const unsigned char*>(iv.data())) == 1 &&
        EVP_EncryptUpdate(ctx, reinterpret_cast<unsigned char*>(&out[0]), &written,
                          reinterpret_cast<const unsigned char*>(plaintext.data()),
                          static_cast<int>(plaintext.size())) == 1 &&
        EVP_EncryptFinal_ex(ctx, reinterpret_cast<unsigned char*>(&out[0]) + written, &last) == 1 &&
        EVP_CIPHER_CTX_ctrl(ctx, EVP_CTRL_GCM_GET_TAG, 16, &tag[0]) == 1;
    EVP_CIPHER_CTX_free(ctx);
    require(ok, "encrypting the plaintext");
    out.resize(static_cast<std::size_t>(written + last));
    return iv + out + tag;
}

std::string responseAround(const DataKey& dataKey, const std::string& plaintext) {
    return "<samlp:Response xmlns:samlp=\"urn:oasis:names:tc:SAML:2.0:protocol\" "
           "xmlns:saml=\"urn:oasis:names:tc:SAML:2.0:assertion\" ID=\"_fuzz-response\" "
           "Version=\"2.0\" IssueInstant=\"2026-12-09T12:00:00Z\" "
           "Destination=\"https://sp.example.test/acs\" "
           "InResponseTo=\"_request-0123456789abcdef\"><saml:Issuer>"
           "https://idp.example.test/metadata</saml:Issuer><samlp:Status><samlp:StatusCode "
           "Value=\"urn:oasis:names:tc:SAML:2.0:status:Success\"/></samlp:Status>"
           "<saml:EncryptedAssertion><xenc:EncryptedData "
           "xmlns:xenc=\"http://www.w3.org/2001/04/xmlenc#\" "
           "Type=\"http://www.w3.org/2001/04/xmlenc#Element\"><xenc:EncryptionMethod "
           "Algorithm=\"http://www.w3.org/2009/xmlenc11#aes128-gcm\"/><ds:KeyInfo "
           "xmlns:ds=\"http://www.w3.org/2000/09/xmldsig#\"><xenc:EncryptedKey>"
           "<xenc:EncryptionMethod Algorithm=\"http://www.w3.org/2001/04/xmlenc#rsa-oaep-mgf1p\"/>"
           "<xenc:CipherData><xenc:CipherValue>" +
           dataKey.wrappedBase64 +
           "</xenc:CipherValue></xenc:CipherData></xenc:EncryptedKey></ds:KeyInfo>"
           "<xenc:CipherData><xenc:CipherValue>" +
           base64(encrypted(dataKey.key, plaintext)) +
           "</xenc:CipherValue></xenc:CipherData></xenc:EncryptedData></saml:EncryptedAssertion>"
           "</samlp:Response>";
}

struct Setup {
    corvane::Library library;
    DataKey dataKey;
    corvane::LoginExpectations expectations;
    Setup() : library(corvane::Library::start().value()) {
        expectations.idpEntityId = "https://idp.example.test/metadata";
        expectations.idpCertificates = {
            corvane::Key::loadCertificate(dataFile("test-only-idp-signing.crt.pem")).value()};
        expectations.spEntityId = "https://sp.example.test/metadata";
        expectations.acsUrl = "https://sp.example.test/acs";
        expectations.requestId = "_request-0123456789abcdef";
        expectations.now = 1796817600;  // 2026-12-09T12:00:00Z
        expectations.skipReplayCheck = true;
        expectations.allowCbcWithoutResponseSignature = true;
        expectations.spDecryptionKeys = {
            corvane::Key::loadPrivateKey(dataFile("test-only-sp-encryption.key.pem")).value()};
    }
};

Setup& setup() {
    static Setup* made = new Setup();  // kept until exit, after the last input
    return *made;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Setup& s = setup();
    const std::string input(reinterpret_cast<const char*>(data), size);
    const bool wholeResponse = !input.empty() && input[0] == '<';
    const std::string response =
        wholeResponse ? input : responseAround(s.dataKey, input.empty() ? input : input.substr(1));
    const corvane::Result<corvane::VerifiedLogin> login =
        corvane::verifyLoginResponse(response, s.expectations);
    const Status status = login.status();
    require(status == Status::Ok || status == Status::NotAuthentic || status == Status::Unusable ||
                status == Status::ProfileRefused || status == Status::TooLarge ||
                status == Status::BadOptions,
            "a login status", login.message());
    require(login.ok() == login.message().empty(), "a message exactly when it failed",
            login.message());
    require(wholeResponse || !login.ok(), "an unsigned plaintext logged in", login.message());
    return 0;
}
