// The Web Browser SSO profile's rules for a response and its assertion.
// Each rule yields the description of what breaks it, or nothing; the
// caller reports the first description found.
#include <cstdarg>
#include <cstdio>

#include "Corvane.h"
#include "frame/escape.h"
#include "frame/handles.h"
#include "login/login_internal.h"
#include "xml/time.h"
#include "xml/tree.h"

namespace corvane {
namespace internal {

namespace {

const char kBadVersion[] = "SAML response Version is \"%s\", not \"2.0\"";
const char kNoStatus[] = "SAML response carries no StatusCode";
const char kNotSuccess[] = "SAML response status is %s%s%s%s%s";
const char kWrongDestination[] = "SAML response Destination \"%s\" is not the ACS URL \"%s\"";
const char kWrongIssuer[] = "SAML %s Issuer \"%s\" is not the IdP \"%s\"";
const char kNoIssuer[] = "SAML assertion names no Issuer";
const char kUnsolicited[] = "SAML %s answers no request, but request \"%s\" is expected";
const char kWrongRequest[] = "SAML %s answers request \"%s\", not \"%s\"";
const char kUnexpectedRequest[] =
    "SAML %s answers request \"%s\", but no request ID is expected to check it against";
const char kNoNameId[] = "SAML assertion carries no usable Subject/NameID";
const char kNoBearer[] = "SAML assertion has no bearer SubjectConfirmation";
const char kWrongRecipient[] =
    "SAML bearer confirmation Recipient \"%s\" is not the ACS URL \"%s\"";
const char kBadTime[] = "SAML %s %s \"%s\" is missing or not a time stamp";
const char kExpired[] = "SAML %s expired at %s";
const char kNotYetValid[] = "SAML %s is not valid before %s";
const char kNoConditions[] = "SAML assertion has no Conditions";
const char kNoAudience[] = "SAML assertion Conditions name no AudienceRestriction";
const char kWrongAudience[] = "SAML assertion AudienceRestriction does not name the SP \"%s\"";
const char kNoAuthnStatement[] = "SAML assertion has no AuthnStatement";
const char kBadAssertionVersion[] = "SAML assertion Version is \"%s\", not \"2.0\"";
const char kIssuerFormat[] = "SAML %s Issuer Format \"%s\" is not the entity format";
const char kRepeated[] = "SAML %s carries more than one %s";
const char kUnknownCondition[] = "SAML assertion carries a condition it does not understand: %s";
const char kNoAssertionId[] = "SAML assertion has no ID";
const char kBadAssertionId[] = "SAML assertion ID \"%s\" is not an xs:ID (an NCName)";
const char kEmptyWindow[] = "SAML %s NotBefore %s is not earlier than its NotOnOrAfter %s";

const char kStatusSuccess[] = "urn:oasis:names:tc:SAML:2.0:status:Success";
const char kBearer[] = "urn:oasis:names:tc:SAML:2.0:cm:bearer";
const char kEntityFormat[] = "urn:oasis:names:tc:SAML:2.0:nameid-format:entity";

typedef std::string Problem;  // empty: the rule holds

Problem describe(const char* format, ...) __attribute__((format(printf, 1, 2)));
Problem describe(const char* format, ...) {
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    const int length = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    std::string text(length > 0 ? static_cast<std::size_t>(length) : 0, '\0');
    if (length > 0) std::vsnprintf(&text[0], text.size() + 1, format, args);
    va_end(args);
    return text;
}

std::string attribute(const xmlNode* element, const char* name) {
    std::string value;
    attributeValue(element, name, &value);
    return value;
}

// The element ns:name that may stand at most once under parent, in
// *child (null when absent); a problem when it stands more than once.
Problem atMostOnce(xmlNode* parent, const char* what, const char* ns, const char* name,
                   xmlNode** child) {
    const std::vector<xmlNode*> found = childElements(parent, ns, name);
    *child = found.empty() ? nullptr : found.front();
    return found.size() > 1 ? describe(kRepeated, what, name) : Problem();
}

// The text of every text and CDATA node below the element.
std::string textOf(const xmlNode* element) {
    std::string text;
    if (element == nullptr) return text;
    XmlCharPtr content(xmlNodeGetContent(element));
    if (content) text = reinterpret_cast<const char*>(content.get());
    return text;
}

// An entity ID or audience as a URI: surrounding white space is not part
// of it.
std::string uriOf(const xmlNode* element) {
    const std::string text = textOf(element);
    const char* space = " \t\r\n";
    const std::string::size_type first = text.find_first_not_of(space);
    if (first == std::string::npos) return std::string();
    return text.substr(first, text.find_last_not_of(space) - first + 1);
}

Problem statusProblem(xmlNode* response) {
    xmlNode* status = firstChildElement(response, kSamlProtocolNs, "Status");
    xmlNode* code = firstChildElement(status, kSamlProtocolNs, "StatusCode");
    std::string value;
    if (!attributeValue(code, "Value", &value)) return kNoStatus;
    if (value == kStatusSuccess) return Problem();
    const std::string second =
        attribute(firstChildElement(code, kSamlProtocolNs, "StatusCode"), "Value");
    const std::string message = textOf(firstChildElement(status, kSamlProtocolNs, "StatusMessage"));
    return describe(kNotSuccess, value.c_str(), second.empty() ? "" : " / ", second.c_str(),
                    message.empty() ? "" : ": ", message.c_str());
}

// The InResponseTo of the response or of its bearer confirmation fits.
Problem inResponseToProblem(const xmlNode* element, const char* what,
                            const LoginExpectations& expected) {
    std::string named;
    const bool answers = attributeValue(element, "InResponseTo", &named);
    // Unsolicited: accepted only when allowed (expectations naming no
    // request at all allow it, or they would be refused as incomplete).
    if (!answers) {
        if (expected.requestId.empty() || expected.allowUnsolicited) return Problem();
        return describe(kUnsolicited, what, expected.requestId.c_str());
    }
    // An answer: only to the request the host names.
    if (expected.requestId.empty()) return describe(kUnexpectedRequest, what, named.c_str());
    if (named != expected.requestId) {
        return describe(kWrongRequest, what, named.c_str(), expected.requestId.c_str());
    }
    return Problem();
}

Problem issuerProblem(xmlNode* parent, const char* what, const std::string& idp, bool required) {
    xmlNode* issuer = nullptr;
    const Problem repeated = atMostOnce(parent, what, kSamlAssertionNs, "Issuer", &issuer);
    if (!repeated.empty()) return repeated;
    if (issuer == nullptr) return required ? Problem(kNoIssuer) : Problem();
    std::string format;
    if (attributeValue(issuer, "Format", &format) && format != kEntityFormat) {
        return describe(kIssuerFormat, what, format.c_str());
    }
    const std::string name = uriOf(issuer);
    return name == idp ? Problem() : describe(kWrongIssuer, what, name.c_str(), idp.c_str());
}

enum BoundKind { kNotBefore, kNotOnOrAfter };

// A time bound as read from its attribute.
struct Instant {
    bool present = false;
    std::string text;
    long long seconds = 0;  // whole seconds
    bool fractional = false;
};

// The bound's attribute read into *instant; a problem when it is not a
// time stamp, or absent though required.
Problem readInstant(const xmlNode* element, const char* what, const char* name, bool required,
                    Instant* instant) {
    if (!attributeValue(element, name, &instant->text)) {
        return required ? describe(kBadTime, what, name, "") : Problem();
    }
    if (!parseDateTime(instant->text, &instant->seconds, &instant->fractional)) {
        return describe(kBadTime, what, name, instant->text.c_str());
    }
    instant->present = true;
    return Problem();
}

// A time window's bound: NotBefore must have come (now + skew >= it),
// NotOnOrAfter must not have passed (now - skew < it). An absent bound
// holds. now is within the readable instants and skew at most a day, so
// nothing here can overflow.
Problem boundProblem(const Instant& bound, const char* what, BoundKind kind, long long now,
                     long skew) {
    if (!bound.present) return Problem();
    // A fraction of a second moves a NotBefore to the next whole second.
    const long long value = bound.seconds + (kind == kNotBefore && bound.fractional ? 1 : 0);
    if (kind == kNotBefore && now + skew < value) {
        return describe(kNotYetValid, what, bound.text.c_str());
    }
    if (kind == kNotOnOrAfter && now - skew >= value) {
        return describe(kExpired, what, bound.text.c_str());
    }
    return Problem();
}

// A window whose NotBefore is not earlier than its NotOnOrAfter admits no
// instant: the IdP made an error, or someone wants the skew to open it.
bool earlierThan(const Instant& a, const Instant& b) {
    return a.seconds < b.seconds || (a.seconds == b.seconds && !a.fractional && b.fractional);
}

// The NotBefore / NotOnOrAfter window of element: well ordered and
// holding now. *expiry receives its NotOnOrAfter when present.
Problem windowProblem(const xmlNode* element, const char* what, bool endRequired, long long now,
                      long skew, long long* expiry) {
    Instant notBefore;
    Instant notOnOrAfter;
    Problem problem = readInstant(element, what, "NotBefore", false, &notBefore);
    if (problem.empty()) {
        problem = readInstant(element, what, "NotOnOrAfter", endRequired, &notOnOrAfter);
    }
    if (!problem.empty()) return problem;
    if (notBefore.present && notOnOrAfter.present && !earlierThan(notBefore, notOnOrAfter)) {
        return describe(kEmptyWindow, what, notBefore.text.c_str(), notOnOrAfter.text.c_str());
    }
    if (notOnOrAfter.present && expiry) *expiry = notOnOrAfter.seconds;
    problem = boundProblem(notBefore, what, kNotBefore, now, skew);
    return problem.empty() ? boundProblem(notOnOrAfter, what, kNotOnOrAfter, now, skew) : problem;
}

Problem bearerDataProblem(xmlNode* confirmation, const LoginExpectations& expected, long long now,
                          long long* expiry) {
    xmlNode* data = firstChildElement(confirmation, kSamlAssertionNs, "SubjectConfirmationData");
    const std::string recipient = attribute(data, "Recipient");
    if (recipient != expected.acsUrl) {
        return describe(kWrongRecipient, recipient.c_str(), expected.acsUrl.c_str());
    }
    const char* what = "bearer confirmation";
    const Problem problem = windowProblem(data, what, true, now, expected.clockSkewSeconds, expiry);
    return problem.empty() ? inResponseToProblem(data, what, expected) : problem;
}

// Some bearer confirmation holds; otherwise the first one's problem.
Problem bearerProblem(xmlNode* subject, const LoginExpectations& expected, long long now,
                      long long* expiry) {
    Problem first;
    for (xmlNode* confirmation : childElements(subject, kSamlAssertionNs, "SubjectConfirmation")) {
        if (attribute(confirmation, "Method") != kBearer) continue;
        const Problem problem = bearerDataProblem(confirmation, expected, now, expiry);
        if (problem.empty()) return problem;
        if (first.empty()) first = problem;
    }
    return first.empty() ? Problem(kNoBearer) : first;
}

// A condition the SP does not understand leaves the assertion's validity
// undetermined: only the audience, one-time-use and proxy restrictions
// are known.
Problem unknownConditionProblem(xmlNode* conditions) {
    for (xmlNode* child = conditions->children; child != nullptr; child = child->next) {
        if (child->type != XML_ELEMENT_NODE) continue;
        if (isElement(child, kSamlAssertionNs, "AudienceRestriction") ||
            isElement(child, kSamlAssertionNs, "OneTimeUse") ||
            isElement(child, kSamlAssertionNs, "ProxyRestriction")) {
            continue;
        }
        return describe(kUnknownCondition, reinterpret_cast<const char*>(child->name));
    }
    return Problem();
}

Problem conditionsProblem(xmlNode* assertion, const LoginExpectations& expected, long long now,
                          long long* expiry) {
    xmlNode* conditions = nullptr;
    const Problem repeated =
        atMostOnce(assertion, "assertion", kSamlAssertionNs, "Conditions", &conditions);
    if (!repeated.empty()) return repeated;
    if (conditions == nullptr) return kNoConditions;
    const Problem unknown = unknownConditionProblem(conditions);
    if (!unknown.empty()) return unknown;
    const Problem problem =
        windowProblem(conditions, "assertion", false, now, expected.clockSkewSeconds, expiry);
    if (!problem.empty()) return problem;
    const std::vector<xmlNode*> restrictions =
        childElements(conditions, kSamlAssertionNs, "AudienceRestriction");
    if (restrictions.empty()) return kNoAudience;
    for (xmlNode* restriction : restrictions) {
        bool named = false;
        for (xmlNode* audience : childElements(restriction, kSamlAssertionNs, "Audience")) {
            named = named || uriOf(audience) == expected.spEntityId;
        }
        if (!named) return describe(kWrongAudience, expected.spEntityId.c_str());
    }
    return Problem();
}

// A comment inside a NameID is how a signed value is made to read as a
// shorter one by careless readers; no IdP writes one.
bool holdsComment(const xmlNode* element) {
    for (const xmlNode* child = element->children; child != nullptr; child = child->next) {
        if (child->type == XML_COMMENT_NODE) return true;
    }
    return false;
}

Problem nameIdProblem(xmlNode* subject, VerifiedLogin* login) {
    xmlNode* nameId = nullptr;
    const Problem repeated = atMostOnce(subject, "subject", kSamlAssertionNs, "NameID", &nameId);
    if (!repeated.empty()) return repeated;
    std::string value;
    if (nameId == nullptr || holdsComment(nameId) || !fullCharacterContent(nameId, &value) ||
        value.find_first_not_of(" \t\r\n") == std::string::npos) {
        return kNoNameId;
    }
    login->nameId = value;
    login->nameIdFormat = attribute(nameId, "Format");
    login->nameQualifier = attribute(nameId, "NameQualifier");
    login->spNameQualifier = attribute(nameId, "SPNameQualifier");
    return Problem();
}

Problem authnStatementProblem(xmlNode* assertion, const LoginExpectations& expected, long long now,
                              VerifiedLogin* login) {
    const std::vector<xmlNode*> statements =
        childElements(assertion, kSamlAssertionNs, "AuthnStatement");
    if (statements.empty()) return kNoAuthnStatement;
    for (xmlNode* each : statements) {
        Instant end;
        Problem problem = readInstant(each, "session", "SessionNotOnOrAfter", false, &end);
        if (problem.empty()) {
            problem = boundProblem(end, "session", kNotOnOrAfter, now, expected.clockSkewSeconds);
        }
        if (!problem.empty()) return problem;
    }
    xmlNode* statement = statements.front();
    login->sessionIndex = attribute(statement, "SessionIndex");
    login->authnInstant = attribute(statement, "AuthnInstant");
    login->sessionNotOnOrAfter = attribute(statement, "SessionNotOnOrAfter");
    xmlNode* context = firstChildElement(statement, kSamlAssertionNs, "AuthnContext");
    login->authnContextClassRef =
        textOf(firstChildElement(context, kSamlAssertionNs, "AuthnContextClassRef"));
    return Problem();
}

void readAttributes(xmlNode* assertion, VerifiedLogin* login) {
    for (xmlNode* statement : childElements(assertion, kSamlAssertionNs, "AttributeStatement")) {
        for (xmlNode* element : childElements(statement, kSamlAssertionNs, "Attribute")) {
            LoginAttribute& attr = login->attributes[attribute(element, "Name")];
            if (attr.friendlyName.empty()) attr.friendlyName = attribute(element, "FriendlyName");
            if (attr.nameFormat.empty()) attr.nameFormat = attribute(element, "NameFormat");
            for (xmlNode* value : childElements(element, kSamlAssertionNs, "AttributeValue")) {
                attr.values.push_back(textOf(value));
            }
        }
    }
}

// Every problem is made of this file's texts and values from the response
// or the expectations; escaping it whole escapes every value it quotes.
int refuse(const Problem& problem) {
    CorvaneBase::setErrorMessage("%s", escapedForMessage(problem).c_str());
    return -10;
}

// The assertion's ID, which a host's replay cache keys on, is a
// non-empty xs:ID.
Problem assertionIdProblem(const xmlNode* assertion) {
    std::string id;
    if (!attributeValue(assertion, "ID", &id)) return kNoAssertionId;
    if (xmlValidateNCName(BAD_CAST id.c_str(), 0) != 0)
        return describe(kBadAssertionId, id.c_str());
    return Problem();
}

}  // namespace

int checkResponseStatus(xmlNode* response) {
    const std::string version = attribute(response, "Version");
    if (version != "2.0") return refuse(describe(kBadVersion, version.c_str()));
    const Problem problem = statusProblem(response);
    return problem.empty() ? 0 : refuse(problem);
}

int checkResponseAddressing(xmlNode* response, const LoginExpectations& expected) {
    Problem problem;
    std::string destination;
    if (attributeValue(response, "Destination", &destination) && destination != expected.acsUrl) {
        problem = describe(kWrongDestination, destination.c_str(), expected.acsUrl.c_str());
    }
    if (problem.empty()) problem = issuerProblem(response, "response", expected.idpEntityId, false);
    if (problem.empty()) problem = inResponseToProblem(response, "response", expected);
    return problem.empty() ? 0 : refuse(problem);
}

std::string answeredRequest(const xmlNode* response, xmlNode* assertion,
                            const LoginExpectations& expected) {
    std::string named;
    bool answers = attributeValue(response, "InResponseTo", &named);
    for (xmlNode* subject : childElements(assertion, kSamlAssertionNs, "Subject")) {
        for (xmlNode* confirmation :
             childElements(subject, kSamlAssertionNs, "SubjectConfirmation")) {
            for (xmlNode* data :
                 childElements(confirmation, kSamlAssertionNs, "SubjectConfirmationData"))
                answers = answers || attributeValue(data, "InResponseTo", &named);
        }
    }
    return answers ? expected.requestId : std::string();
}

int readCheckedAssertion(xmlNode* assertion, const LoginExpectations& expected, long long now,
                         VerifiedLogin* login) {
    const std::string version = attribute(assertion, "Version");
    if (version != "2.0") return refuse(describe(kBadAssertionVersion, version.c_str()));
    xmlNode* subject = nullptr;
    long long confirmationExpiry = 0;
    long long conditionsExpiry = 0;
    Problem problem = assertionIdProblem(assertion);
    if (problem.empty())
        problem = atMostOnce(assertion, "assertion", kSamlAssertionNs, "Subject", &subject);
    if (problem.empty())
        problem = issuerProblem(assertion, "assertion", expected.idpEntityId, true);
    if (problem.empty()) problem = nameIdProblem(subject, login);
    if (problem.empty()) problem = bearerProblem(subject, expected, now, &confirmationExpiry);
    if (problem.empty()) problem = conditionsProblem(assertion, expected, now, &conditionsExpiry);
    if (problem.empty()) problem = authnStatementProblem(assertion, expected, now, login);
    if (!problem.empty()) return refuse(problem);
    readAttributes(assertion, login);
    login->idpEntityId = expected.idpEntityId;
    login->assertionId = attribute(assertion, "ID");
    login->assertionExpiry = conditionsExpiry != 0 && conditionsExpiry < confirmationExpiry
                                 ? conditionsExpiry
                                 : confirmationExpiry;
    return 0;
}

}  // namespace internal
}  // namespace corvane
