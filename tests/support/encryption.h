// XML Encryption done by the tests themselves with OpenSSL, the way IdPs
// encrypt assertions for an SP: a random data key, the data under AES (or
// 3DES, for the rows that must be refused) and the key under RSA-OAEP (or
// RSA-1.5) to the SP's certificate.
#ifndef CORVANE_TEST_ENCRYPTION_H
#define CORVANE_TEST_ENCRYPTION_H

#include <string>

namespace corvane_test {

extern const char kAes128Cbc[];
extern const char kAes192Cbc[];
extern const char kAes256Cbc[];
extern const char kAes128Gcm[];
extern const char kAes192Gcm[];
extern const char kAes256Gcm[];
extern const char kTripleDes[];
extern const char kRsaOaepMgf1p[];
extern const char kRsaOaep[];  // XML Encryption 1.1
extern const char kRsa15[];
extern const char kDigestSha1[];
extern const char kDigestSha256[];
extern const char kDigestSha384[];
extern const char kDigestSha512[];
extern const char kMgf1Sha1[];
extern const char kMgf1Sha256[];
extern const char kMgf1Sha384[];
extern const char kMgf1Sha512[];

struct Encryption {
    std::string dataAlgorithm = kAes256Gcm;
    std::string keyTransport = kRsaOaepMgf1p;
    std::string oaepDigest;  // a ds:DigestMethod when set (OAEP's digest; SHA-1 otherwise)
    std::string mgf;         // an xenc11:MGF when set (MGF1 with SHA-1 otherwise)
    std::string oaepLabel;   // OAEPparams when set
    // The EncryptedKey beside the EncryptedData, named by a RetrievalMethod
    // to its Id "_encrypted-key-1", instead of inside the data's KeyInfo.
    bool keyBesideData = false;
    // The recipient's certificate in the EncryptedKey's KeyInfo.
    bool nameCertificate = false;
    // The element that holds EncryptedData and EncryptedKey.
    std::string element = "saml:EncryptedAssertion";
};

// plaintext encrypted for the key of recipientCertificatePem, as the XML of
// how.element (which declares the saml prefix). Stops the process when
// OpenSSL cannot: a broken set-up, not a result. Needs no test framework,
// so fuzz targets and benchmarks use it too.
std::string encryptedElement(const std::string& plaintext,
                             const std::string& recipientCertificatePem,
                             const Encryption& how = Encryption());

// The base64 text of the first CipherValue after `after` in xml, decoded,
// changed by flipping the bits of mask at byte offset (negative: from the
// end), and encoded again in its place.
std::string withCipherByteFlipped(const std::string& xml, const std::string& after, long offset,
                                  unsigned char mask = 0x01);

}  // namespace corvane_test

#endif
