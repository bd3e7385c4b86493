// The HTTP-Redirect binding's incoming side. Peer libraries went wrong
// here by finding parameters with an unanchored search ("xSigAlg=" taken
// for "SigAlg="), by taking the first or last of two parameters of one
// name, and by re-encoding the query before verifying (IdPs that write
// lower-case escapes then fail). So each parameter is found by its exact
// name, at most once, and the signed octets are the received text itself.
#include "saml/redirect_query.h"

#include <climits>
#include <cstring>

#include <zlib.h>

#include "Corvane.h"
#include "corvane/status.h"
#include "frame/escape.h"
#include "frame/handles.h"
#include "saml/bindings.h"

namespace corvane {
namespace internal {

namespace {

const char kQueryTooLarge[] = "HTTP-Redirect query is larger than %zu bytes";
const char kNamedTwice[] = "HTTP-Redirect query carries %s more than once";
const char kOtherMessage[] = "HTTP-Redirect query carries %s where %s is expected";
const char kEscapedName[] = "HTTP-Redirect query spells the parameter name %s with escapes";
const char kNoMessage[] = "HTTP-Redirect query carries no %s";
const char kRelayStateTooLong[] = "HTTP-Redirect RelayState is longer than 80 bytes";
const char kNotDeflate[] = "HTTP-Redirect %s is not one complete raw DEFLATE stream";
const char kInflatesTooLarge[] = "HTTP-Redirect %s inflates to more than %zu bytes";
const char kEmptyMessage[] = "HTTP-Redirect %s inflates to nothing";

// The binding allows at most 80 bytes of RelayState.
const std::size_t kRelayStateLimit = 80;
const int kRawDeflateWindowBits = -15;  // negative: no zlib header or trailer
const std::size_t kInflateChunk = 16384;

const int kOk = 0;
const int kUnusable = toInt(Status::Unusable);
const int kTooLarge = toInt(Status::TooLarge);

const char* otherMessageName(const char* messageName) {
    return std::strcmp(messageName, "SAMLRequest") == 0 ? "SAMLResponse" : "SAMLRequest";
}

// The query's four parameters by name, for the walk over its parts.
struct Slot {
    const char* name;
    RedirectParameter* parameter;
};

// A name that is not one of ours as written, but decodes to one of them
// (or to the other message's name): a framework that decodes names would
// read it as that parameter, so the query means two things.
bool spellsOneWithEscapes(const std::string& name, const Slot (&slots)[4], const char* other) {
    if (name.find_first_of("%+") == std::string::npos) return false;
    std::string decoded;
    std::size_t badEscapeAt = 0;
    if (!decodeFormText(name, &decoded, &badEscapeAt)) return false;
    if (decoded == other) return true;
    for (const Slot& slot : slots)
        if (decoded == slot.name) return true;
    return false;
}

// One "name=value" part of the query taken into its slot; 0, or -8 after
// one message.
int takePart(const std::string& part, const Slot (&slots)[4], const char* other) {
    const std::string::size_type equals = part.find('=');
    const std::string name = part.substr(0, equals);
    if (name == other) {
        CorvaneBase::setErrorMessage(kOtherMessage, other, slots[0].name);
        return kUnusable;
    }
    for (const Slot& slot : slots) {
        if (name != slot.name) continue;
        if (slot.parameter->present) {
            CorvaneBase::setErrorMessage(kNamedTwice, slot.name);
            return kUnusable;
        }
        slot.parameter->present = true;
        slot.parameter->received = equals == std::string::npos ? "" : part.substr(equals + 1);
        const std::string what = std::string("HTTP-Redirect ") + slot.name;
        return decodeFormValue(slot.parameter->received, what.c_str(), &slot.parameter->decoded);
    }
    if (spellsOneWithEscapes(name, slots, other)) {
        CorvaneBase::setErrorMessage(kEscapedName, escapedForMessage(name).c_str());
        return kUnusable;
    }
    return kOk;
}

// The signed octets in the binding's order, from the received encodings.
std::string signedOctetsOf(const char* messageName, const RedirectQuery& query) {
    if (!query.sigAlg.present) return std::string();
    std::string octets = std::string(messageName) + "=" + query.message.received;
    if (query.relayState.present) octets += "&RelayState=" + query.relayState.received;
    return octets + "&SigAlg=" + query.sigAlg.received;
}

}  // namespace

int parseRedirectQuery(const std::string& rawQuery, const char* messageName,
                       std::size_t maxQueryBytes, RedirectQuery* query) {
    if (rawQuery.size() > maxQueryBytes) {
        CorvaneBase::setErrorMessage(kQueryTooLarge, maxQueryBytes);
        return kTooLarge;
    }
    RedirectQuery parsed;
    const Slot slots[4] = {{messageName, &parsed.message},
                           {"RelayState", &parsed.relayState},
                           {"SigAlg", &parsed.sigAlg},
                           {"Signature", &parsed.signature}};
    const char* other = otherMessageName(messageName);
    for (std::string::size_type start = 0; start <= rawQuery.size();) {
        std::string::size_type end = rawQuery.find('&', start);
        if (end == std::string::npos) end = rawQuery.size();
        const int status = takePart(rawQuery.substr(start, end - start), slots, other);
        if (status != kOk) return status;
        start = end + 1;
    }
    if (parsed.message.decoded.empty()) {
        CorvaneBase::setErrorMessage(kNoMessage, messageName);
        return kUnusable;
    }
    if (parsed.relayState.decoded.size() > kRelayStateLimit) {
        CorvaneBase::setErrorMessage(kRelayStateTooLong);
        return kUnusable;
    }
    parsed.signedOctets = signedOctetsOf(messageName, parsed);
    *query = parsed;
    return kOk;
}

int inflateRedirectMessage(const std::string& base64Text, const char* messageName,
                           std::size_t maxBytes, std::string* xml) {
    std::string deflated;
    int status = decodeBase64Strict(base64Text, base64Text.size(), &deflated);
    if (status != kOk) return status;
    InflateStream stream;
    if (deflated.size() > UINT_MAX || inflateInit2(&stream, kRawDeflateWindowBits) != Z_OK) {
        CorvaneBase::setErrorMessage(kNotDeflate, messageName);
        return kUnusable;
    }
    UniquePtr<InflateStream> ending(&stream);
    stream.next_in = reinterpret_cast<Bytef*>(&deflated[0]);
    stream.avail_in = static_cast<uInt>(deflated.size());
    std::string inflated;
    char chunk[kInflateChunk];
    // Each round either makes progress or ends: inflate reports Z_BUF_ERROR
    // when it can do nothing more with what it was given.
    for (int rc = Z_OK; rc != Z_STREAM_END;) {
        stream.next_out = reinterpret_cast<Bytef*>(chunk);
        stream.avail_out = static_cast<uInt>(sizeof chunk);
        rc = inflate(&stream, Z_NO_FLUSH);
        if (rc != Z_OK && rc != Z_STREAM_END) {
            CorvaneBase::setErrorMessage(kNotDeflate, messageName);
            return kUnusable;
        }
        const std::size_t produced = sizeof chunk - stream.avail_out;
        if (produced > maxBytes - inflated.size()) {
            CorvaneBase::setErrorMessage(kInflatesTooLarge, messageName, maxBytes);
            return kTooLarge;
        }
        inflated.append(chunk, produced);
    }
    if (stream.avail_in != 0) {
        CorvaneBase::setErrorMessage(kNotDeflate, messageName);
        return kUnusable;
    }
    if (inflated.empty()) {
        CorvaneBase::setErrorMessage(kEmptyMessage, messageName);
        return kUnusable;
    }
    xml->swap(inflated);
    return kOk;
}

}  // namespace internal
}  // namespace corvane
