// PEM key text: loading keys from memory, and keeping private keys out of
// every message the library writes.
#include <openssl/pem.h>
#include <xmlsec/openssl/app.h>

#include "Corvane.h"
#include "xmldsig/signature_layer.h"

namespace corvane {
namespace internal {

namespace {

const char kWithheldMarker[] = "[private key withheld]";
const char kBegin[] = "-----BEGIN";
const char kEnd[] = "-----END";
const char kPrivateKeyLabel[] = "PRIVATE KEY";

std::string::size_type endOfLine(const std::string& text, std::string::size_type pos) {
    const std::string::size_type eol = text.find_first_of("\r\n", pos);
    return eol == std::string::npos ? text.size() : eol;
}

bool lineNamesPrivateKey(const std::string& text, std::string::size_type lineStart) {
    const std::string::size_type eol = endOfLine(text, lineStart);
    const std::string::size_type label = text.find(kPrivateKeyLabel, lineStart);
    return label != std::string::npos && label < eol;
}

// End of the private-key block that starts at begin: the end of its
// "-----END ... PRIVATE KEY-----" line, or the end of the text when the
// block is never closed (withholding too much is the safe mistake).
std::string::size_type endOfPrivateKeyBlock(const std::string& text, std::string::size_type begin) {
    std::string::size_type pos = begin;
    while ((pos = text.find(kEnd, pos)) != std::string::npos) {
        if (lineNamesPrivateKey(text, pos)) return endOfLine(text, pos);
        pos += sizeof kEnd - 1;
    }
    return text.size();
}

// OpenSSL's default password callback reads the terminal; keys are loaded
// without a password, so refuse at once.
int refusePassword(char*, int, int, void*) { return -1; }

}  // namespace

std::string withPrivateKeysWithheld(const std::string& pemText) {
    std::string result;
    std::string::size_type copied = 0;
    std::string::size_type pos = 0;
    while ((pos = pemText.find(kBegin, pos)) != std::string::npos) {
        if (!lineNamesPrivateKey(pemText, pos)) {
            pos += sizeof kBegin - 1;
            continue;
        }
        const std::string::size_type end = endOfPrivateKeyBlock(pemText, pos);
        result.append(pemText, copied, pos - copied);
        result += kWithheldMarker;
        copied = pos = end;
    }
    result.append(pemText, copied, std::string::npos);
    return result;
}

xmlSecKey* loadKeyFromPem(const std::string& pemText, xmlSecKeyDataFormat format) {
    if (pemText.size() > static_cast<std::string::size_type>(XMLSEC_SIZE_MAX)) return nullptr;
    pem_password_cb* noPassword = refusePassword;
    return xmlSecOpenSSLAppKeyLoadMemory(reinterpret_cast<const xmlSecByte*>(pemText.data()),
                                         static_cast<xmlSecSize>(pemText.size()), format, nullptr,
                                         reinterpret_cast<void*>(noPassword), nullptr);
}

}  // namespace internal
}  // namespace corvane
