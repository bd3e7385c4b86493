// corvane demo host: the library used end to end the way a service
// provider (SP) uses it, with a small demo identity provider (IdP) beside it.
//
//   1. getHelper with the three host callbacks, then initHelper.
//   2. The SP builds a signed AuthnRequest (createAuthnRequest).
//   3. The demo IdP checks the request's signature (verifySignature) and
//      answers with a samlp:Response for the demo user, signed with the
//      library's own signDocument.
//   4. The SP verifies the response (verifySamlResponse) and reads the NameID.
//   5. The same response with its NameID changed after signing is refused.
//   6. finiHelper.
//
// Every message the library hands to a callback is printed as it arrives.
// The program exits 0 only when the honest response was accepted and the
// tampered one refused. Its keys (demo_keys.h) are DEMO ONLY - never use
// them in production.

#include <cstdio>
#include <ctime>
#include <iostream>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "Corvane.h"
#include "demo_keys.h"

namespace {

const char* const kIdpSsoUrl = "https://idp.example.test/sso";
const char* const kIdpEntityId = "https://idp.example.test/metadata";
const char* const kSpEntityId = "https://sp.example.test/metadata";
const char* const kSpAcsUrl = "https://sp.example.test/acs";
const char* const kDemoUser = "demo.user@example.test";
const char* const kIntruder = "admin@example.test";

// ---------------------------------------------------------------------------
// Host callbacks. The library calls them synchronously on the thread that
// made the library call. This demo has one thread; a host that calls the
// library from several threads needs callbacks that tolerate concurrent calls.

int g_messageCount = 0;
std::string g_lastGeneratedId;

// Prints one callback message; continuation lines of multi-line messages
// (such as the PEM text in "Private cert: ...") are indented under it.
void printMessage(const std::string& source, const std::string& message) {
    ++g_messageCount;
    std::string text = message;
    while (!text.empty() && text.back() == '\n') text.pop_back();
    for (std::string::size_type at = text.find('\n'); at != std::string::npos;
         at = text.find('\n', at + 1)) {
        text.insert(at + 1, "        | ");
    }
    std::cout << "    [" << source << "] " << text << '\n';
}

void onLog(int level, const std::string& message) {
    printMessage("log, level " + std::to_string(level), message);
}

void onError(const std::string& message) { printMessage("error", message); }

// "_" and 32 random hex digits: an XML ID must not start with a digit.
std::string freshId() {
    static std::random_device random;
    static const char kHexDigits[] = "0123456789abcdef";
    std::string id = "_";
    for (int i = 0; i < 32; ++i) {
        id += kHexDigits[random() % 16];
    }
    return id;
}

void onGenerateId(std::string& id) {
    id = freshId();
    g_lastGeneratedId = id;
    printMessage("id", "request ID " + id);
}

// ---------------------------------------------------------------------------
// The demo IdP.

std::string isoTime(std::time_t when) {
    std::tm parts{};
    gmtime_r(&when, &parts);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts);
    return text;
}

void replaceAll(std::string& text, const std::string& from, const std::string& to) {
    for (std::string::size_type at = text.find(from); at != std::string::npos;
         at = text.find(from, at + to.size())) {
        text.replace(at, from.size(), to);
    }
}

// The IdP's answer to the request: a samlp:Response with one assertion for
// the user and an empty enveloped signature template. The Reference has
// URI="" (the whole document) because signDocument registers no ID
// attributes, so a "#ID" Reference could not be resolved while signing.
// The root still carries an ID, which the SP side registers when verifying.
std::string unsignedResponse(const std::string& inResponseTo, const std::string& user) {
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
  </saml:Assertion>
</samlp:Response>
)XML";
    const std::time_t now = std::time(nullptr);
    const std::vector<std::pair<std::string, std::string>> values = {
        {"{RESPONSE_ID}", freshId()}, {"{ASSERTION_ID}", freshId()},
        {"{SESSION_ID}", freshId()},  {"{REQUEST_ID}", inResponseTo},
        {"{NOW}", isoTime(now)},      {"{EXPIRES}", isoTime(now + 300)},
        {"{IDP}", kIdpEntityId},      {"{SP}", kSpEntityId},
        {"{ACS_URL}", kSpAcsUrl},     {"{USER}", user},
    };
    for (const auto& value : values) {
        replaceAll(xml, value.first, value.second);
    }
    return xml;
}

// What an attacker who intercepts the signed response might try: log in as
// someone else by editing the NameID. The signature no longer matches.
std::string withNameIdReplaced(std::string signedXml, const std::string& from,
                               const std::string& to) {
    const std::string oldElementText = ">" + from + "</saml:NameID>";
    const std::string::size_type at = signedXml.find(oldElementText);
    if (at != std::string::npos) {
        signedXml.replace(at, oldElementText.size(), ">" + to + "</saml:NameID>");
    }
    return signedXml;
}

// ---------------------------------------------------------------------------
// Output helpers.

void section(const std::string& title) { std::cout << "\n=== " << title << " ===\n"; }

void status(const std::string& call, int result) {
    std::cout << "  " << call << " returned " << result << '\n';
}

void document(const std::string& label, const std::string& xml) {
    std::cout << "  " << label << ":\n" << xml;
    if (!xml.empty() && xml.back() != '\n') {
        std::cout << '\n';
    }
}

struct Outcome {
    std::string step;
    int status;
    bool asExpected;
};

}  // namespace

int main() {
    std::vector<Outcome> outcomes;
    const auto record = [&outcomes](const std::string& step, int result, bool asExpected) {
        outcomes.push_back({step, result, asExpected});
    };

    section("1. Start the library");
    // The first getHelper call creates the helper and fixes the callbacks.
    boost::shared_ptr<corvane::CorvaneBase> saml =
        corvane::CorvaneBase::getHelper(onLog, onError, onGenerateId);
    std::cout << "  getHelper: helper created, callbacks registered\n";
    const int started = saml->initHelper();
    status("initHelper", started);
    record("initHelper", started, started == 0);
    if (started != 0) {
        std::cout << "The XML security libraries did not start; see the log above.\n";
        return 1;
    }

    section("2. SP: create a signed AuthnRequest");
    std::string request;
    const int created =
        saml->createAuthnRequest(&request, kIdpSsoUrl, kSpEntityId, demo_keys::kSpKeyAndCert);
    status("createAuthnRequest", created);
    record("createAuthnRequest", created, created == 0);
    document("AuthnRequest", request);
    const std::string requestId = g_lastGeneratedId;

    section("3. Demo IdP: check the request, answer for " + std::string(kDemoUser));
    const int requestSignature = corvane::verifySignature(request, demo_keys::kSpCert);
    status("verifySignature (request, SP certificate)", requestSignature);
    record("verifySignature (request)", requestSignature, requestSignature == 0);
    std::string response = unsignedResponse(requestId, kDemoUser);
    const int signedResponse = corvane::signDocument(&response, demo_keys::kIdpKey);
    status("signDocument (response, IdP key)", signedResponse);
    record("signDocument (response)", signedResponse, signedResponse == 0);
    document("Response", response);

    section("4. SP: verify the response");
    std::string nameId;
    const int verified = saml->verifySamlResponse(nameId, response, demo_keys::kIdpCert);
    status("verifySamlResponse", verified);
    std::cout << "  NameID: \"" << nameId << "\"\n";
    record("verifySamlResponse (honest)", verified, verified == 0 && nameId == kDemoUser);

    section("5. SP: verify the response with its NameID changed to " + std::string(kIntruder));
    const std::string tampered = withNameIdReplaced(response, kDemoUser, kIntruder);
    std::string tamperedNameId = "(untouched)";
    const int refused = saml->verifySamlResponse(tamperedNameId, tampered, demo_keys::kIdpCert);
    status("verifySamlResponse", refused);
    std::cout << "  NameID: \"" << tamperedNameId << "\"\n";
    record("verifySamlResponse (tampered)", refused,
           tampered != response && refused == -7 && tamperedNameId == "(untouched)");

    section("6. Stop the library");
    const int stopped = saml->finiHelper();
    status("finiHelper", stopped);
    record("finiHelper", stopped, stopped == 0);

    section("Summary");
    bool allAsExpected = true;
    for (const Outcome& outcome : outcomes) {
        std::printf("  %-32s %3d  %s\n", outcome.step.c_str(), outcome.status,
                    outcome.asExpected ? "as expected" : "UNEXPECTED");
        allAsExpected = allAsExpected && outcome.asExpected;
    }
    std::cout << "  callback messages received: " << g_messageCount << '\n';
    std::cout << (allAsExpected
                      ? "  demo succeeded: honest response accepted, tampered one refused\n"
                      : "  demo FAILED\n");
    return allAsExpected ? 0 : 1;
}
