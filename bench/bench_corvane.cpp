// corvane against the cryptography underneath it, single-threaded, in one
// run so that the ratios compare like with like:
//   floor/...    OpenSSL RSA-2048 over a SignedInfo-sized input (EVP API);
//   bare/...     libxml2 + xmlsec1 doing per call what the library does:
//                parse from memory, load the PEM key, register the root ID,
//                verify (or sign and serialize), free;
//   corvane/...  the library's own operations on the same inputs;
//   part/...     single steps, to explain the ratios;
//   growth/...   verification from 2 KB to 1 MB (many attributes) and of a
//                response with 1 MB of padding: time per byte must stay flat;
//   cost/...     both verifications on 1 MiB shaped to make name resolution
//                costly (namespace declarations, depth, prefixed names),
//                beside the honest 1 MiB response: time per byte must stay
//                within a small multiple of the honest one's;
//   vs_floor/... the profile-checked login beside the physical floor and the
//                bare xmlsec1 path with the key loaded once, from 6 KB to
//                1 MiB, on 1 and 2 threads at 6 KB.
// scripts/bench runs it and prints the ratio table.
//
// With --profile=OPERATION:N the binary instead runs one operation N times
// with callgrind's collection switched on around the loop only (see
// scripts/bench --profile); OPERATION is one of corvane-verify, bare-verify,
// corvane-create, bare-sign, and corvane-verify or bare-verify followed by
// -1MiB (the largest growth response) or -padding (the padded one); or one
// of floor, bare, login followed by @ and the nominal size of a vs_floor
// response (6144, 32768, 131072, 524288, 1048576).
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <atomic>
#include <ctime>
#include <map>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>

#include <benchmark/benchmark.h>
#include <libxml/c14n.h>
#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/valid.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/rsa.h>
#include <valgrind/callgrind.h>
#include <xmlsec/keys.h>
#include <xmlsec/openssl/app.h>
#include <xmlsec/xmldsig.h>
#include <xmlsec/xmltree.h>

#include "Corvane.h"
#include <corvane/corvane.h>
#include "encryption.h"
#include "idp_samples.h"
#include "redis_server.h"
#include "xml/limits.h"

namespace {

using corvane_samples::Digest;
using corvane_samples::ResponseShape;

// ---- Inputs, made once before any benchmark runs ----

struct Inputs {
    std::string idpCert;
    std::string idpKey;
    std::string spKeyAndCert;
    std::string responseSha1;  // realistic IdP response, 5-8 KB
    std::string responseSha256;
    std::string signedInfo;                     // SignedInfo of responseSha1, for the floors
    std::string requestTemplate;                // what createAuthnRequest hands to signing
    std::map<std::size_t, std::string> growth;  // by target size
    std::string padded;                         // 1 MB NameID-free padding
    std::map<std::string, std::string> costly;  // 1 MiB hostile shapes, by name
    std::string encryptedGcm;  // responseSha256's assertion under AES-256-GCM, Response signed
    std::string encryptedCbc;  // the same under AES-128-CBC
};

Inputs& inputs() {
    static Inputs in;
    return in;
}

void onLog(int, const std::string&) {}
void onError(const std::string&) {}
void onId(std::string& id) { id = "_b07c1e2d3f4a5b6c7d8e9f0a1b2c3d4e5"; }

boost::shared_ptr<corvane::CorvaneBase> helper() {
    return corvane::CorvaneBase::getHelper(onLog, onError, onId);
}

std::string mustSign(const ResponseShape& shape) {
    const std::string text = corvane_samples::signedResponse(shape);
    if (text.empty()) throw std::runtime_error("cannot sign a benchmark response");
    return text;
}

std::string between(const std::string& text, const std::string& begin, const std::string& end) {
    const std::string::size_type from = text.find(begin);
    const std::string::size_type to = text.find(end, from);
    return text.substr(from, to + end.size() - from);
}

// The unsigned request exactly as createAuthnRequest serializes it.
std::string requestTemplate() {
    TiXmlDocument document;
    document.LinkEndChild(new TiXmlDeclaration("1.0", "", ""));
    document.LinkEndChild(corvane::createAuthnRequestElement(
        "https://idp.example.test/saml2/sso", "https://sp.example.test/saml2/metadata"));
    std::ostringstream text;
    text << document;
    return text.str();
}

// " xmlns:p<tag>_<k>='urn:k'" for k below count.
std::string declarations(int tag, int count) {
    std::string out;
    for (int k = 0; k < count; ++k) {
        out += " xmlns:p" + std::to_string(tag) + "_" + std::to_string(k) +
               "=\"urn:" + std::to_string(k) + "\"";
    }
    return out;
}

// The realistic response with, before its end tag, `depth` nested elements
// declaring `perElement` prefixes each, `names` prefixed elements with a
// prefixed attribute (the prefix declared farthest up) at the bottom, and
// text filling the whole to `size` bytes. The signature no longer
// verifies, but every byte is read first.
std::string costlyShape(const std::string& honest, std::size_t size, int depth, int perElement,
                        std::size_t names, const std::string& prefix) {
    std::string open, close;
    for (int d = 0; d < depth; ++d) {
        open += "<e" + declarations(d, perElement) + ">";
        close += "</e>";
    }
    const std::string name =
        prefix.empty() ? "<x a=\"\"/>" : "<" + prefix + ":x " + prefix + ":a=\"\"/>";
    std::string body = open;
    for (std::size_t i = 0; i < names && honest.size() + body.size() + close.size() < size; ++i) {
        body += name;
    }
    const std::size_t used = honest.size() + body.size() + close.size();
    if (used < size) body += std::string(size - used, 't');
    body += close;
    const std::string::size_type end = honest.rfind("</");
    return honest.substr(0, end) + body + honest.substr(end);
}

// 1 MiB of hostile content in the realistic response: shapes refused by
// the bounds, and shapes that stay just within the resolution budget (90%
// of it), so they are read through to the signature.
void prepareCostlyShapes(const std::string& realistic, std::map<std::string, std::string>* out) {
    const std::size_t size = realistic.size() + (1u << 20);
    const long long budget = corvane::internal::resolutionStepBudget(size);
    const auto within = [&](long long stepsPerName) {
        return static_cast<std::size_t>(budget * 9 / 10 / stepsPerName);
    };
    // 250 prefixes on each of 180 nested elements fill the MiB.
    (*out)["declarations_180x250"] = costlyShape(realistic, size, 180, 250, size, "p0_0");
    (*out)["declarations_250x5_names"] = costlyShape(realistic, size, 250, 5, size, "p0_0");
    // Each name is charged twice (element and attribute) with its depth
    // (root included) plus the declarations in scope (the root's included).
    (*out)["depth_250_names_in_budget"] =
        costlyShape(realistic, size, 250, 0, within(2 * (251 + 8)), "samlp");
    (*out)["depth_250_plain_names_in_budget"] =
        costlyShape(realistic, size, 250, 0, within(2 * 251), "");
    (*out)["declarations_2016_names_in_budget"] =
        costlyShape(realistic, size, 32, 63, within(2 * (33 + 2024)), "p0_0");
    (*out)["prefixed_names_only"] = costlyShape(realistic, size, 0, 0, size, "samlp");
}

std::string encryptedSample(const char* dataAlgorithm);

void prepareInputs() {
    Inputs& in = inputs();
    in.idpCert = corvane_samples::idpCert();
    in.idpKey = corvane_samples::idpKey();
    in.spKeyAndCert = corvane_samples::spKeyAndCert();
    ResponseShape realistic;
    in.responseSha1 = mustSign(realistic);
    realistic.digest = Digest::Sha256;
    in.responseSha256 = mustSign(realistic);
    in.signedInfo = between(in.responseSha1, "<ds:SignedInfo>", "</ds:SignedInfo>");
    in.requestTemplate = requestTemplate();

    ResponseShape lean;
    lean.keyInfo = false;
    lean.statements = false;
    for (std::size_t size : {2u << 10, 8u << 10, 32u << 10, 128u << 10, 512u << 10, 1u << 20}) {
        lean.extraAttributes = corvane_samples::extraAttributesFor(size, lean);
        in.growth[size] = mustSign(lean);
    }
    lean.extraAttributes = 0;
    lean.paddingBytes = 1u << 20;
    in.padded = mustSign(lean);
    prepareCostlyShapes(in.responseSha1, &in.costly);
    in.encryptedGcm = encryptedSample(corvane_test::kAes256Gcm);
    in.encryptedCbc = encryptedSample(corvane_test::kAes128Cbc);
}

// ---- The floors: OpenSSL alone ----

struct PkeyFree {
    void operator()(EVP_PKEY* k) const { EVP_PKEY_free(k); }
};
typedef std::unique_ptr<EVP_PKEY, PkeyFree> PkeyPtr;

PkeyPtr privateKey(const std::string& pem) {
    BIO* bio = BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size()));
    PkeyPtr key(PEM_read_bio_PrivateKey(bio, nullptr, nullptr, nullptr));
    BIO_free(bio);
    return key;
}

PkeyPtr certificateKey(const std::string& pem) {
    BIO* bio = BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size()));
    X509* cert = PEM_read_bio_X509(bio, nullptr, nullptr, nullptr);
    BIO_free(bio);
    PkeyPtr key(cert ? X509_get_pubkey(cert) : nullptr);
    X509_free(cert);
    return key;
}

std::string rsaSign(EVP_PKEY* key, const EVP_MD* md, const std::string& data) {
    EVP_MD_CTX* ctx = EVP_MD_CTX_new();
    unsigned char sig[512];
    size_t len = sizeof sig;
    const bool ok =
        EVP_DigestSignInit(ctx, nullptr, md, nullptr, key) == 1 &&
        EVP_DigestSign(ctx, sig, &len, reinterpret_cast<const unsigned char*>(data.data()),
                       data.size()) == 1;
    EVP_MD_CTX_free(ctx);
    return ok ? std::string(reinterpret_cast<const char*>(sig), len) : std::string();
}

bool rsaVerify(EVP_PKEY* key, const EVP_MD* md, const std::string& data, const std::string& sig) {
    EVP_MD_CTX* ctx = EVP_MD_CTX_new();
    const bool ok =
        EVP_DigestVerifyInit(ctx, nullptr, md, nullptr, key) == 1 &&
        EVP_DigestVerify(ctx, reinterpret_cast<const unsigned char*>(sig.data()), sig.size(),
                         reinterpret_cast<const unsigned char*>(data.data()), data.size()) == 1;
    EVP_MD_CTX_free(ctx);
    return ok;
}

void floorRsaSign(benchmark::State& state, const EVP_MD* md) {
    PkeyPtr key = privateKey(inputs().idpKey);
    for (auto _ : state) {
        std::string sig = rsaSign(key.get(), md, inputs().signedInfo);
        if (sig.empty()) state.SkipWithError("RSA signing failed");
        benchmark::DoNotOptimize(sig);
    }
}

void floorRsaVerify(benchmark::State& state, const EVP_MD* md) {
    PkeyPtr priv = privateKey(inputs().idpKey);
    PkeyPtr pub = certificateKey(inputs().idpCert);
    const std::string sig = rsaSign(priv.get(), md, inputs().signedInfo);
    for (auto _ : state) {
        if (!rsaVerify(pub.get(), md, inputs().signedInfo, sig)) {
            state.SkipWithError("RSA verification failed");
        }
    }
}

// ---- The bare xmlsec1 paths ----

xmlSecKey* loadKey(const std::string& pem, xmlSecKeyDataFormat format) {
    return xmlSecOpenSSLAppKeyLoadMemory(reinterpret_cast<const xmlSecByte*>(pem.data()),
                                         static_cast<xmlSecSize>(pem.size()), format, nullptr,
                                         nullptr, nullptr);
}

bool registerRootId(xmlDoc* doc, xmlNode* root) {
    xmlAttr* attr = xmlHasProp(root, BAD_CAST "ID");
    if (attr == nullptr) return false;
    xmlChar* id = xmlNodeListGetString(doc, attr->children, 1);
    const bool ok = xmlAddID(nullptr, doc, id, attr) != nullptr;
    xmlFree(id);
    return ok;
}

struct XmlSecKeyFree {
    void operator()(xmlSecKey* key) const { xmlSecKeyDestroy(key); }
};

// Parse, register the root ID, verify with a key loaded before (the
// context borrows it), free.
bool bareVerifyKeyOnce(const std::string& xml, xmlSecKey* key) {
    xmlDoc* doc = xmlParseMemory(xml.data(), static_cast<int>(xml.size()));
    xmlNode* root = doc ? xmlDocGetRootElement(doc) : nullptr;
    xmlNode* signature = root ? xmlSecFindNode(root, xmlSecNodeSignature, xmlSecDSigNs) : nullptr;
    bool ok = false;
    if (signature != nullptr) {
        xmlSecDSigCtx* ctx = xmlSecDSigCtxCreate(nullptr);
        ctx->signKey = key;
        ctx->enabledReferenceUris = static_cast<xmlSecTransformUriType>(
            xmlSecTransformUriTypeEmpty | xmlSecTransformUriTypeSameDocument);
        ok = registerRootId(doc, root) && xmlSecDSigCtxVerify(ctx, signature) >= 0 &&
             ctx->status == xmlSecDSigStatusSucceeded;
        ctx->signKey = nullptr;
        xmlSecDSigCtxDestroy(ctx);
    }
    xmlFreeDoc(doc);
    return ok;
}

// Load the certificate, then the above, then free the key.
bool bareVerify(const std::string& xml, const std::string& certPem) {
    const std::unique_ptr<xmlSecKey, XmlSecKeyFree> key(
        loadKey(certPem, xmlSecKeyDataFormatCertPem));
    return key && bareVerifyKeyOnce(xml, key.get());
}

// Parse the request with its template, load the private key, sign,
// serialize, free.
bool bareSign(const std::string& xml, const std::string& keyPem, std::string* out) {
    xmlDoc* doc = xmlParseMemory(xml.data(), static_cast<int>(xml.size()));
    xmlNode* root = doc ? xmlDocGetRootElement(doc) : nullptr;
    xmlNode* signature = root ? xmlSecFindNode(root, xmlSecNodeSignature, xmlSecDSigNs) : nullptr;
    bool ok = false;
    if (signature != nullptr) {
        xmlSecDSigCtx* ctx = xmlSecDSigCtxCreate(nullptr);
        ctx->signKey = loadKey(keyPem, xmlSecKeyDataFormatPem);
        if (ctx->signKey != nullptr && xmlSecDSigCtxSign(ctx, signature) >= 0) {
            xmlChar* buffer = nullptr;
            int size = 0;
            xmlDocDumpMemory(doc, &buffer, &size);
            if (buffer != nullptr) {
                out->assign(reinterpret_cast<const char*>(buffer), static_cast<std::size_t>(size));
                ok = true;
            }
            xmlFree(buffer);
        }
        xmlSecDSigCtxDestroy(ctx);
    }
    xmlFreeDoc(doc);
    return ok;
}

void bareVerifyResponse(benchmark::State& state, const std::string* xml) {
    for (auto _ : state) {
        if (!bareVerify(*xml, inputs().idpCert)) state.SkipWithError("bare verification failed");
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * xml->size()));
}

void bareSignRequest(benchmark::State& state) {
    std::string out;
    for (auto _ : state) {
        if (!bareSign(inputs().requestTemplate, inputs().spKeyAndCert, &out)) {
            state.SkipWithError("bare signing failed");
        }
    }
}

// ---- The library ----

void corvaneVerify(benchmark::State& state, const std::string* xml) {
    boost::shared_ptr<corvane::CorvaneBase> saml = helper();
    std::string nameId;
    for (auto _ : state) {
        if (saml->verifySamlResponse(nameId, *xml, inputs().idpCert) != 0) {
            state.SkipWithError("verifySamlResponse refused the response");
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * xml->size()));
    state.SetLabel(std::to_string(xml->size()) + " bytes");
}

void corvaneCreate(benchmark::State& state) {
    boost::shared_ptr<corvane::CorvaneBase> saml = helper();
    std::string request;
    for (auto _ : state) {
        if (saml->createAuthnRequest(&request, "https://idp.example.test/saml2/sso",
                                     "https://sp.example.test/saml2/metadata",
                                     inputs().spKeyAndCert) != 0) {
            state.SkipWithError("createAuthnRequest failed");
        }
    }
}

// What the sample responses satisfy, with the IdP certificate loaded once
// (the clock is inside their window).
corvane::LoginExpectations sampleExpectations() {
    corvane::LoginExpectations expected;
    expected.idpEntityId = "https://idp.example.test/saml2/metadata";
    expected.idpCertificates = {corvane::Key::loadCertificate(inputs().idpCert).value()};
    expected.spEntityId = "https://sp.example.test/saml2/metadata";
    expected.acsUrl = "https://sp.example.test/saml2/acs";
    expected.requestId = "_4c1d8e0f2a3b4c5d6e7f8091a2b3c4d5";
    expected.now = 1714641300;        // 2024-05-02T09:15:00Z
    expected.skipReplayCheck = true;  // the same response every iteration
    expected.allowSha1 = true;        // the samples are signed with RSA-SHA1
    return expected;
}

// Profile-checked verification on the same response, every check included.
void corvaneVerifyLogin(benchmark::State& state, const std::string* xml) {
    const corvane::LoginExpectations expected = sampleExpectations();
    for (auto _ : state) {
        if (!corvane::verifyLoginResponse(*xml, expected).ok()) {
            state.SkipWithError("verifyLoginResponse refused the response");
        }
    }
}

// The same with the IdP's certificate last of three: the two before it
// are tried on the signature value alone, the digests are computed once.
void corvaneVerifyLoginThreeKeys(benchmark::State& state, const std::string* xml) {
    corvane::LoginExpectations expected = sampleExpectations();
    const corvane::KeyPtr other = corvane::Key::loadCertificate(inputs().spKeyAndCert).value();
    expected.idpCertificates.insert(expected.idpCertificates.begin(), {other, other});
    for (auto _ : state) {
        if (!corvane::verifyLoginResponse(*xml, expected).ok()) {
            state.SkipWithError("verifyLoginResponse refused the response");
        }
    }
}

// ---- Encrypted logins ----

// The realistic sample (SHA-256 digest) with its assertion encrypted for the
// test SP key (RSA-OAEP-MGF1P, data under dataAlgorithm), the Response
// signed after, as IdPs send it.
std::string encryptedSample(const char* dataAlgorithm) {
    ResponseShape shape;
    shape.digest = Digest::Sha256;
    std::string text = corvane_samples::unsignedResponse(shape);
    const std::string open = "<saml:Assertion ";
    const std::string close = "</saml:Assertion>";
    const std::size_t from = text.find(open);
    const std::size_t to = text.find(close, from) + close.size();
    std::string assertion = text.substr(from, to - from);
    assertion.insert(open.size(), "xmlns:saml=\"urn:oasis:names:tc:SAML:2.0:assertion\" ");
    corvane_test::Encryption how;
    how.dataAlgorithm = dataAlgorithm;
    text.replace(from, to - from,
                 corvane_test::encryptedElement(assertion, corvane_samples::spCert(), how));
    std::string signedText;
    if (!corvane_samples::signWithRootIdReference(text, inputs().idpKey, &signedText)) {
        std::fprintf(stderr, "the encrypted sample could not be signed\n");
        std::abort();
    }
    return signedText;
}

// The whole login of an encrypted response: Response signature, key
// transport, decryption, the plaintext's parse, the profile's checks.
void corvaneVerifyEncryptedLogin(benchmark::State& state, const std::string* xml) {
    corvane::LoginExpectations expected = sampleExpectations();
    expected.spDecryptionKeys = {corvane::Key::loadPrivateKey(inputs().spKeyAndCert).value()};
    for (auto _ : state) {
        if (!corvane::verifyLoginResponse(*xml, expected).ok()) {
            state.SkipWithError("verifyLoginResponse refused the encrypted response");
        }
    }
}

// The floor decryption adds: one RSA-OAEP private-key operation on a
// wrapped 32-byte key with the same SP key, OpenSSL alone.
void floorRsaOaepDecrypt(benchmark::State& state) {
    PkeyPtr priv = privateKey(inputs().spKeyAndCert);
    PkeyPtr pub = certificateKey(corvane_samples::spCert());
    const std::string key(32, '\x5a');
    std::unique_ptr<EVP_PKEY_CTX, void (*)(EVP_PKEY_CTX*)> enc(EVP_PKEY_CTX_new(pub.get(), nullptr),
                                                               EVP_PKEY_CTX_free);
    std::string wrapped(512, '\0');
    std::size_t size = wrapped.size();
    if (EVP_PKEY_encrypt_init(enc.get()) != 1 ||
        EVP_PKEY_CTX_set_rsa_padding(enc.get(), RSA_PKCS1_OAEP_PADDING) != 1 ||
        EVP_PKEY_encrypt(enc.get(), reinterpret_cast<unsigned char*>(&wrapped[0]), &size,
                         reinterpret_cast<const unsigned char*>(key.data()), key.size()) != 1) {
        state.SkipWithError("RSA-OAEP wrapping failed");
        return;
    }
    wrapped.resize(size);
    for (auto _ : state) {
        std::unique_ptr<EVP_PKEY_CTX, void (*)(EVP_PKEY_CTX*)> ctx(
            EVP_PKEY_CTX_new(priv.get(), nullptr), EVP_PKEY_CTX_free);
        unsigned char out[512];
        std::size_t outSize = sizeof out;
        if (EVP_PKEY_decrypt_init(ctx.get()) != 1 ||
            EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_PKCS1_OAEP_PADDING) != 1 ||
            EVP_PKEY_decrypt(ctx.get(), out, &outSize,
                             reinterpret_cast<const unsigned char*>(wrapped.data()),
                             wrapped.size()) != 1) {
            state.SkipWithError("RSA-OAEP decryption failed");
        }
        benchmark::DoNotOptimize(out);
    }
}

// A cache that records a new key per call (the key with a counter), so
// every login of the same response is a first use: the whole cost of
// recording, hashing included, without replays.
class EveryCallFirstUse : public corvane::ReplayCache {
public:
    explicit EveryCallFirstUse(std::shared_ptr<corvane::ReplayCache> cache)
        : cache_(std::move(cache)) {}
    corvane::ReplayCheck insertIfAbsent(const std::string& key, long long expiresAt,
                                        long long now) override {
        // One counter for the process: a benchmark runs several times on
        // the one redis-server.
        static std::atomic<unsigned long long> counter{0};
        const unsigned long long n = counter.fetch_add(1, std::memory_order_relaxed);
        return cache_->insertIfAbsent(key + ":" + std::to_string(n), expiresAt, now);
    }

private:
    std::shared_ptr<corvane::ReplayCache> cache_;
};

// The redis-server of the Redis benchmarks, started on first use.
corvane_test::RedisServer& benchRedis() {
    static corvane_test::RedisServer server;
    if (!server.running() && !server.start()) std::fprintf(stderr, "redis-server did not start\n");
    return server;
}

std::shared_ptr<corvane::ReplayCache> replayCacheNamed(const std::string& kind) {
    if (kind == "in_process") return corvane::newInProcessReplayCache();
    corvane::RedisReplayCacheOptions options;
    options.url = benchRedis().url();
    std::string problem;
    return corvane::newRedisReplayCache(options, &problem);
}

// The login of the sample response, recorded in a cache shared by the
// benchmark's threads: the per-login overhead beside corvane/verifyLogin.
void replayLogin(benchmark::State& state, const char* kind) {
    static std::shared_ptr<corvane::ReplayCache> shared;
    // Made by the first thread before the loop's start, where every thread
    // waits for the others.
    if (state.thread_index() == 0)
        shared = std::make_shared<EveryCallFirstUse>(replayCacheNamed(kind));
    corvane::LoginExpectations expected = sampleExpectations();
    expected.skipReplayCheck = false;
    for (auto _ : state) {
        if (!expected.replayCache) expected.replayCache = shared;
        const corvane::Result<corvane::VerifiedLogin> login =
            corvane::verifyLoginResponse(inputs().responseSha1, expected);
        if (!login.ok()) state.SkipWithError(login.message().c_str());
    }
}

// One insertion alone, for the floor of each cache.
void replayInsert(benchmark::State& state, const char* kind) {
    const std::shared_ptr<corvane::ReplayCache> cache =
        std::make_shared<EveryCallFirstUse>(replayCacheNamed(kind));
    const long long now = static_cast<long long>(std::time(nullptr));
    const std::string key = "assertion:" + std::string(64, 'a');
    for (auto _ : state) {
        const corvane::ReplayCheck check = cache->insertIfAbsent(key, now + 600, now);
        if (check.outcome != corvane::ReplayOutcome::FirstUse)
            state.SkipWithError(("the insertion was not a first use: " + check.problem).c_str());
    }
}

// Both verifications of text that may be refused: the work to the
// verdict, whatever it is.
void costVerifySamlResponse(benchmark::State& state, const std::string* xml) {
    boost::shared_ptr<corvane::CorvaneBase> saml = helper();
    std::string nameId;
    int status = 0;
    for (auto _ : state) status = saml->verifySamlResponse(nameId, *xml, inputs().idpCert);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * xml->size()));
    state.SetLabel(std::to_string(xml->size()) + " bytes, status " + std::to_string(status));
}

void costVerifyLoginResponse(benchmark::State& state, const std::string* xml) {
    const corvane::LoginExpectations expected = sampleExpectations();
    int status = 0;
    for (auto _ : state)
        status = corvane::toInt(corvane::verifyLoginResponse(*xml, expected).status());
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * xml->size()));
    state.SetLabel(std::to_string(xml->size()) + " bytes, status " + std::to_string(status));
}

// A standard request signed with the SP key loaded once.
void corvaneCreateStandard(benchmark::State& state) {
    const corvane::Result<corvane::KeyPtr> key =
        corvane::Key::loadPrivateKey(inputs().spKeyAndCert);
    corvane::StandardRequestOptions options;
    options.destination = "https://idp.example.test/saml2/sso";
    options.issuer = "https://sp.example.test/saml2/metadata";
    options.acsUrl = "https://sp.example.test/saml2/acs";
    for (auto _ : state) {
        if (!key.ok() || !corvane::createSignedAuthnRequest(options, *key.value()).ok()) {
            state.SkipWithError("createSignedAuthnRequest failed");
        }
    }
}

// ---- Against the physical floor ----
//
// The login series: the realistic SHA-256 response (about 6 KB) and the same
// grown with attributes up to 1 MiB, each a login the profile accepts. For
// each, three rows on the same text:
//   floor  the physical floor, libxml2 and OpenSSL called directly: one
//          parse (and free), SHA-256 over the canonical bytes of the signed
//          element (computed once beforehand, and checked against the
//          DigestValue), one RSA-2048 verification over the SignedInfo;
//   bare   libxml2 + xmlsec1 verifying the response with the key loaded
//          once: parse, register the root ID, verify, free;
//   login  verifyLoginResponse with the IdP certificate loaded once.
// scripts/bench --floor counts their instructions under callgrind and
// prints the ratios (bench/ratios.py --floor).

struct FloorInput {
    std::string text;        // the signed response
    std::string canonical;   // exclusive c14n of the root, its ds:Signature left out
    std::string signedInfo;  // the response's SignedInfo text
    std::string signature;   // RSA-SHA256 over signedInfo with the IdP key
};

// By nominal size in bytes (6144 stands for the realistic response).
std::map<std::size_t, FloorInput>& floorSeries() {
    static std::map<std::size_t, FloorInput> series;
    return series;
}

std::string base64Of(const unsigned char* data, std::size_t size) {
    std::string out(4 * ((size + 2) / 3) + 1, '\0');
    const int written =
        EVP_EncodeBlock(reinterpret_cast<unsigned char*>(&out[0]), data, static_cast<int>(size));
    out.resize(written < 0 ? 0 : static_cast<std::size_t>(written));
    return out;
}

// The canonical bytes the Reference digests: the root in exclusive c14n
// without comments, its ds:Signature removed. Stops the process unless
// their SHA-256 is the response's DigestValue, so the floor hashes exactly
// what the signature covers.
std::string canonicalSignedBytes(const std::string& text) {
    xmlDoc* doc = xmlReadMemory(text.data(), static_cast<int>(text.size()), nullptr, nullptr, 0);
    xmlNode* root = doc ? xmlDocGetRootElement(doc) : nullptr;
    xmlNode* signature = root ? xmlSecFindChild(root, xmlSecNodeSignature, xmlSecDSigNs) : nullptr;
    xmlChar* bytes = nullptr;
    int size = -1;
    if (signature != nullptr) {
        xmlUnlinkNode(signature);
        xmlFreeNode(signature);
        size = xmlC14NDocDumpMemory(doc, nullptr, XML_C14N_EXCLUSIVE_1_0, nullptr, 0, &bytes);
    }
    const std::string canonical =
        size < 0 ? std::string() : std::string(reinterpret_cast<const char*>(bytes), size);
    xmlFree(bytes);
    xmlFreeDoc(doc);
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_Digest(canonical.data(), canonical.size(), digest, &length, EVP_sha256(), nullptr);
    const std::string expected = "<ds:DigestValue>" + base64Of(digest, length) + "<";
    if (canonical.empty() || text.find(expected) == std::string::npos) {
        std::fprintf(stderr, "the canonical bytes do not match the DigestValue\n");
        std::abort();
    }
    return canonical;
}

FloorInput floorInput(const std::string& text) {
    FloorInput in;
    in.text = text;
    in.canonical = canonicalSignedBytes(text);
    in.signedInfo = between(text, "<ds:SignedInfo>", "</ds:SignedInfo>");
    in.signature = rsaSign(privateKey(inputs().idpKey).get(), EVP_sha256(), in.signedInfo);
    return in;
}

void prepareFloorSeries() {
    ResponseShape complete;
    complete.digest = Digest::Sha256;
    floorSeries()[6u << 10] = floorInput(mustSign(complete));
    for (std::size_t size : {32u << 10, 128u << 10, 512u << 10, 1u << 20}) {
        complete.extraAttributes = corvane_samples::extraAttributesFor(size, complete);
        floorSeries()[size] = floorInput(mustSign(complete));
    }
}

bool floorVerify(const FloorInput& in, EVP_PKEY* key) {
    xmlDoc* doc =
        xmlReadMemory(in.text.data(), static_cast<int>(in.text.size()), nullptr, nullptr, 0);
    const bool parsed = doc != nullptr;
    xmlFreeDoc(doc);
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    const bool digested = EVP_Digest(in.canonical.data(), in.canonical.size(), digest, &length,
                                     EVP_sha256(), nullptr) == 1;
    benchmark::DoNotOptimize(digest);
    return parsed && digested && rsaVerify(key, EVP_sha256(), in.signedInfo, in.signature);
}

// One of the three rows on one input, with what it loads once.
class FloorRow {
public:
    FloorRow(const std::string& what, const FloorInput& in)
        : what_(what),
          in_(in),
          publicKey_(certificateKey(inputs().idpCert)),
          xmlsecKey_(loadKey(inputs().idpCert, xmlSecKeyDataFormatCertPem)),
          expected_(sampleExpectations()) {
        expected_.allowSha1 = false;
    }
    bool once() {
        if (what_ == "floor") return floorVerify(in_, publicKey_.get());
        if (what_ == "bare") return bareVerifyKeyOnce(in_.text, xmlsecKey_.get());
        if (what_ == "login") return corvane::verifyLoginResponse(in_.text, expected_).ok();
        return false;
    }

private:
    const std::string what_;
    const FloorInput& in_;
    PkeyPtr publicKey_;
    std::unique_ptr<xmlSecKey, XmlSecKeyFree> xmlsecKey_;
    corvane::LoginExpectations expected_;
};

// Each thread loads its own keys; the input is shared, read only.
void floorSeriesRow(benchmark::State& state, const char* what, const FloorInput* in) {
    FloorRow row(what, *in);
    for (auto _ : state) {
        if (!row.once()) state.SkipWithError((std::string(what) + " refused the response").c_str());
    }
    state.SetItemsProcessed(state.iterations());
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * in->text.size()));
    state.SetLabel(std::to_string(in->text.size()) + " bytes");
}

void registerFloorSeries() {
    for (const auto& entry : floorSeries()) {
        for (const char* what : {"floor", "bare", "login"}) {
            const std::string name =
                std::string("vs_floor/") + what + "/" + std::to_string(entry.first);
            auto* row =
                benchmark::RegisterBenchmark(name.c_str(), floorSeriesRow, what, &entry.second);
            if (entry.first == (6u << 10)) row->Threads(1)->Threads(2)->UseRealTime();
        }
    }
}

// --profile=WHAT@SIZE:N: one row of the series under callgrind.
int profileFloorSeries(const std::string& what, std::size_t size, int count) {
    const auto found = floorSeries().find(size);
    if (found == floorSeries().end()) {
        std::fprintf(stderr, "no response of nominal size %zu in the series\n", size);
        return 1;
    }
    FloorRow row(what, found->second);
    int failures = !row.once();  // warm-up: first-use initialisation stays out
    CALLGRIND_ZERO_STATS;
    CALLGRIND_TOGGLE_COLLECT;
    for (int i = 0; i < count; ++i) failures += !row.once();
    CALLGRIND_TOGGLE_COLLECT;
    if (failures != 0) {
        std::fprintf(stderr, "profile %s@%zu: %d failures\n", what.c_str(), size, failures);
        return 1;
    }
    std::printf("profiled %s@%zu x %d, %zu bytes\n", what.c_str(), size, count,
                found->second.text.size());
    return 0;
}

// ---- Single steps ----

void partParseTinyXml(benchmark::State& state) {
    for (auto _ : state) {
        TiXmlDocument document;
        document.Parse(inputs().responseSha1.c_str(), nullptr, TIXML_ENCODING_UTF8);
        if (document.Error()) state.SkipWithError("TinyXML parse failed");
    }
}

void partParseLibxml2(benchmark::State& state) {
    const std::string& xml = inputs().responseSha1;
    for (auto _ : state) {
        xmlDoc* doc = xmlParseMemory(xml.data(), static_cast<int>(xml.size()));
        if (doc == nullptr) state.SkipWithError("libxml2 parse failed");
        xmlFreeDoc(doc);
    }
}

void partLoadKey(benchmark::State& state, const std::string* pem, xmlSecKeyDataFormat format) {
    for (auto _ : state) {
        xmlSecKey* key = loadKey(*pem, format);
        if (key == nullptr) state.SkipWithError("key load failed");
        xmlSecKeyDestroy(key);
    }
}

void registerAll() {
    Inputs& in = inputs();
    registerFloorSeries();
    benchmark::RegisterBenchmark("floor/rsa_verify_sha1", floorRsaVerify, EVP_sha1());
    benchmark::RegisterBenchmark("floor/rsa_verify_sha256", floorRsaVerify, EVP_sha256());
    benchmark::RegisterBenchmark("floor/rsa_sign_sha1", floorRsaSign, EVP_sha1());
    benchmark::RegisterBenchmark("bare/verify_sha1", bareVerifyResponse, &in.responseSha1);
    benchmark::RegisterBenchmark("bare/verify_sha256", bareVerifyResponse, &in.responseSha256);
    benchmark::RegisterBenchmark("bare/sign_request", bareSignRequest);
    benchmark::RegisterBenchmark("corvane/verifySamlResponse_sha1", corvaneVerify,
                                 &in.responseSha1);
    benchmark::RegisterBenchmark("corvane/verifySamlResponse_sha256", corvaneVerify,
                                 &in.responseSha256);
    benchmark::RegisterBenchmark("corvane/createAuthnRequest", corvaneCreate);
    benchmark::RegisterBenchmark("corvane/verifyLoginResponse_sha1", corvaneVerifyLogin,
                                 &in.responseSha1);
    benchmark::RegisterBenchmark("corvane/verifyLoginResponse_sha1_three_keys",
                                 corvaneVerifyLoginThreeKeys, &in.responseSha1);
    benchmark::RegisterBenchmark("corvane/createStandardAuthnRequest", corvaneCreateStandard);
    benchmark::RegisterBenchmark("encrypted/floor_rsa_oaep_decrypt", floorRsaOaepDecrypt);
    benchmark::RegisterBenchmark("encrypted/login_plain_sha256", corvaneVerifyLogin,
                                 &in.responseSha256);
    benchmark::RegisterBenchmark("encrypted/login_aes256gcm", corvaneVerifyEncryptedLogin,
                                 &in.encryptedGcm);
    benchmark::RegisterBenchmark("encrypted/login_aes128cbc", corvaneVerifyEncryptedLogin,
                                 &in.encryptedCbc);
    for (const char* kind : {"in_process", "redis"}) {
        benchmark::RegisterBenchmark((std::string("replay/insert/") + kind).c_str(), replayInsert,
                                     kind);
        benchmark::RegisterBenchmark((std::string("replay/login/") + kind).c_str(), replayLogin,
                                     kind)
            ->Threads(1)
            ->Threads(2)
            ->UseRealTime();
    }
    benchmark::RegisterBenchmark("part/parse_tinyxml", partParseTinyXml);
    benchmark::RegisterBenchmark("part/parse_libxml2", partParseLibxml2);
    benchmark::RegisterBenchmark("part/load_cert_pem", partLoadKey, &in.idpCert,
                                 xmlSecKeyDataFormatCertPem);
    benchmark::RegisterBenchmark("part/load_private_key_pem", partLoadKey, &in.spKeyAndCert,
                                 xmlSecKeyDataFormatPem);
    for (const auto& entry : in.growth) {
        const std::string size = std::to_string(entry.first);
        benchmark::RegisterBenchmark(("growth/corvane/" + size).c_str(), corvaneVerify,
                                     &entry.second);
        benchmark::RegisterBenchmark(("growth/bare/" + size).c_str(), bareVerifyResponse,
                                     &entry.second);
    }
    benchmark::RegisterBenchmark("growth/corvane/padding_1MiB", corvaneVerify, &in.padded);
    benchmark::RegisterBenchmark("growth/bare/padding_1MiB", bareVerifyResponse, &in.padded);
    const std::string* honest = &in.growth[1u << 20];
    benchmark::RegisterBenchmark("cost/verifySamlResponse/honest_1MiB", costVerifySamlResponse,
                                 honest);
    benchmark::RegisterBenchmark("cost/verifyLoginResponse/honest_1MiB", costVerifyLoginResponse,
                                 honest);
    for (const auto& entry : in.costly) {
        benchmark::RegisterBenchmark(("cost/verifySamlResponse/" + entry.first).c_str(),
                                     costVerifySamlResponse, &entry.second);
        benchmark::RegisterBenchmark(("cost/verifyLoginResponse/" + entry.first).c_str(),
                                     costVerifyLoginResponse, &entry.second);
    }
}

// ---- Profiling under callgrind ----

int profile(const std::string& spec) {
    const std::string::size_type colon = spec.find(':');
    const std::string op = spec.substr(0, colon);
    const int count = colon == std::string::npos ? 100 : std::atoi(spec.c_str() + colon + 1);
    Inputs& in = inputs();
    boost::shared_ptr<corvane::CorvaneBase> saml = helper();
    std::string out;
    int failures = 0;
    const std::string* response = &in.responseSha1;
    std::string base = op;
    for (const char* suffix : {"-1MiB", "-padding"}) {
        const std::string::size_type at = op.find(suffix);
        if (at == std::string::npos) continue;
        response = std::string(suffix) == "-1MiB" ? &in.growth[1u << 20] : &in.padded;
        base = op.substr(0, at);
    }
    auto once = [&]() {
        if (base == "corvane-verify") {
            failures += saml->verifySamlResponse(out, *response, in.idpCert) != 0;
        } else if (base == "bare-verify") {
            failures += !bareVerify(*response, in.idpCert);
        } else if (base == "corvane-create") {
            failures += saml->createAuthnRequest(&out, "https://idp.example.test/saml2/sso",
                                                 "https://sp.example.test/saml2/metadata",
                                                 in.spKeyAndCert) != 0;
        } else if (base == "bare-sign") {
            failures += !bareSign(in.requestTemplate, in.spKeyAndCert, &out);
        } else {
            failures = -1000000;
        }
    };
    once();  // warm-up: first-use initialisation stays out of the counts
    CALLGRIND_ZERO_STATS;
    CALLGRIND_TOGGLE_COLLECT;
    for (int i = 0; i < count; ++i) once();
    CALLGRIND_TOGGLE_COLLECT;
    if (failures != 0) {
        std::fprintf(stderr, "profile %s: %d failures (unknown operation?)\n", op.c_str(),
                     failures);
        return 1;
    }
    std::printf("profiled %s x %d\n", op.c_str(), count);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (helper()->initHelper() != 0) {
        std::fprintf(stderr, "initHelper failed\n");
        return 1;
    }
    inputs().idpCert = corvane_samples::idpCert();
    inputs().idpKey = corvane_samples::idpKey();
    prepareFloorSeries();
    for (int i = 1; i < argc; ++i) {
        // The series alone is made for its profiles: callgrind runs them.
        const char* spec = argv[i] + 10;
        const char* at = std::strchr(spec, '@');
        if (std::strncmp(argv[i], "--profile=", 10) != 0 || at == nullptr) continue;
        const char* colon = std::strchr(at, ':');
        return profileFloorSeries(std::string(spec, at), std::strtoul(at + 1, nullptr, 10),
                                  colon ? std::atoi(colon + 1) : 10);
    }
    prepareInputs();
    std::fprintf(stderr, "realistic response: %zu bytes (SHA-1), %zu bytes (SHA-256)\n",
                 inputs().responseSha1.size(), inputs().responseSha256.size());
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--profile=", 10) == 0) return profile(argv[i] + 10);
    }
    registerAll();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    helper()->finiHelper();
    return 0;
}
