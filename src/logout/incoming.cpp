// Logout messages from the IdP: taken from the binding that carried them
// (the raw Redirect query, or the posted form value), authenticated (the
// query's signature over the octets received, or the enveloped signature
// over the root), parsed the one hardened way, then the profile's rules.
#include <ctime>

#include <xmlsec/strings.h>

#include "Corvane.h"
#include "corvane/logout.h"
#include "frame/call_scope.h"
#include "frame/escape.h"
#include "frame/handles.h"
#include "frame/messages.h"
#include "logout/logout_internal.h"
#include "saml/bindings.h"
#include "saml/redirect_query.h"
#include "xml/parse.h"
#include "xml/screening.h"
#include "xml/time.h"
#include "xml/tree.h"
#include "xmldsig/document_structure.h"
#include "xmldsig/signature_layer.h"
#include "xmldsig/verifier.h"

namespace corvane {

namespace {

using internal::LogoutKind;

const char kIncomplete[] = "Logout expectations are incomplete: %s is missing";
const char kBadSkew[] =
    "Logout expectations are not usable: the clock skew must be 0 to %ld seconds";
const char kNoSignature[] = "HTTP-Redirect query carries no Signature";
const char kNoSigAlg[] = "HTTP-Redirect query carries no SigAlg";
const char kSigAlgSha1[] =
    "HTTP-Redirect SigAlg %s uses SHA-1, which is refused unless allowSha1 is set";
const char kQueryNotVerified[] = "HTTP-Redirect signature does not verify with any IdP certificate";
const char kUnsignedAccepted[] =
    "Unsigned LogoutResponse accepted, as allowUnsignedLogoutResponse allows";
const char kNotKind[] = "SAML message is not a SAML 2.0 protocol %s";
const char kNotSigned[] = "SAML %s is not signed";
const char kEmbeddedSha1[] =
    "SAML %s signature uses SHA-1, which is refused unless allowSha1 is set";
const char kNotCovering[] = "SAML %s signature does not refer to the %s it is attached to";
const char kNotVerified[] = "SAML %s signature does not verify with any IdP certificate";

const long kMaxClockSkewSeconds = 86400;
// A query carries the message deflated, in base64 and URL-encoded: at
// most 4 bytes of query per byte of message, plus the other parameters.
const std::size_t kQueryBytesPerMessageByte = 4;
const std::size_t kQuerySlack = 4096;

const int kOk = 0;
const int kNotAuthentic = toInt(Status::NotAuthentic);
const int kUnusable = toInt(Status::Unusable);
const int kRefused = toInt(Status::ProfileRefused);

int checkExpectations(const LogoutExpectations& expected, const LogoutKind& kind) {
    const char* missing = nullptr;
    if (expected.idpEntityId.empty())
        missing = "the IdP entity ID";
    else if (expected.idpCertificates.empty())
        missing = "an IdP certificate";
    else if (expected.spLogoutUrl.empty())
        missing = "the SP logout URL";
    else if (&kind == &internal::kLogoutResponseKind && expected.requestId.empty())
        missing = "the ID of the LogoutRequest answered";
    for (const KeyPtr& key : expected.idpCertificates)
        if (!missing && !key) missing = "an IdP certificate (null key)";
    if (missing != nullptr) {
        CorvaneBase::setErrorMessage(kIncomplete, missing);
        return toInt(Status::BadOptions);
    }
    if (expected.clockSkewSeconds < 0 || expected.clockSkewSeconds > kMaxClockSkewSeconds) {
        CorvaneBase::setErrorMessage(kBadSkew, kMaxClockSkewSeconds);
        return toInt(Status::BadOptions);
    }
    return kOk;
}

// Only a LogoutResponse may come unsigned, and only when the host says so.
bool unsignedAllowed(const LogoutKind& kind, const LogoutExpectations& expected) {
    return &kind == &internal::kLogoutResponseKind && expected.allowUnsignedLogoutResponse;
}

bool isSha1Method(const std::string& uri) {
    return uri == reinterpret_cast<const char*>(xmlSecHrefRsaSha1) ||
           uri == reinterpret_cast<const char*>(xmlSecHrefEcdsaSha1);
}

// The query's signature: present with its SigAlg, SHA-1 only when allowed,
// the SigAlg on the allowlist, strict base64, and verifying with one of
// the IdP certificates over exactly the received octets. *signedByIdp
// false only for an unsigned response the host allowed.
int querySignatureHolds(const internal::RedirectQuery& query, const LogoutKind& kind,
                        const LogoutExpectations& expected, bool* signedByIdp) {
    if (!query.signature.present && !query.sigAlg.present && unsignedAllowed(kind, expected)) {
        CorvaneBase::writeToLog(2, kUnsignedAccepted);
        *signedByIdp = false;
        return kOk;
    }
    if (!query.signature.present) {
        CorvaneBase::setErrorMessage(kNoSignature);
        return kNotAuthentic;
    }
    if (!query.sigAlg.present) {
        CorvaneBase::setErrorMessage(kNoSigAlg);
        return kNotAuthentic;
    }
    if (!expected.allowSha1 && isSha1Method(query.sigAlg.decoded)) {
        CorvaneBase::setErrorMessage(kSigAlgSha1,
                                     internal::escapedForMessage(query.sigAlg.decoded).c_str());
        return kNotAuthentic;
    }
    std::string signatureBytes;
    const int status = internal::decodeBase64Strict(
        query.signature.decoded, query.signature.decoded.size(), &signatureBytes);
    if (status != kOk) return status;
    switch (internal::verifyRedirectSignature(
        query.signedOctets, query.sigAlg.decoded, query.signature.decoded,
        internal::verificationKeys(expected.idpCertificates))) {
        case internal::Verdict::Verified:
            *signedByIdp = true;
            return kOk;
        case internal::Verdict::Refused:
            return kNotAuthentic;
        case internal::Verdict::Invalid:
        case internal::Verdict::Failed:
        case internal::Verdict::NotCovering:
            break;
    }
    CorvaneBase::setErrorMessage(kQueryNotVerified);
    return kNotAuthentic;
}

// The message text screened and parsed the one hardened way; its root
// must be the kind expected.
int parsedMessage(const std::string& xml, const LogoutKind& kind, internal::XmlDocPtr* doc) {
    if (!internal::screenResponseText(xml)) return kUnusable;
    doc->reset(internal::parseXmlSafely(xml));
    xmlNode* root = *doc ? xmlDocGetRootElement(doc->get()) : nullptr;
    if (root == nullptr) {
        CorvaneBase::setErrorMessage(internal::kMessageNotWellFormed);
        return kUnusable;
    }
    if (!internal::isElement(root, internal::kSamlProtocolNs, kind.element)) {
        CorvaneBase::setErrorMessage(kNotKind, kind.element);
        return kRefused;
    }
    return kOk;
}

std::size_t queryLimit(std::size_t maxMessageBytes) {
    const std::size_t most = static_cast<std::size_t>(-1);
    if (maxMessageBytes > (most - kQuerySlack) / kQueryBytesPerMessageByte) return most;
    return maxMessageBytes * kQueryBytesPerMessageByte + kQuerySlack;
}

// A message and how it came.
struct Received {
    internal::XmlDocPtr doc;
    bool signedByIdp = false;
    std::string relayState;
};

// The Redirect binding: the query parsed, its signature verified before
// anything is inflated or parsed, then the message.
int receivedByQuery(const std::string& rawQuery, const LogoutKind& kind,
                    const LogoutExpectations& expected, Received* received) {
    internal::RedirectQuery query;
    int status = internal::parseRedirectQuery(rawQuery, kind.parameter,
                                              queryLimit(expected.maxMessageBytes), &query);
    if (status == kOk) status = querySignatureHolds(query, kind, expected, &received->signedByIdp);
    std::string xml;
    if (status == kOk)
        status = internal::inflateRedirectMessage(query.message.decoded, kind.parameter,
                                                  expected.maxMessageBytes, &xml);
    if (status == kOk) status = parsedMessage(xml, kind, &received->doc);
    received->relayState = query.relayState.decoded;
    return status;
}

// A signature in a posted logout message stands directly under its root.
bool signatureUnderRoot(const xmlNode* signature) {
    return signature->parent == xmlDocGetRootElement(signature->doc);
}

// The POST binding's enveloped signature: IDs unique, no signature but
// the one directly under the root (wrapped content has its own), SHA-1
// only when allowed, covering the root and verifying with an IdP
// certificate.
int embeddedSignatureHolds(xmlDoc* doc, const LogoutKind& kind, const LogoutExpectations& expected,
                           bool* signedByIdp) {
    xmlNode* root = xmlDocGetRootElement(doc);
    const std::string what = std::string("SAML ") + kind.element;
    std::string problem;
    if (!internal::signedDocumentSound(root, signatureUnderRoot, what.c_str(), &problem)) {
        CorvaneBase::setErrorMessage("%s", internal::escapedForMessage(problem).c_str());
        return kNotAuthentic;
    }
    xmlNode* signature = internal::firstChildElement(root, internal::kDsigNs, "Signature");
    if (signature == nullptr && unsignedAllowed(kind, expected)) {
        CorvaneBase::writeToLog(2, kUnsignedAccepted);
        *signedByIdp = false;
        return kOk;
    }
    if (signature == nullptr) {
        CorvaneBase::setErrorMessage(kNotSigned, kind.element);
        return kNotAuthentic;
    }
    if (!expected.allowSha1 && internal::signatureUsesSha1(signature)) {
        CorvaneBase::setErrorMessage(kEmbeddedSha1, kind.element);
        return kNotAuthentic;
    }
    internal::registerIdAttribute(doc, root);
    switch (internal::verifyEmbeddedSignature(
        doc, root, signature, internal::verificationKeys(expected.idpCertificates))) {
        case internal::Verdict::Verified:
            *signedByIdp = true;
            return kOk;
        case internal::Verdict::NotCovering:
            CorvaneBase::setErrorMessage(kNotCovering, kind.element, kind.element);
            return kNotAuthentic;
        case internal::Verdict::Refused:
            return kNotAuthentic;
        case internal::Verdict::Invalid:
        case internal::Verdict::Failed:
            break;
    }
    CorvaneBase::setErrorMessage(kNotVerified, kind.element);
    return kNotAuthentic;
}

int receivedByPost(const std::string& value, bool formEncoded, const LogoutKind& kind,
                   const LogoutExpectations& expected, Received* received) {
    std::string xml;
    int status = internal::decodePostedValue(value, kind.parameter, formEncoded,
                                             expected.maxMessageBytes, &xml);
    if (status == kOk) status = parsedMessage(xml, kind, &received->doc);
    if (status == kOk)
        status =
            embeddedSignatureHolds(received->doc.get(), kind, expected, &received->signedByIdp);
    return status;
}

long long nowFor(const LogoutExpectations& expected) {
    return internal::clampToReadableInstants(
        expected.now >= 0 ? expected.now : static_cast<long long>(std::time(nullptr)));
}

// Whether the IdP signed it, where the result says so.
void noteSignature(VerifiedLogoutResponse* response, bool signedByIdp) {
    response->signedByIdp = signedByIdp;
}
void noteSignature(VerifiedLogoutRequest*, bool) {}

// The whole verification of a message of kind that came by either binding
// (receive), checked by check; *out written only on success.
template <typename Verified, typename Check, typename Receive>
int verifyMessage(const LogoutKind& kind, Verified* out, const LogoutExpectations& expected,
                  Check check, Receive receive) {
    int status = checkExpectations(expected, kind);
    Received received;
    if (status == kOk) status = receive(kind, &received);
    Verified verified;
    if (status == kOk)
        status =
            check(xmlDocGetRootElement(received.doc.get()), expected, nowFor(expected), &verified);
    if (status != kOk) return status;
    noteSignature(&verified, received.signedByIdp);
    verified.relayState = received.relayState;
    *out = verified;
    return kOk;
}

}  // namespace

Result<VerifiedLogoutResponse> verifyLogoutResponseQuery(const std::string& rawQuery,
                                                         const LogoutExpectations& expectations) {
    return internal::runCall<VerifiedLogoutResponse>([&](VerifiedLogoutResponse* response) {
        return verifyMessage(internal::kLogoutResponseKind, response, expectations,
                             internal::checkLogoutResponse,
                             [&](const LogoutKind& kind, Received* in) {
                                 return receivedByQuery(rawQuery, kind, expectations, in);
                             });
    });
}

Result<VerifiedLogoutResponse> verifyPostedLogoutResponse(const std::string& samlResponse,
                                                          const LogoutExpectations& expectations,
                                                          bool formEncoded) {
    return internal::runCall<VerifiedLogoutResponse>([&](VerifiedLogoutResponse* response) {
        return verifyMessage(
            internal::kLogoutResponseKind, response, expectations, internal::checkLogoutResponse,
            [&](const LogoutKind& kind, Received* in) {
                return receivedByPost(samlResponse, formEncoded, kind, expectations, in);
            });
    });
}

Result<VerifiedLogoutRequest> verifyLogoutRequestQuery(const std::string& rawQuery,
                                                       const LogoutExpectations& expectations) {
    return internal::runCall<VerifiedLogoutRequest>([&](VerifiedLogoutRequest* request) {
        return verifyMessage(internal::kLogoutRequestKind, request, expectations,
                             internal::checkLogoutRequest,
                             [&](const LogoutKind& kind, Received* in) {
                                 return receivedByQuery(rawQuery, kind, expectations, in);
                             });
    });
}

Result<VerifiedLogoutRequest> verifyPostedLogoutRequest(const std::string& samlRequest,
                                                        const LogoutExpectations& expectations,
                                                        bool formEncoded) {
    return internal::runCall<VerifiedLogoutRequest>([&](VerifiedLogoutRequest* request) {
        return verifyMessage(
            internal::kLogoutRequestKind, request, expectations, internal::checkLogoutRequest,
            [&](const LogoutKind& kind, Received* in) {
                return receivedByPost(samlRequest, formEncoded, kind, expectations, in);
            });
    });
}

}  // namespace corvane
