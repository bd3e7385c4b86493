#include "generated_keys.h"

#include <map>
#include <memory>

#include <gtest/gtest.h>
#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/valid.h>
#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <xmlsec/keys.h>
#include <xmlsec/openssl/app.h>
#include <xmlsec/xmldsig.h>
#include <xmlsec/xmltree.h>

namespace corvane_test {

namespace {

struct Free {
    void operator()(EVP_PKEY* p) const { EVP_PKEY_free(p); }
    void operator()(X509* p) const { X509_free(p); }
    void operator()(BIO* p) const { BIO_free(p); }
    void operator()(xmlDoc* p) const { xmlFreeDoc(p); }
    void operator()(xmlSecDSigCtx* p) const { xmlSecDSigCtxDestroy(p); }
    void operator()(xmlChar* p) const { xmlFree(p); }
};
template <typename T>
using Owned = std::unique_ptr<T, Free>;

std::string bioText(BIO* bio) {
    char* data = nullptr;
    const long size = BIO_get_mem_data(bio, &data);
    return size > 0 ? std::string(data, static_cast<std::size_t>(size)) : std::string();
}

std::string privateKeyPem(EVP_PKEY* key) {
    Owned<BIO> bio(BIO_new(BIO_s_mem()));
    if (!bio || PEM_write_bio_PrivateKey(bio.get(), key, nullptr, nullptr, 0, nullptr, nullptr) != 1)
        return std::string();
    return bioText(bio.get());
}

// A self-signed certificate of key, valid for a year from now.
std::string selfSignedCertificatePem(EVP_PKEY* key) {
    Owned<X509> cert(X509_new());
    Owned<BIO> bio(BIO_new(BIO_s_mem()));
    if (!cert || !bio) return std::string();
    X509_NAME* name = X509_get_subject_name(cert.get());
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>("corvane generated test key"),
                               -1, -1, 0);
    const bool made = X509_set_version(cert.get(), 2) == 1 &&
                      ASN1_INTEGER_set(X509_get_serialNumber(cert.get()), 1) == 1 &&
                      X509_gmtime_adj(X509_getm_notBefore(cert.get()), 0) != nullptr &&
                      X509_gmtime_adj(X509_getm_notAfter(cert.get()), 365L * 24 * 3600) != nullptr &&
                      X509_set_issuer_name(cert.get(), name) == 1 &&
                      X509_set_pubkey(cert.get(), key) == 1 &&
                      X509_sign(cert.get(), key, EVP_sha256()) > 0 &&
                      PEM_write_bio_X509(bio.get(), cert.get()) == 1;
    return made ? bioText(bio.get()) : std::string();
}

GeneratedKey describe(EVP_PKEY* key, const std::string& what) {
    GeneratedKey made;
    if (key != nullptr) {
        made.privateKeyPem = privateKeyPem(key);
        made.certificatePem = selfSignedCertificatePem(key);
    }
    if (made.privateKeyPem.empty() || made.certificatePem.empty())
        ADD_FAILURE() << "OpenSSL could not make the test key " << what;
    return made;
}

// Every element's "ID" attribute as an ID, as a signer registers them.
void registerIds(xmlDoc* doc, xmlNode* node) {
    for (; node != nullptr; node = node->next) {
        if (node->type != XML_ELEMENT_NODE) continue;
        xmlAttr* id = xmlHasNsProp(node, BAD_CAST "ID", nullptr);
        if (id != nullptr) {
            Owned<xmlChar> value(xmlNodeListGetString(doc, id->children, 1));
            if (value) xmlAddID(nullptr, doc, value.get(), id);
        }
        registerIds(doc, node->children);
    }
}

}  // namespace

const GeneratedKey& generatedRsaKey(int bits) {
    static std::map<int, GeneratedKey> made;
    auto found = made.find(bits);
    if (found != made.end()) return found->second;
    Owned<EVP_PKEY> key(EVP_RSA_gen(static_cast<unsigned int>(bits)));
    return made[bits] = describe(key.get(), "RSA-" + std::to_string(bits));
}

const GeneratedKey& generatedEcKey(const std::string& curveName) {
    static std::map<std::string, GeneratedKey> made;
    auto found = made.find(curveName);
    if (found != made.end()) return found->second;
    Owned<EVP_PKEY> key(EVP_EC_gen(curveName.c_str()));
    return made[curveName] = describe(key.get(), "EC " + curveName);
}

std::string signTemplateInProcess(const std::string& xml, const std::string& privateKeyPem) {
    Owned<xmlDoc> doc(xmlReadMemory(xml.data(), static_cast<int>(xml.size()), nullptr, nullptr,
                                    XML_PARSE_NONET));
    xmlNode* root = doc ? xmlDocGetRootElement(doc.get()) : nullptr;
    xmlNode* signature = root ? xmlSecFindNode(root, xmlSecNodeSignature, xmlSecDSigNs) : nullptr;
    Owned<xmlSecDSigCtx> ctx(xmlSecDSigCtxCreate(nullptr));
    if (signature == nullptr || !ctx) {
        ADD_FAILURE() << "no signature template to sign in the test document";
        return std::string();
    }
    registerIds(doc.get(), root);
    ctx->signKey = xmlSecOpenSSLAppKeyLoadMemory(
        reinterpret_cast<const xmlSecByte*>(privateKeyPem.data()),
        static_cast<xmlSecSize>(privateKeyPem.size()), xmlSecKeyDataFormatPem, nullptr, nullptr,
        nullptr);
    if (ctx->signKey == nullptr || xmlSecDSigCtxSign(ctx.get(), signature) < 0) {
        ADD_FAILURE() << "xmlsec1 could not sign the test document";
        return std::string();
    }
    xmlChar* raw = nullptr;
    int size = 0;
    xmlDocDumpMemory(doc.get(), &raw, &size);
    Owned<xmlChar> text(raw);
    return text ? std::string(reinterpret_cast<const char*>(text.get()),
                              static_cast<std::size_t>(size))
                : std::string();
}

}  // namespace corvane_test
