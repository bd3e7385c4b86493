// The logout profile's rules for a message whose signature has been
// verified: who sent it, to whom, when, in answer to what, about whom.
// Each rule reports its one message with every quoted value escaped.
#include "Corvane.h"
#include "corvane/status.h"
#include "frame/escape.h"
#include "login/login_internal.h"
#include "logout/logout_internal.h"
#include "xml/time.h"
#include "xml/tree.h"

namespace corvane {
namespace internal {

const LogoutKind kLogoutRequestKind = {"LogoutRequest", "SAMLRequest"};
const LogoutKind kLogoutResponseKind = {"LogoutResponse", "SAMLResponse"};

namespace {

const char kBadVersion[] = "SAML %s Version is \"%s\", not \"2.0\"";
const char kNoId[] = "SAML %s has no ID";
const char kBadId[] = "SAML %s ID \"%s\" is not an xs:ID (an NCName)";
const char kNoIssuer[] = "SAML %s names no Issuer";
const char kRepeated[] = "SAML %s carries more than one %s";
const char kIssuerFormat[] = "SAML %s Issuer Format \"%s\" is not the entity format";
const char kWrongIssuer[] = "SAML %s Issuer \"%s\" is not the IdP \"%s\"";
const char kNoDestination[] = "SAML %s names no Destination";
const char kWrongDestination[] = "SAML %s Destination \"%s\" is not the SP logout URL \"%s\"";
const char kBadTime[] = "SAML %s %s \"%s\" is missing or not a time stamp";
const char kIssuedLater[] = "SAML %s was issued at %s, later than now plus the clock skew";
const char kIssuedEarlier[] = "SAML %s was issued at %s, earlier than now minus the clock skew";
const char kExpired[] = "SAML %s expired at %s";
const char kUnanswered[] = "SAML LogoutResponse answers no request, but request \"%s\" is expected";
const char kWrongRequest[] = "SAML LogoutResponse answers request \"%s\", not \"%s\"";
const char kNoStatus[] = "SAML LogoutResponse carries no StatusCode";
const char kNoNameId[] =
    "SAML LogoutRequest carries no usable NameID (BaseID and EncryptedID are not supported)";

const char kStatusSuccess[] = "urn:oasis:names:tc:SAML:2.0:status:Success";
const char kStatusPartialLogout[] = "urn:oasis:names:tc:SAML:2.0:status:PartialLogout";
const char kEntityFormat[] = "urn:oasis:names:tc:SAML:2.0:nameid-format:entity";

const int kOk = 0;
const int kRefused = toInt(Status::ProfileRefused);

std::string attribute(const xmlNode* element, const char* name) {
    std::string value;
    attributeValue(element, name, &value);
    return value;
}

std::string escaped(const std::string& value) { return escapedForMessage(value); }

// The text of the element's character data, comments skipped; empty when
// anything else sits inside.
std::string characterData(const xmlNode* element) {
    std::string text;
    return element != nullptr && fullCharacterContent(element, &text) ? text : std::string();
}

// An entity ID without the white space around it.
std::string trimmed(const std::string& text) {
    const char* space = " \t\r\n";
    const std::string::size_type first = text.find_first_not_of(space);
    if (first == std::string::npos) return std::string();
    return text.substr(first, text.find_last_not_of(space) - first + 1);
}

// The one element ns:name directly under root, in *child; -10 after a
// message when there are several (none: *child null, 0).
int atMostOne(xmlNode* root, const char* what, const char* ns, const char* name, xmlNode** child) {
    const std::vector<xmlNode*> found = childElements(root, ns, name);
    *child = found.empty() ? nullptr : found.front();
    if (found.size() <= 1) return kOk;
    CorvaneBase::setErrorMessage(kRepeated, what, name);
    return kRefused;
}

int versionAndIdHold(const xmlNode* root, const char* what, std::string* id) {
    const std::string version = attribute(root, "Version");
    if (version != "2.0") {
        CorvaneBase::setErrorMessage(kBadVersion, what, escaped(version).c_str());
        return kRefused;
    }
    if (!attributeValue(root, "ID", id)) {
        CorvaneBase::setErrorMessage(kNoId, what);
        return kRefused;
    }
    if (xmlValidateNCName(BAD_CAST id->c_str(), 0) != 0) {
        CorvaneBase::setErrorMessage(kBadId, what, escaped(*id).c_str());
        return kRefused;
    }
    return kOk;
}

// Exactly one saml:Issuer, of the entity format, naming the IdP.
int issuerIsTheIdp(xmlNode* root, const char* what, const std::string& idp) {
    xmlNode* issuer = nullptr;
    const int status = atMostOne(root, what, kSamlAssertionNs, "Issuer", &issuer);
    if (status != kOk) return status;
    if (issuer == nullptr) {
        CorvaneBase::setErrorMessage(kNoIssuer, what);
        return kRefused;
    }
    std::string format;
    if (attributeValue(issuer, "Format", &format) && format != kEntityFormat) {
        CorvaneBase::setErrorMessage(kIssuerFormat, what, escaped(format).c_str());
        return kRefused;
    }
    const std::string name = trimmed(characterData(issuer));
    if (name == idp) return kOk;
    CorvaneBase::setErrorMessage(kWrongIssuer, what, escaped(name).c_str(), escaped(idp).c_str());
    return kRefused;
}

// A signed message names where it is meant to arrive: the SP's logout URL.
int destinationIsTheSp(const xmlNode* root, const char* what, const std::string& spLogoutUrl) {
    std::string destination;
    if (!attributeValue(root, "Destination", &destination)) {
        CorvaneBase::setErrorMessage(kNoDestination, what);
        return kRefused;
    }
    if (destination == spLogoutUrl) return kOk;
    CorvaneBase::setErrorMessage(kWrongDestination, what, escaped(destination).c_str(),
                                 escaped(spLogoutUrl).c_str());
    return kRefused;
}

// The time stamp attribute name of root: its whole seconds in *seconds,
// and whether a fraction followed them; -10 after a message when it is
// absent or not a time stamp.
int readInstant(const xmlNode* root, const char* what, const char* name, long long* seconds,
                bool* fractional) {
    std::string text;
    if (!attributeValue(root, name, &text) || !parseDateTime(text, seconds, fractional)) {
        CorvaneBase::setErrorMessage(kBadTime, what, name, escaped(text).c_str());
        return kRefused;
    }
    return kOk;
}

// IssueInstant lies within the clock skew of now, either way (a fraction
// counts against the message): a message is answered at once, so an old
// one is a replay or a stale page. Its whole seconds in *issued.
int issuedWithinSkew(const xmlNode* root, const char* what, long long now, long skew,
                     long long* issued) {
    bool fractional = false;
    const int status = readInstant(root, what, "IssueInstant", issued, &fractional);
    if (status != kOk) return status;
    const std::string text = escaped(attribute(root, "IssueInstant"));
    if (*issued + (fractional ? 1 : 0) > now + skew) {
        CorvaneBase::setErrorMessage(kIssuedLater, what, text.c_str());
        return kRefused;
    }
    if (*issued < now - skew) {
        CorvaneBase::setErrorMessage(kIssuedEarlier, what, text.c_str());
        return kRefused;
    }
    return kOk;
}

// What every logout message must satisfy; its ID and issue instant out.
int commonRulesHold(xmlNode* root, const char* what, const LogoutExpectations& expected,
                    long long now, std::string* id, long long* issued) {
    int status = versionAndIdHold(root, what, id);
    if (status == kOk) status = issuerIsTheIdp(root, what, expected.idpEntityId);
    if (status == kOk) status = destinationIsTheSp(root, what, expected.spLogoutUrl);
    if (status == kOk)
        status = issuedWithinSkew(root, what, now, expected.clockSkewSeconds, issued);
    return status;
}

// One-time use: the message is accepted only within the skew of its
// IssueInstant, so its record is kept until that has passed for a clock
// behind by the skew as well (nodes sharing one cache) and a second more
// for a fractional IssueInstant.
int recordedOnce(const LogoutExpectations& expected, const char* what, const std::string& id,
                 long long issued, long long now) {
    if (expected.skipReplayCheck) return kOk;
    const long long expiresAt = issued + 2 * static_cast<long long>(expected.clockSkewSeconds) + 1;
    return recordMessageFirstUse(expected.replayCache, what, expected.idpEntityId, id, expiresAt,
                                 now);
}

int answersTheRequest(const xmlNode* root, const std::string& requestId, std::string* named) {
    if (!attributeValue(root, "InResponseTo", named)) {
        CorvaneBase::setErrorMessage(kUnanswered, escaped(requestId).c_str());
        return kRefused;
    }
    if (*named == requestId) return kOk;
    CorvaneBase::setErrorMessage(kWrongRequest, escaped(*named).c_str(),
                                 escaped(requestId).c_str());
    return kRefused;
}

// The StatusCode values and StatusMessage, and the outcome they make:
// PartialLogout whenever the IdP names it, Success for a plain Success.
int readStatus(xmlNode* root, VerifiedLogoutResponse* response) {
    xmlNode* status = firstChildElement(root, kSamlProtocolNs, "Status");
    xmlNode* code = firstChildElement(status, kSamlProtocolNs, "StatusCode");
    if (!attributeValue(code, "Value", &response->statusCode)) {
        CorvaneBase::setErrorMessage(kNoStatus);
        return kRefused;
    }
    attributeValue(firstChildElement(code, kSamlProtocolNs, "StatusCode"), "Value",
                   &response->secondStatusCode);
    response->statusMessage =
        characterData(firstChildElement(status, kSamlProtocolNs, "StatusMessage"));
    if (response->statusCode != kStatusSuccess)
        response->outcome = LogoutOutcome::Failure;
    else if (response->secondStatusCode == kStatusPartialLogout)
        response->outcome = LogoutOutcome::PartialLogout;
    else
        response->outcome = LogoutOutcome::Success;
    return kOk;
}

// A comment inside a NameID makes careless readers see a shorter value.
bool holdsComment(const xmlNode* element) {
    for (const xmlNode* child = element->children; child != nullptr; child = child->next)
        if (child->type == XML_COMMENT_NODE) return true;
    return false;
}

// Exactly one saml:NameID with a value; BaseID and EncryptedID refused.
int readNameId(xmlNode* root, VerifiedLogoutRequest* request) {
    const char* what = kLogoutRequestKind.element;
    xmlNode* nameId = nullptr;
    const int status = atMostOne(root, what, kSamlAssertionNs, "NameID", &nameId);
    if (status != kOk) return status;
    std::string value;
    if (nameId == nullptr || holdsComment(nameId) || !fullCharacterContent(nameId, &value) ||
        trimmed(value).empty()) {
        CorvaneBase::setErrorMessage(kNoNameId);
        return kRefused;
    }
    request->nameId = value;
    request->nameIdFormat = attribute(nameId, "Format");
    request->nameQualifier = attribute(nameId, "NameQualifier");
    request->spNameQualifier = attribute(nameId, "SPNameQualifier");
    return kOk;
}

// NotOnOrAfter, when present, has not passed by more than the skew (its
// fraction dropped, on the strict side).
int notExpired(const xmlNode* root, long long now, long skew) {
    if (xmlHasProp(root, BAD_CAST "NotOnOrAfter") == nullptr) return kOk;
    const char* what = kLogoutRequestKind.element;
    long long end = 0;
    bool fractional = false;
    const int status = readInstant(root, what, "NotOnOrAfter", &end, &fractional);
    if (status != kOk || now - skew < end) return status;
    CorvaneBase::setErrorMessage(kExpired, what, escaped(attribute(root, "NotOnOrAfter")).c_str());
    return kRefused;
}

}  // namespace

int checkLogoutResponse(xmlNode* root, const LogoutExpectations& expected, long long now,
                        VerifiedLogoutResponse* response) {
    const char* what = kLogoutResponseKind.element;
    long long issued = 0;
    int status = commonRulesHold(root, what, expected, now, &response->id, &issued);
    if (status == kOk)
        status = answersTheRequest(root, expected.requestId, &response->inResponseTo);
    if (status == kOk) status = readStatus(root, response);
    if (status == kOk) status = recordedOnce(expected, what, response->id, issued, now);
    return status;
}

int checkLogoutRequest(xmlNode* root, const LogoutExpectations& expected, long long now,
                       VerifiedLogoutRequest* request) {
    const char* what = kLogoutRequestKind.element;
    long long issued = 0;
    int status = commonRulesHold(root, what, expected, now, &request->id, &issued);
    if (status == kOk) status = notExpired(root, now, expected.clockSkewSeconds);
    if (status == kOk) status = readNameId(root, request);
    if (status != kOk) return status;
    for (xmlNode* index : childElements(root, kSamlProtocolNs, "SessionIndex"))
        request->sessionIndexes.push_back(characterData(index));
    request->idpEntityId = expected.idpEntityId;
    request->reason = attribute(root, "Reason");
    request->notOnOrAfter = attribute(root, "NotOnOrAfter");
    return recordedOnce(expected, what, request->id, issued, now);
}

}  // namespace internal

bool logoutRequestCoversLogin(const VerifiedLogoutRequest& request, const VerifiedLogin& login) {
    const bool sameSubject = !request.nameId.empty() && request.idpEntityId == login.idpEntityId &&
                             request.nameId == login.nameId &&
                             request.nameIdFormat == login.nameIdFormat &&
                             request.nameQualifier == login.nameQualifier &&
                             request.spNameQualifier == login.spNameQualifier;
    if (!sameSubject) return false;
    if (request.sessionIndexes.empty()) return true;
    for (const std::string& index : request.sessionIndexes)
        if (index == login.sessionIndex) return true;
    return false;
}

}  // namespace corvane
