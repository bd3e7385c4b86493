// One owning pointer type for the handles of the libraries underneath:
// UniquePtr<T> releases a T with the one function that releases it, so
// each handle has one owner from the line that creates it and is released
// on every path. A handle type gets its deleter once, here.
#ifndef CORVANE_FRAME_HANDLES_H
#define CORVANE_FRAME_HANDLES_H

#include <memory>

#include <libxml/parser.h>
#include <libxml/tree.h>
#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/x509.h>
#include <xmlsec/keys.h>
#include <xmlsec/keysmngr.h>
#include <xmlsec/transforms.h>
#include <xmlsec/xmldsig.h>
#include <zlib.h>

namespace corvane {
namespace internal {

// Specialised once per handle type by CORVANE_MAKE_DELETER.
template <typename T>
struct Deleter;

#define CORVANE_MAKE_DELETER(type, release)                      \
    template <>                                                  \
    struct Deleter<type> {                                       \
        void operator()(type* handle) const { release(handle); } \
    }

// libxml2
CORVANE_MAKE_DELETER(xmlDoc, xmlFreeDoc);
CORVANE_MAKE_DELETER(xmlChar, xmlFree);
CORVANE_MAKE_DELETER(xmlParserCtxt, xmlFreeParserCtxt);
// xmlsec1
CORVANE_MAKE_DELETER(xmlSecKey, xmlSecKeyDestroy);
CORVANE_MAKE_DELETER(xmlSecKeyData, xmlSecKeyDataDestroy);
CORVANE_MAKE_DELETER(xmlSecDSigCtx, xmlSecDSigCtxDestroy);
CORVANE_MAKE_DELETER(xmlSecKeysMngr, xmlSecKeysMngrDestroy);
CORVANE_MAKE_DELETER(xmlSecTransform, xmlSecTransformDestroy);
CORVANE_MAKE_DELETER(xmlSecTransformCtx, xmlSecTransformCtxDestroy);
CORVANE_MAKE_DELETER(xmlSecBuffer, xmlSecBufferDestroy);
// OpenSSL
CORVANE_MAKE_DELETER(BIO, BIO_free);
CORVANE_MAKE_DELETER(X509, X509_free);
CORVANE_MAKE_DELETER(EVP_PKEY, EVP_PKEY_free);
CORVANE_MAKE_DELETER(EVP_MD_CTX, EVP_MD_CTX_free);
CORVANE_MAKE_DELETER(EVP_PKEY_CTX, EVP_PKEY_CTX_free);
CORVANE_MAKE_DELETER(EVP_CIPHER_CTX, EVP_CIPHER_CTX_free);
// zlib: a stream set up with deflateInit2 (the Redirect binding's
// compression), and one set up with inflateInit2 (its decompression), a
// type of its own so that each is ended by its own function.
CORVANE_MAKE_DELETER(z_stream, deflateEnd);
struct InflateStream : z_stream {
    InflateStream() : z_stream() {}
};
inline void endInflateStream(InflateStream* stream) { inflateEnd(stream); }
CORVANE_MAKE_DELETER(InflateStream, endInflateStream);

#undef CORVANE_MAKE_DELETER

template <typename T>
using UniquePtr = std::unique_ptr<T, Deleter<T>>;

typedef UniquePtr<xmlChar> XmlCharPtr;
typedef UniquePtr<xmlParserCtxt> XmlParserCtxtPtr;
typedef UniquePtr<xmlDoc> XmlDocPtr;

}  // namespace internal
}  // namespace corvane

#endif
