// corvane demo host: a service provider (SP) on the extended interface,
// <corvane/corvane.h>, used end to end the way a web application uses it,
// with a small demo identity provider (IdP) beside it.
//
//   1. SP: start the library (Library::start) and load its key and the
//      IdP's certificate once (Key).
//   2. SP: a signed AuthnRequest (createSignedAuthnRequest) in the
//      HTTP-POST form that takes the browser to the IdP (postForm); the
//      request ID is kept in the browser's session.
//   3. Demo IdP: checks the request's signature, answers it for the demo
//      user with a signed samlp:Response and posts that back in base64.
//   4. SP, at its assertion consumer service (ACS): verifies the posted
//      value against the Web Browser SSO profile for that session
//      (verifyPostedLoginResponse) and reads the login: NameID,
//      attributes, the assertion ID to keep against replay.
//   5. Refused: the response with its NameID changed after signing, a
//      response the IdP made for another SP, and the IdP's answer to
//      another request of this SP.
//
// The demo IdP plays the other party: it uses the documented functions
// verifySignature and signDocument of Corvane.h, which an SP never needs.
// The program exits 0 only when every step gave the expected status. Its
// keys (demo_keys.h) are DEMO ONLY - never use them in production.

#include <cstdio>
#include <ctime>
#include <iostream>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include <corvane/corvane.h>

#include "Corvane.h"  // the demo IdP's signing
#include "demo_keys.h"

namespace {

using corvane::Status;

const char kIdpSsoUrl[] = "https://idp.example.test/sso";
const char kIdpEntityId[] = "https://idp.example.test/metadata";
const char kSpEntityId[] = "https://sp.example.test/metadata";
const char kSpAcsUrl[] = "https://sp.example.test/acs";
const char kOtherSpEntityId[] = "https://other-sp.example.test/metadata";
const char kOtherSpAcsUrl[] = "https://other-sp.example.test/acs";
const char kDemoUser[] = "demo.user@example.test";
const char kIntruder[] = "admin@example.test";

// ---------------------------------------------------------------------------
// Output.

void section(const std::string& title) { std::cout << "\n=== " << title << " ===\n"; }

// Signed text may hold any character XML carries: control characters are
// shown as \xHH, so nothing from a response can move the terminal around.
std::string printable(const std::string& text) {
    std::string shown;
    for (const char c : text) {
        const unsigned char byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7f) {
            char escaped[5];
            std::snprintf(escaped, sizeof escaped, "\\x%02x", byte);
            shown += escaped;
        } else {
            shown += c;
        }
    }
    return shown;
}

// A document, indented under its label.
void document(const std::string& label, std::string text) {
    while (!text.empty() && text.back() == '\n') text.pop_back();
    std::cout << "  " << label << ":\n    ";
    for (const char c : text) {
        std::cout << c;
        if (c == '\n') std::cout << "    ";
    }
    std::cout << '\n';
}

struct Outcome {
    std::string step;
    Status status;
    bool asExpected;
};
std::vector<Outcome> g_outcomes;

// Prints a call's status in words with its message, and records whether it
// is the status expected.
template <typename T>
bool report(const std::string& step, const corvane::Result<T>& result, Status expected) {
    std::cout << "  " << step << ": " << corvane::describeStatus(result.status()) << " ("
              << corvane::toInt(result.status()) << ")\n";
    if (!result.message().empty()) std::cout << "    message: " << result.message() << '\n';
    g_outcomes.push_back({step, result.status(), result.status() == expected});
    return result.status() == expected;
}

// The SP's log sink: errors and warnings of its calls (level 3 is detail).
void spLog(int level, const std::string& message) {
    if (level <= 2) std::cout << "    [SP log " << level << "] " << message << '\n';
}

// ---------------------------------------------------------------------------
// The SP.

// What the SP keeps for one browser between sending it to the IdP and
// receiving it back at the ACS (in a real host: the server-side session).
struct LoginSession {
    std::string requestId;
};

// Everything the SP expects of the answer to this session's request; the
// clock skew (180 s) and the current time are the defaults.
corvane::LoginExpectations expectationsFor(const LoginSession& session,
                                           const corvane::KeyPtr& idpCertificate) {
    corvane::LoginExpectations expected;
    expected.idpEntityId = kIdpEntityId;
    expected.idpCertificates = {idpCertificate};
    expected.spEntityId = kSpEntityId;
    expected.acsUrl = kSpAcsUrl;
    expected.requestId = session.requestId;
    return expected;
}

corvane::StandardRequestOptions requestOptions() {
    corvane::StandardRequestOptions options;
    options.destination = kIdpSsoUrl;
    options.issuer = kSpEntityId;
    options.acsUrl = kSpAcsUrl;
    options.nameIdFormat = corvane::kNameIdFormatEmailAddress;
    return options;
}

void printLogin(const corvane::VerifiedLogin& login) {
    std::cout << "  NameID: " << printable(login.nameId) << "\n"
              << "    format:        " << printable(login.nameIdFormat) << "\n"
              << "    session index: " << printable(login.sessionIndex) << "\n"
              << "    authenticated: " << printable(login.authnInstant) << " with "
              << printable(login.authnContextClassRef) << '\n';
    for (const auto& attribute : login.attributes) {
        std::string values;
        for (const std::string& value : attribute.second.values) {
            values += (values.empty() ? "" : ", ") + printable(value);
        }
        std::cout << "    attribute " << printable(attribute.second.friendlyName) << " ("
                  << printable(attribute.first) << "): " << values << '\n';
    }
    std::cout << "  Against replay, keep assertion ID " << printable(login.assertionId)
              << " until " << corvane::utcDateTime(static_cast<std::time_t>(login.assertionExpiry))
              << " and refuse it if it comes again.\n";
}

// ---------------------------------------------------------------------------
// The demo IdP.

// "_" and 32 random hex digits: an XML ID must not start with a digit.
std::string freshId() {
    static std::random_device random;
    static const char kHexDigits[] = "0123456789abcdef";
    std::string id = "_";
    for (int i = 0; i < 32; ++i) id += kHexDigits[random() % 16];
    return id;
}

// The documented interface's callbacks, for the IdP's own calls.
void idpLog(int level, const std::string& message) {
    if (level <= 2) std::cout << "    [IdP log " << level << "] " << message << '\n';
}
void idpError(const std::string& message) { std::cout << "    [IdP error] " << message << '\n'; }
void idpId(std::string& id) { id = freshId(); }

void replaceAll(std::string& text, const std::string& from, const std::string& to) {
    for (std::string::size_type at = text.find(from); at != std::string::npos;
         at = text.find(from, at + to.size())) {
        text.replace(at, from.size(), to);
    }
}

// The value of the first attribute `name` in the root element's start tag.
std::string rootAttribute(const std::string& xml, const std::string& name) {
    const std::string::size_type root = xml.find('<', xml.find("?>") + 1);
    const std::string::size_type end = xml.find('>', root);
    const std::string::size_type at = xml.find(" " + name + "=\"", root);
    if (root == std::string::npos || at == std::string::npos || at > end) return std::string();
    const std::string::size_type from = at + name.size() + 3;
    return xml.substr(from, xml.find('"', from) - from);
}

// Whom a response is for.
struct Audience {
    std::string spEntityId;
    std::string acsUrl;
    std::string requestId;  // the request it answers
};

// The IdP's answer: a samlp:Response with one assertion for the user and
// an enveloped signature template over the whole document (Reference URI
// "": signDocument registers no ID attributes, so it signs the root).
std::string unsignedResponse(const Audience& audience, const std::string& user) {
    std::string xml = R"XML(<?xml version="1.0" encoding="UTF-8"?>
<samlp:Response xmlns:samlp="urn:oasis:names:tc:SAML:2.0:protocol"
                xmlns:saml="urn:oasis:names:tc:SAML:2.0:assertion"
                ID="{RESPONSE_ID}" Version="2.0" IssueInstant="{NOW}"
                Destination="{ACS_URL}" InResponseTo="{REQUEST_ID}">
  <saml:Issuer>{IDP}</saml:Issuer>
  <ds:Signature xmlns:ds="http://www.w3.org/2000/09/xmldsig#">
    <ds:SignedInfo>
      <ds:CanonicalizationMethod Algorithm="http://www.w3.org/2001/10/xml-exc-c14n#"/>
      <ds:SignatureMethod Algorithm="http://www.w3.org/2001/04/xmldsig-more#rsa-sha256"/>
      <ds:Reference URI="">
        <ds:Transforms>
          <ds:Transform Algorithm="http://www.w3.org/2000/09/xmldsig#enveloped-signature"/>
          <ds:Transform Algorithm="http://www.w3.org/2001/10/xml-exc-c14n#"/>
        </ds:Transforms>
        <ds:DigestMethod Algorithm="http://www.w3.org/2001/04/xmlenc#sha256"/>
        <ds:DigestValue></ds:DigestValue>
      </ds:Reference>
    </ds:SignedInfo>
    <ds:SignatureValue></ds:SignatureValue>
  </ds:Signature>
  <samlp:Status>
    <samlp:StatusCode Value="urn:oasis:names:tc:SAML:2.0:status:Success"/>
  </samlp:Status>
  <saml:Assertion ID="{ASSERTION_ID}" Version="2.0" IssueInstant="{NOW}">
    <saml:Issuer>{IDP}</saml:Issuer>
    <saml:Subject>
      <saml:NameID Format="urn:oasis:names:tc:SAML:1.1:nameid-format:emailAddress">{USER}</saml:NameID>
      <saml:SubjectConfirmation Method="urn:oasis:names:tc:SAML:2.0:cm:bearer">
        <saml:SubjectConfirmationData InResponseTo="{REQUEST_ID}" Recipient="{ACS_URL}"
                                      NotOnOrAfter="{EXPIRES}"/>
      </saml:SubjectConfirmation>
    </saml:Subject>
    <saml:Conditions NotBefore="{NOW}" NotOnOrAfter="{EXPIRES}">
      <saml:AudienceRestriction>
        <saml:Audience>{SP}</saml:Audience>
      </saml:AudienceRestriction>
    </saml:Conditions>
    <saml:AuthnStatement AuthnInstant="{NOW}" SessionIndex="{SESSION_ID}">
      <saml:AuthnContext>
        <saml:AuthnContextClassRef>urn:oasis:names:tc:SAML:2.0:ac:classes:PasswordProtectedTransport</saml:AuthnContextClassRef>
      </saml:AuthnContext>
    </saml:AuthnStatement>
    <saml:AttributeStatement>
      <saml:Attribute Name="urn:oid:0.9.2342.19200300.100.1.3" FriendlyName="mail"
                      NameFormat="urn:oasis:names:tc:SAML:2.0:attrname-format:uri">
        <saml:AttributeValue>{USER}</saml:AttributeValue>
      </saml:Attribute>
      <saml:Attribute Name="urn:oid:2.16.840.1.113730.3.1.241" FriendlyName="displayName"
                      NameFormat="urn:oasis:names:tc:SAML:2.0:attrname-format:uri">
        <saml:AttributeValue>Demo User</saml:AttributeValue>
      </saml:Attribute>
      <saml:Attribute Name="groups" FriendlyName="groups"
                      NameFormat="urn:oasis:names:tc:SAML:2.0:attrname-format:basic">
        <saml:AttributeValue>staff</saml:AttributeValue>
        <saml:AttributeValue>demo</saml:AttributeValue>
      </saml:Attribute>
    </saml:AttributeStatement>
  </saml:Assertion>
</samlp:Response>
)XML";
    const std::time_t now = std::time(nullptr);
    const std::vector<std::pair<std::string, std::string>> values = {
        {"{RESPONSE_ID}", freshId()},         {"{ASSERTION_ID}", freshId()},
        {"{SESSION_ID}", freshId()},          {"{REQUEST_ID}", audience.requestId},
        {"{NOW}", corvane::utcDateTime(now)}, {"{EXPIRES}", corvane::utcDateTime(now + 300)},
        {"{IDP}", kIdpEntityId},              {"{SP}", audience.spEntityId},
        {"{ACS_URL}", audience.acsUrl},       {"{USER}", user},
    };
    for (const auto& value : values) replaceAll(xml, value.first, value.second);
    return xml;
}

// The IdP holds the documented interface started for its own calls while
// it lives (the start-up is shared with the SP's Library and counted).
class DemoIdp {
public:
    DemoIdp()
        : m_helper(corvane::CorvaneBase::getHelper(idpLog, idpError, idpId)),
          m_started(m_helper->initHelper() == 0) {}
    ~DemoIdp() {
        if (m_started) m_helper->finiHelper();
    }
    DemoIdp(const DemoIdp&) = delete;
    DemoIdp& operator=(const DemoIdp&) = delete;

    bool started() const { return m_started; }

    // The ID of the posted SAMLRequest when its signature verifies with the
    // SP's certificate; empty otherwise.
    std::string acceptRequest(const std::string& postedSamlRequest) const {
        const auto request = corvane::base64Decode(postedSamlRequest);
        if (!request.ok()) return std::string();
        const int verified = corvane::verifySignature(request.value(), demo_keys::kSpCert);
        std::cout << "  IdP: request signature (SP certificate): "
                  << (verified == 0 ? "valid" : "NOT valid") << '\n';
        return verified == 0 ? rootAttribute(request.value(), "ID") : std::string();
    }

    // The SAMLResponse form value the IdP posts back: the signed response
    // for the user, in base64. Empty when signing failed.
    std::string postedResponse(const Audience& audience, const std::string& user) const {
        std::string response = unsignedResponse(audience, user);
        if (corvane::signDocument(&response, demo_keys::kIdpKey) != 0) return std::string();
        return corvane::base64Encode(response);
    }

private:
    boost::shared_ptr<corvane::CorvaneBase> m_helper;
    bool m_started;
};

// What an attacker who intercepts the posted response might try: log in as
// someone else by editing the NameID. The signature no longer matches.
std::string withNameIdReplaced(const std::string& postedValue, const std::string& from,
                               const std::string& to) {
    const auto decoded = corvane::decodePostedResponse(postedValue, false);
    if (!decoded.ok()) return postedValue;
    std::string xml = decoded.value();
    replaceAll(xml, ">" + from + "</saml:NameID>", ">" + to + "</saml:NameID>");
    return corvane::base64Encode(xml);
}

bool printSummary() {
    section("Summary");
    bool allAsExpected = true;
    for (const Outcome& outcome : g_outcomes) {
        std::printf("  %-44s %-38s %s\n", outcome.step.c_str(),
                    corvane::describeStatus(outcome.status),
                    outcome.asExpected ? "as expected" : "UNEXPECTED");
        allAsExpected = allAsExpected && outcome.asExpected;
    }
    std::cout << (allAsExpected ? "  demo succeeded: the honest login accepted, the three "
                                  "others refused\n"
                                : "  demo FAILED\n");
    return allAsExpected;
}

// Steps 1 to 5; false when a step that the next ones need failed.
bool runDemo() {
    section("1. SP: start the library, load the SP key and the IdP certificate");
    // Declared first, so it outlives every Key below.
    const auto library = corvane::Library::start(spLog);
    if (!report("Library::start", library, Status::Ok)) return false;
    const auto spKey = corvane::Key::loadPrivateKey(demo_keys::kSpKeyAndCert);
    const auto idpCertificate = corvane::Key::loadCertificate(demo_keys::kIdpCert);
    if (!report("Key::loadPrivateKey (SP key and certificate)", spKey, Status::Ok) ||
        !report("Key::loadCertificate (IdP certificate)", idpCertificate, Status::Ok))
        return false;

    section("2. SP: send the browser to the IdP with a signed AuthnRequest");
    const auto request = corvane::createSignedAuthnRequest(requestOptions(), *spKey.value());
    if (!report("createSignedAuthnRequest", request, Status::Ok)) return false;
    const LoginSession session{request.value().id};
    std::cout << "  request ID, kept in the browser's session: " << session.requestId << '\n';
    document("AuthnRequest", request.value().xml);
    const auto form = corvane::postForm(kIdpSsoUrl, request.value().xml, "");
    if (!report("postForm (HTTP-POST binding)", form, Status::Ok)) return false;
    std::cout << "  the page the browser gets: " << form.value().size()
              << " bytes of HTML, a form posting SAMLRequest to " << kIdpSsoUrl << '\n';
    // What the browser posts from that form: the request in base64.
    const std::string samlRequest = corvane::base64Encode(request.value().xml);

    section("3. Demo IdP: check the request, answer it for " + std::string(kDemoUser));
    const DemoIdp idp;
    if (!idp.started()) return false;
    const std::string answered = idp.acceptRequest(samlRequest);
    std::cout << "  IdP: answers request " << answered << '\n';
    const std::string posted =
        idp.postedResponse({kSpEntityId, kSpAcsUrl, answered}, kDemoUser);
    if (posted.empty()) return false;
    std::cout << "  IdP: posts SAMLResponse (" << posted.size() << " characters of base64) to "
              << kSpAcsUrl << '\n';

    section("4. SP ACS: verify the posted response for this session");
    const corvane::LoginExpectations expected = expectationsFor(session, idpCertificate.value());
    const auto login = corvane::verifyPostedLoginResponse(posted, expected);
    if (report("verifyPostedLoginResponse", login, Status::Ok)) printLogin(login.value());
    // The XML inside the posted value, for hosts that keep it.
    const auto xml = corvane::decodePostedResponse(posted, false);
    if (report("decodePostedResponse", xml, Status::Ok)) document("Response", xml.value());

    section("4b. SP ACS: the same response posted again (a replay)");
    // The login was recorded for one-time use: its assertion and the
    // request it answers are accepted once.
    report("verifyPostedLoginResponse (replayed)",
           corvane::verifyPostedLoginResponse(posted, expected), Status::ProfileRefused);

    section("5a. SP ACS: the response with its NameID changed to " + std::string(kIntruder));
    report("verifyPostedLoginResponse (tampered)",
           corvane::verifyPostedLoginResponse(withNameIdReplaced(posted, kDemoUser, kIntruder),
                                              expected),
           Status::NotAuthentic);

    section("5b. SP ACS: a response the IdP signed for another SP");
    const std::string forOtherSp =
        idp.postedResponse({kOtherSpEntityId, kOtherSpAcsUrl, freshId()}, kDemoUser);
    report("verifyPostedLoginResponse (for another SP)",
           corvane::verifyPostedLoginResponse(forOtherSp, expected), Status::ProfileRefused);

    section("5c. SP ACS: the IdP's answer to another request of this SP");
    const auto otherRequest = corvane::createSignedAuthnRequest(requestOptions(), *spKey.value());
    if (!report("createSignedAuthnRequest (another browser)", otherRequest, Status::Ok))
        return false;
    const std::string forOtherRequest =
        idp.postedResponse({kSpEntityId, kSpAcsUrl, otherRequest.value().id}, kDemoUser);
    report("verifyPostedLoginResponse (another request)",
           corvane::verifyPostedLoginResponse(forOtherRequest, expected), Status::ProfileRefused);
    return true;
}

}  // namespace

int main() {
    const bool completed = runDemo();
    return printSummary() && completed ? 0 : 1;
}
