// The example SP server's request handling (examples/sp-server): reading
// paths, queries, form fields and cookies from hostile requests, escaping
// for HTML, the bounded session store, and each endpoint's answer, with the
// signed login fixture as the honest login beside every refusal.
#include <gtest/gtest.h>

#include <ctime>
#include <optional>
#include <ostream>
#include <set>
#include <string>

#include <corvane/corvane.h>

#include "corvane_test_support.h"
#include "login_samples.h"
#include "request_parts.h"
#include "sessions.h"
#include "sp_app.h"

namespace {

using corvane_test::kLoginAcs;
using corvane_test::kLoginIdp;
using corvane_test::kLoginNow;
using corvane_test::kLoginRequestId;
using corvane_test::kLoginSp;
using sp_server::HttpRequest;
using sp_server::HttpResponse;

const char kIdpSsoUrl[] = "https://idp.example.test/sso";
const char kIdpSsoPostUrl[] = "https://idp.example.test/sso-post";
const char kCookie[] = "corvane_sp_session";

// ---- Paths, queries, form fields, cookies, escaping ------------------------------

struct TargetRow {
    const char* name;
    const char* target;
    const char* path;
    const char* query;
};
void PrintTo(const TargetRow& row, std::ostream* os) { *os << row.name; }

const TargetRow kTargetRows[] = {
    {"PathAlone", "/acs", "/acs", ""},
    {"PathAndQuery", "/login?binding=post", "/login", "binding=post"},
    {"FragmentEndsTheQuery", "/login?binding=post#top", "/login", "binding=post"},
    {"QuestionMarkAfterFragmentIsNoQuery", "/login#a?binding=post", "/login", ""},
    {"EmptyQuery", "/login?", "/login", ""},
};

class Target : public ::testing::TestWithParam<TargetRow> {};

TEST_P(Target, SplitsPathAndQuery) {
    EXPECT_EQ(sp_server::targetPath(GetParam().target), GetParam().path);
    EXPECT_EQ(sp_server::targetQuery(GetParam().target), GetParam().query);
}

INSTANTIATE_TEST_SUITE_P(RequestParts, Target, ::testing::ValuesIn(kTargetRows),
                         corvane_test::RowName());

struct DecodeRow {
    const char* name;
    const char* encoded;
    std::optional<std::string> decoded;
};
void PrintTo(const DecodeRow& row, std::ostream* os) { *os << row.name; }

const DecodeRow kDecodeRows[] = {
    {"PlainTextStays", "abc", std::string("abc")},
    {"PlusIsSpace", "a+b", std::string("a b")},
    {"PercentEscapes", "%3Cb%3E%20%c3%ab", std::string("<b> \xc3\xab")},
    {"EscapedPlusStaysPlus", "a%2Bb", std::string("a+b")},
    {"EscapedNulIsKept", "a%00b", std::string("a\0b", 3)},
    {"PercentAtEndRefused", "abc%", std::nullopt},
    {"PercentWithOneDigitRefused", "abc%4", std::nullopt},
    {"PercentWithNonHexRefused", "%zz", std::nullopt},
    {"PercentWithSignRefused", "%+1", std::nullopt},
};

class FormDecode : public ::testing::TestWithParam<DecodeRow> {};

TEST_P(FormDecode, UndoesFormEscapingOrRefusesIt) {
    EXPECT_EQ(sp_server::formDecode(GetParam().encoded), GetParam().decoded);
}

INSTANTIATE_TEST_SUITE_P(RequestParts, FormDecode, ::testing::ValuesIn(kDecodeRows),
                         corvane_test::RowName());

struct FieldRow {
    const char* name;
    const char* form;
    const char* field;
    std::optional<std::string> raw;
    std::optional<std::string> decoded;
};
void PrintTo(const FieldRow& row, std::ostream* os) { *os << row.name; }

const FieldRow kFieldRows[] = {
    {"OnlyField", "SAMLResponse=PD94", "SAMLResponse", std::string("PD94"), std::string("PD94")},
    {"SecondField", "RelayState=x&SAMLResponse=a%2Bb", "SAMLResponse", std::string("a%2Bb"),
     std::string("a+b")},
    {"FirstOfTwoWins", "binding=post&binding=redirect", "binding", std::string("post"),
     std::string("post")},
    {"EscapedNameMatches", "SAML%52esponse=v", "SAMLResponse", std::string("v"), std::string("v")},
    {"EmptyValue", "SAMLResponse=&x=1", "SAMLResponse", std::string(), std::string()},
    {"NameWithoutValue", "SAMLResponse", "SAMLResponse", std::string(), std::string()},
    {"BadEscapeInValueKeptRawRefusedDecoded", "binding=%zz", "binding", std::string("%zz"),
     std::nullopt},
    {"LongerNameDoesNotMatch", "SAMLResponse2=v", "SAMLResponse", std::nullopt, std::nullopt},
    {"PrefixDoesNotMatch", "XSAMLResponse=v", "SAMLResponse", std::nullopt, std::nullopt},
    {"EmptyForm", "", "SAMLResponse", std::nullopt, std::nullopt},
};

class FormField : public ::testing::TestWithParam<FieldRow> {};

TEST_P(FormField, FindsTheNamedFieldOnly) {
    EXPECT_EQ(sp_server::rawFormField(GetParam().form, GetParam().field), GetParam().raw);
    EXPECT_EQ(sp_server::formField(GetParam().form, GetParam().field), GetParam().decoded);
}

INSTANTIATE_TEST_SUITE_P(RequestParts, FormField, ::testing::ValuesIn(kFieldRows),
                         corvane_test::RowName());

struct CookieRow {
    const char* name;
    const char* header;
    std::optional<std::string> value;
};
void PrintTo(const CookieRow& row, std::ostream* os) { *os << row.name; }

const CookieRow kCookieRows[] = {
    {"OnlyCookie", "corvane_sp_session=abc", std::string("abc")},
    {"AmongOthers", "a=1; corvane_sp_session=abc; b=2", std::string("abc")},
    {"WithoutSpaces", "a=1;corvane_sp_session=abc", std::string("abc")},
    {"QuotesRemoved", "corvane_sp_session=\"abc\"", std::string("abc")},
    {"FirstOfTwoWins", "corvane_sp_session=one; corvane_sp_session=two", std::string("one")},
    {"LongerNameDoesNotMatch", "xcorvane_sp_session=abc", std::nullopt},
    {"NameInAValueDoesNotMatch", "a=corvane_sp_session=abc", std::nullopt},
    {"NameWithoutValueIsAbsent", "corvane_sp_session", std::nullopt},
    {"EmptyHeader", "", std::nullopt},
};

class Cookie : public ::testing::TestWithParam<CookieRow> {};

TEST_P(Cookie, FindsTheNamedCookieOnly) {
    EXPECT_EQ(sp_server::cookieValue(GetParam().header, kCookie), GetParam().value);
}

INSTANTIATE_TEST_SUITE_P(RequestParts, Cookie, ::testing::ValuesIn(kCookieRows),
                         corvane_test::RowName());

struct EscapeRow {
    const char* name;
    std::string text;
    std::string escaped;
};
void PrintTo(const EscapeRow& row, std::ostream* os) { *os << row.name; }

const EscapeRow kEscapeRows[] = {
    {"PlainTextStays", "Zo\xc3\xab \xc3\x85str\xc3\xb6m", "Zo\xc3\xab \xc3\x85str\xc3\xb6m"},
    {"MarkupBecomesText", "<script>alert(1)</script>", "&lt;script&gt;alert(1)&lt;/script&gt;"},
    {"QuotesAndAmpersand", "a\"b'c&d", "a&quot;b&#39;c&amp;d"},
    {"ControlCharactersReplaced", std::string("a\x1b[2Jb\rc\0d", 10),
     "a\xef\xbf\xbd[2Jb\xef\xbf\xbd"
     "c\xef\xbf\xbd"
     "d"},
    {"TabAndLineBreakKept", "a\tb\nc", "a\tb\nc"},
};

class HtmlEscape : public ::testing::TestWithParam<EscapeRow> {};

TEST_P(HtmlEscape, ShowsTextAsText) {
    EXPECT_EQ(sp_server::htmlEscape(GetParam().text), GetParam().escaped);
}

INSTANTIATE_TEST_SUITE_P(RequestParts, HtmlEscape, ::testing::ValuesIn(kEscapeRows),
                         corvane_test::RowName());

TEST(RequestParts, FormContentTypeWithParametersAndAnyCase) {
    EXPECT_TRUE(sp_server::isFormContentType("application/x-www-form-urlencoded"));
    EXPECT_TRUE(sp_server::isFormContentType("Application/X-WWW-Form-Urlencoded; charset=UTF-8"));
    EXPECT_FALSE(sp_server::isFormContentType("multipart/form-data; boundary=x"));
    EXPECT_FALSE(sp_server::isFormContentType("application/x-www-form-urlencodedx"));
    EXPECT_FALSE(sp_server::isFormContentType(""));
}

// ---- Sessions -----------------------------------------------------------------------

TEST(Sessions, IdsAreSixtyFourHexDigitsAndNeverRepeat) {
    std::set<std::string> seen;
    for (int i = 0; i < 100; ++i) {
        const std::string id = sp_server::newSessionId();
        ASSERT_EQ(id.size(), 64u);
        EXPECT_EQ(id.find_first_not_of("0123456789abcdef"), std::string::npos) << id;
        seen.insert(id);
    }
    EXPECT_EQ(seen.size(), 100u);
}

TEST(Sessions, FoundUntilTheirLifetimeEnds) {
    sp_server::SessionStore store(10, 60);
    sp_server::Session session;
    session.pendingRequestId = "_r1";
    const std::string id = store.create(session, 1000);
    ASSERT_FALSE(id.empty());
    ASSERT_TRUE(store.find(id, 1059).has_value());
    EXPECT_EQ(store.find(id, 1059)->pendingRequestId, "_r1");
    EXPECT_FALSE(store.find(id, 1060).has_value());
    EXPECT_FALSE(store.find("not-an-id", 1000).has_value());
}

TEST(Sessions, UpdateKeepsTheCreationTimeAndRemoveForgets) {
    sp_server::SessionStore store(10, 60);
    const std::string id = store.create(sp_server::Session(), 1000);
    sp_server::Session changed;
    changed.pendingRequestId = "_r2";
    changed.createdAt = 5000;
    ASSERT_TRUE(store.update(id, changed, 1030));
    EXPECT_EQ(store.find(id, 1030)->pendingRequestId, "_r2");
    EXPECT_FALSE(store.find(id, 1060).has_value());
    EXPECT_FALSE(store.update("not-an-id", changed, 1030));
    store.remove(id);
    EXPECT_FALSE(store.find(id, 1030).has_value());
}

TEST(Sessions, AFullStoreRefusesNewSessionsUntilOthersExpire) {
    sp_server::SessionStore store(2, 60);
    EXPECT_FALSE(store.create(sp_server::Session(), 1000).empty());
    EXPECT_FALSE(store.create(sp_server::Session(), 1010).empty());
    EXPECT_TRUE(store.create(sp_server::Session(), 1020).empty());
    EXPECT_EQ(store.size(), 2u);
    // The first expires at 1060: room for one more, the live one kept.
    EXPECT_FALSE(store.create(sp_server::Session(), 1060).empty());
    EXPECT_EQ(store.size(), 2u);
}

// ---- The endpoints --------------------------------------------------------------------

std::string formEncoded(const std::string& text) {
    std::string encoded;
    for (const char c : text) {
        if (c == '+')
            encoded += "%2B";
        else if (c == '/')
            encoded += "%2F";
        else if (c == '=')
            encoded += "%3D";
        else
            encoded += c;
    }
    return encoded;
}

HttpRequest get(const std::string& target, const std::string& cookie = std::string()) {
    HttpRequest request;
    request.method = "GET";
    request.target = target;
    request.cookieHeader = cookie;
    return request;
}

HttpRequest postAcs(const std::string& body, const std::string& cookie = std::string()) {
    HttpRequest request;
    request.method = "POST";
    request.target = "/acs";
    request.cookieHeader = cookie;
    request.contentType = "application/x-www-form-urlencoded";
    request.body = body;
    return request;
}

// The session cookie a response sets, as the browser sends it back.
std::string cookieSetBy(const HttpResponse& response) {
    const std::string setCookie = response.header("Set-Cookie");
    return setCookie.substr(0, setCookie.find(';'));
}

class SpServer : public corvane_test::RecordingTest {
protected:
    void SetUp() override {
        RecordingTest::SetUp();
        const corvane::Result<corvane::KeyPtr> idp =
            corvane::Key::loadCertificate(corvane_test::idpCert());
        const corvane::Result<corvane::KeyPtr> sp =
            corvane::Key::loadPrivateKey(corvane_test::spKeyAndCert());
        ASSERT_TRUE(idp.ok()) << idp.message();
        ASSERT_TRUE(sp.ok()) << sp.message();
        config_.spEntityId = kLoginSp;
        config_.acsUrl = kLoginAcs;
        config_.idpEntityId = kLoginIdp;
        config_.idpSsoRedirectUrl = kIdpSsoUrl;
        config_.idpSsoPostUrl = kIdpSsoPostUrl;
        config_.idpCertificates = {idp.value()};
        config_.spKey = sp.value();
        config_.replayCache = corvane::newInProcessReplayCache();
        config_.clock = [] { return kLoginNow; };
        config_.maxBodyBytes = 64 * 1024;
        signedLogin_ = corvane_test::signedLoginResponse();
        ASSERT_FALSE(signedLogin_.empty());
    }

    // A browser whose session waits for the answer to the fixture's request.
    std::string cookieWaitingForTheFixture(sp_server::SpApp& app) {
        sp_server::Session session;
        session.pendingRequestId = kLoginRequestId;
        return std::string(kCookie) + "=" + app.sessions().create(session, kLoginNow);
    }

    std::string postedFixture() const {
        return "SAMLResponse=" + formEncoded(corvane::base64Encode(signedLogin_)) +
               "&RelayState=https%3A%2F%2Fevil.test%2F";
    }

    sp_server::SpConfig config_;
    std::string signedLogin_;
};

TEST_F(SpServer, StartPageOffersBothSignInsWithoutASession) {
    sp_server::SpApp app(config_);
    const HttpResponse page = app.handle(get("/"));
    EXPECT_EQ(page.status, 200);
    EXPECT_NE(page.body.find("href=\"/login\""), std::string::npos);
    EXPECT_NE(page.body.find("href=\"/login?binding=post\""), std::string::npos);
    EXPECT_EQ(page.header("Cache-Control"), "no-store");
}

struct RouteRow {
    const char* name;
    const char* method;
    const char* target;
    int status;
    const char* allow;
};
void PrintTo(const RouteRow& row, std::ostream* os) { *os << row.name; }

const RouteRow kRouteRows[] = {
    {"UnknownPathNotFound", "GET", "/admin", 404, ""},
    {"PathIsCaseSensitive", "GET", "/ACS", 404, ""},
    {"PostToStartPageNotAllowed", "POST", "/", 405, "GET"},
    {"GetToAcsNotAllowed", "GET", "/acs", 405, "POST"},
    {"PutToLoginNotAllowed", "PUT", "/login", 405, "GET"},
    {"DeleteMetadataNotAllowed", "DELETE", "/metadata", 405, "GET"},
    {"UnknownBindingRefused", "GET", "/login?binding=artifact", 400, ""},
    {"BadlyEscapedBindingRefused", "GET", "/login?binding=%zz", 400, ""},
};

class SpServerRoutes : public SpServer, public ::testing::WithParamInterface<RouteRow> {};

TEST_P(SpServerRoutes, AnswersWithAnErrorPageAndStatus) {
    sp_server::SpApp app(config_);
    HttpRequest request = get(GetParam().target);
    request.method = GetParam().method;
    const HttpResponse page = app.handle(request);
    EXPECT_EQ(page.status, GetParam().status);
    EXPECT_EQ(page.header("Allow"), GetParam().allow);
    EXPECT_EQ(page.contentType, "text/html; charset=utf-8");
    EXPECT_NE(page.body.find("<p id=\"error\">"), std::string::npos);
    EXPECT_EQ(page.header("Set-Cookie"), "");
}

INSTANTIATE_TEST_SUITE_P(SpServer, SpServerRoutes, ::testing::ValuesIn(kRouteRows),
                         corvane_test::RowName());

TEST_F(SpServer, RedirectLoginKeepsTheRequestIdInANewHttpOnlySession) {
    sp_server::SpApp app(config_);
    const HttpResponse redirect = app.handle(get("/login"));
    EXPECT_EQ(redirect.status, 302);
    EXPECT_EQ(redirect.header("Location").rfind(std::string(kIdpSsoUrl) + "?SAMLRequest=", 0), 0u);
    EXPECT_NE(redirect.header("Location").find("&SigAlg="), std::string::npos);
    const std::string setCookie = redirect.header("Set-Cookie");
    EXPECT_NE(setCookie.find("; Path=/; HttpOnly; SameSite=Lax"), std::string::npos) << setCookie;
    const std::string id = sp_server::cookieValue(cookieSetBy(redirect), kCookie).value_or("");
    const std::optional<sp_server::Session> session = app.sessions().find(id, kLoginNow);
    ASSERT_TRUE(session.has_value());
    EXPECT_EQ(session->pendingRequestId.size(), 33u);
}

TEST_F(SpServer, PostLoginFormAndSecureCookieBehindHttps) {
    config_.secureCookie = true;
    sp_server::SpApp app(config_);
    const HttpResponse form = app.handle(get("/login?binding=post"));
    EXPECT_EQ(form.status, 200);
    EXPECT_NE(form.body.find(std::string("action=\"") + kIdpSsoPostUrl + "\""), std::string::npos);
    EXPECT_NE(form.body.find("name=\"SAMLRequest\""), std::string::npos);
    EXPECT_NE(form.header("Set-Cookie").find("; HttpOnly; Secure; SameSite=None"),
              std::string::npos);
    const std::string id = sp_server::cookieValue(cookieSetBy(form), kCookie).value_or("");
    ASSERT_TRUE(app.sessions().find(id, kLoginNow).has_value());
    EXPECT_FALSE(app.sessions().find(id, kLoginNow)->pendingRequestId.empty());
}

TEST_F(SpServer, ASecondLoginReusesTheBrowsersSession) {
    sp_server::SpApp app(config_);
    const std::string cookie = cookieSetBy(app.handle(get("/login")));
    const HttpResponse again = app.handle(get("/login", cookie));
    EXPECT_EQ(cookieSetBy(again), cookie);
    EXPECT_EQ(app.sessions().size(), 1u);
}

TEST_F(SpServer, MetadataOffersSigningAndEncryptionCertificates) {
    const corvane::Result<corvane::KeyPtr> encryption =
        corvane::Key::loadPrivateKey(corvane_test::spKeyAndCert());
    ASSERT_TRUE(encryption.ok());
    config_.encryptionKey = encryption.value();
    sp_server::SpApp app(config_);
    const HttpResponse metadata = app.handle(get("/metadata"));
    EXPECT_EQ(metadata.status, 200);
    EXPECT_EQ(metadata.contentType, "application/samlmetadata+xml");
    EXPECT_NE(metadata.body.find(std::string("entityID=\"") + kLoginSp + "\""), std::string::npos);
    EXPECT_NE(metadata.body.find("use=\"signing\""), std::string::npos);
    EXPECT_NE(metadata.body.find("use=\"encryption\""), std::string::npos);
    EXPECT_NE(metadata.body.find(std::string("Location=\"") + kLoginAcs + "\""), std::string::npos);
}

TEST_F(SpServer, AcceptedLoginGoesToTheStartPageInANewSessionNeverToRelayState) {
    sp_server::SpApp app(config_);
    const std::string waiting = cookieWaitingForTheFixture(app);
    const HttpResponse accepted = app.handle(postAcs(postedFixture(), waiting));
    ASSERT_EQ(accepted.status, 303) << accepted.body;
    EXPECT_EQ(accepted.header("Location"), "/");
    const std::string signedIn = cookieSetBy(accepted);
    EXPECT_NE(signedIn, waiting);
    EXPECT_FALSE(
        app.sessions().find(sp_server::cookieValue(waiting, kCookie).value_or(""), kLoginNow));

    const HttpResponse page = app.handle(get("/", signedIn));
    EXPECT_EQ(page.status, 200);
    EXPECT_NE(page.body.find(std::string("<strong id=\"name-id\">") + corvane_test::kLoginNameId +
                             "</strong>"),
              std::string::npos);
    EXPECT_NE(page.body.find(kLoginRequestId), std::string::npos);
}

TEST_F(SpServer, TheSameResponseInAnotherWaitingSessionIsAReplay) {
    sp_server::SpApp app(config_);
    ASSERT_EQ(app.handle(postAcs(postedFixture(), cookieWaitingForTheFixture(app))).status, 303);
    const HttpResponse replay =
        app.handle(postAcs(postedFixture(), cookieWaitingForTheFixture(app)));
    EXPECT_EQ(replay.status, 403);
    EXPECT_NE(replay.body.find("was accepted before: a replay is refused"), std::string::npos)
        << replay.body;
    EXPECT_EQ(replay.header("Set-Cookie"), "");
}

TEST_F(SpServer, AnotherSpSharingTheReplayCacheRefusesTheResponse) {
    sp_server::SpApp first(config_);
    sp_server::SpApp second(config_);
    ASSERT_EQ(first.handle(postAcs(postedFixture(), cookieWaitingForTheFixture(first))).status,
              303);
    EXPECT_EQ(second.handle(postAcs(postedFixture(), cookieWaitingForTheFixture(second))).status,
              403);
}

struct AcsRow {
    const char* name;
    // Applied to the honest post before it is sent.
    std::string (*body)(const std::string& honestBody, const std::string& signedXml);
    bool waiting;  // the browser's session waits for the fixture's request
    const char* contentType;
    int status;
    const char* detail;
};
void PrintTo(const AcsRow& row, std::ostream* os) { *os << row.name; }

std::string honest(const std::string& body, const std::string&) { return body; }
std::string withoutResponse(const std::string&, const std::string&) { return "RelayState=x"; }
std::string emptyResponse(const std::string&, const std::string&) {
    return "SAMLResponse=&RelayState=x";
}
std::string badBase64(const std::string&, const std::string&) { return "SAMLResponse=PD94b*Ws="; }
std::string badEscape(const std::string&, const std::string&) { return "SAMLResponse=PD94%G1"; }
std::string oversized(const std::string&, const std::string&) {
    return "SAMLResponse=" + std::string(70000, 'A');
}
std::string nameIdChanged(const std::string&, const std::string& signedXml) {
    std::string changed = signedXml;
    const std::string from = corvane_test::kLoginNameId;
    changed.replace(changed.find(from), from.size(), "admin@example.test");
    return "SAMLResponse=" + formEncoded(corvane::base64Encode(changed));
}

const AcsRow kAcsRows[] = {
    {"HonestLoginAccepted", honest, true, "application/x-www-form-urlencoded", 303, ""},
    {"HonestLoginWithoutSessionRefused", honest, false, "application/x-www-form-urlencoded", 400,
     "No sign-in was started in this browser"},
    {"NotAFormRefused", honest, true, "text/xml", 415, "The login must be posted as an HTML form."},
    {"NoSamlResponseRefused", withoutResponse, true, "application/x-www-form-urlencoded", 400,
     "The form carries no SAMLResponse."},
    {"EmptySamlResponseRefused", emptyResponse, true, "application/x-www-form-urlencoded", 400,
     "The form carries no SAMLResponse."},
    {"BadBase64Refused", badBase64, true, "application/x-www-form-urlencoded", 400, "not usable: "},
    {"BadEscapeRefused", badEscape, true, "application/x-www-form-urlencoded", 400, "not usable: "},
    {"OversizedFormRefused", oversized, true, "application/x-www-form-urlencoded", 413,
     "The posted form is too large."},
    {"NameIdChangedAfterSigningRefused", nameIdChanged, true, "application/x-www-form-urlencoded",
     403, "not authentic: "},
};

class SpServerAcs : public SpServer, public ::testing::WithParamInterface<AcsRow> {};

TEST_P(SpServerAcs, AnswersThePostedLogin) {
    sp_server::SpApp app(config_);
    HttpRequest request =
        postAcs(GetParam().body(postedFixture(), signedLogin_),
                GetParam().waiting ? cookieWaitingForTheFixture(app) : std::string());
    request.contentType = GetParam().contentType;
    const HttpResponse answer = app.handle(request);
    EXPECT_EQ(answer.status, GetParam().status) << answer.body;
    EXPECT_NE(answer.body.find(GetParam().detail), std::string::npos) << answer.body;
    EXPECT_EQ(answer.header("Set-Cookie").empty(), answer.status != 303);
}

INSTANTIATE_TEST_SUITE_P(SpServer, SpServerAcs, ::testing::ValuesIn(kAcsRows),
                         corvane_test::RowName());

TEST_F(SpServer, UnsolicitedAllowedStillRefusesAnAnswerToAnotherRequest) {
    config_.allowUnsolicited = true;
    sp_server::SpApp app(config_);
    // No session: the fixture answers a request this browser never made.
    const HttpResponse answer = app.handle(postAcs(postedFixture()));
    EXPECT_EQ(answer.status, 403) << answer.body;
    EXPECT_NE(answer.body.find("authentic, but refused by the profile: "), std::string::npos);
}

// ---- Single logout ------------------------------------------------------------------

const char kIdpSloUrl[] = "https://idp.example.test/slo";
const char kIdpSloResponseUrl[] = "https://idp.example.test/slo-response";
const char kIdpSloPostUrl[] = "https://idp.example.test/slo-post";
const char kSpSloUrl[] = "https://sp.example.test/slo";

HttpRequest postForm(const std::string& target, const std::string& body,
                     const std::string& cookie = std::string()) {
    HttpRequest request = postAcs(body, cookie);
    request.target = target;
    return request;
}

// The query of a Location header ("https://idp/slo?SAMLResponse=..." -> "SAMLResponse=...").
std::string queryOf(const std::string& location) {
    const std::size_t mark = location.find('?');
    return mark == std::string::npos ? std::string() : location.substr(mark + 1);
}

class SpServerLogout : public SpServer {
protected:
    void SetUp() override {
        SpServer::SetUp();
        const corvane::Result<corvane::KeyPtr> idpKey =
            corvane::Key::loadPrivateKey(corvane_test::idpKey());
        ASSERT_TRUE(idpKey.ok()) << idpKey.message();
        idpKey_ = idpKey.value();
        config_.idpLogoutRedirect = {kIdpSloUrl, kIdpSloResponseUrl};
        config_.idpLogoutPost = {kIdpSloPostUrl, ""};
        config_.sloUrl = kSpSloUrl;
        sp_server::SpApp loginApp(config_);
        const HttpResponse accepted =
            loginApp.handle(postAcs(postedFixture(), cookieWaitingForTheFixture(loginApp)));
        ASSERT_EQ(accepted.status, 303) << accepted.body;
        const std::optional<sp_server::Session> session = loginApp.sessions().find(
            sp_server::cookieValue(cookieSetBy(accepted), kCookie).value_or(""), kLoginNow);
        ASSERT_TRUE(session && session->login);
        login_ = *session->login;
        config_.clock = nullptr;
    }

    // A browser signed in with the fixture's login; its cookie. The login
    // is verified once, at the fixture's time; logout messages are made and
    // checked at the system clock's, so the server runs on that.
    std::string signedIn(sp_server::SpApp& app) {
        sp_server::Session session;
        session.login = login_;
        return std::string(kCookie) + "=" + app.sessions().create(session, now());
    }

    static long long now() { return static_cast<long long>(std::time(nullptr)); }

    static std::optional<sp_server::Session> sessionOf(sp_server::SpApp& app,
                                                       const std::string& cookie) {
        return app.sessions().find(sp_server::cookieValue(cookie, kCookie).value_or(""), now());
    }

    // The IdP's LogoutResponse to requestId, signed with the IdP's key.
    corvane::OutgoingLogoutMessage idpAnswer(
        const std::string& requestId, corvane::LogoutBinding binding,
        corvane::LogoutAnswer answer = corvane::LogoutAnswer::Success) {
        corvane::LogoutResponseOptions options;
        options.destination = kSpSloUrl;
        options.issuer = kLoginIdp;
        options.inResponseTo = requestId;
        options.answer = answer;
        const corvane::Result<corvane::OutgoingLogoutMessage> made =
            corvane::createLogoutResponse(options, binding, "", *idpKey_);
        EXPECT_TRUE(made.ok()) << made.message();
        return made.ok() ? made.value() : corvane::OutgoingLogoutMessage();
    }

    // The IdP's LogoutRequest for login, signed with the IdP's key.
    corvane::OutgoingLogoutMessage idpRequest(const corvane::VerifiedLogin& login,
                                              corvane::LogoutBinding binding,
                                              const std::string& destination = kSpSloUrl) {
        corvane::LogoutRequestOptions options;
        options.destination = destination;
        options.issuer = kLoginIdp;
        const corvane::Result<corvane::OutgoingLogoutMessage> made =
            corvane::createLogoutRequest(options, login, binding, "idp-state", *idpKey_);
        EXPECT_TRUE(made.ok()) << made.message();
        return made.ok() ? made.value() : corvane::OutgoingLogoutMessage();
    }

    corvane::KeyPtr idpKey_;
    corvane::VerifiedLogin login_;
};

TEST_F(SpServerLogout, SignedInPageOffersSignOutAndMetadataTheLogoutService) {
    sp_server::SpApp app(config_);
    const HttpResponse page = app.handle(get("/", signedIn(app)));
    EXPECT_NE(page.body.find("<form method=\"post\" action=\"/logout\">"), std::string::npos);
    EXPECT_NE(page.body.find("id=\"logout-post\" name=\"binding\" value=\"post\""),
              std::string::npos);
    const HttpResponse metadata = app.handle(get("/metadata"));
    EXPECT_NE(
        metadata.body.find(std::string("SingleLogoutService Binding=\"") +
                           corvane::kBindingHttpRedirect + "\" Location=\"" + kSpSloUrl + "\""),
        std::string::npos)
        << metadata.body;
}

TEST_F(SpServerLogout, SpInitiatedByRedirectEndsTheSessionAndAcceptsTheIdpsAnswerOnce) {
    sp_server::SpApp app(config_);
    const std::string cookie = signedIn(app);
    const HttpResponse toIdp = app.handle(postForm("/logout", "binding=redirect", cookie));
    ASSERT_EQ(toIdp.status, 302) << toIdp.body;
    EXPECT_EQ(toIdp.header("Location").rfind(std::string(kIdpSloUrl) + "?SAMLRequest=", 0), 0u);
    // The local session is over at once; only the request's ID is kept.
    const std::optional<sp_server::Session> waiting = sessionOf(app, cookie);
    ASSERT_TRUE(waiting.has_value());
    EXPECT_FALSE(waiting->login.has_value());
    ASSERT_EQ(waiting->pendingLogoutRequestId.size(), 33u);
    EXPECT_NE(app.handle(get("/", cookie)).body.find("Not signed in."), std::string::npos);

    // An answer to another request is refused and the wait goes on.
    const std::string other =
        queryOf(idpAnswer("_another-request", corvane::LogoutBinding::HttpRedirect).url);
    const HttpResponse refused = app.handle(get("/slo?" + other, cookie));
    EXPECT_EQ(refused.status, 403) << refused.body;
    EXPECT_TRUE(sessionOf(app, cookie).has_value());

    const std::string answer = queryOf(
        idpAnswer(waiting->pendingLogoutRequestId, corvane::LogoutBinding::HttpRedirect).url);
    const HttpResponse done = app.handle(get("/slo?" + answer, cookie));
    EXPECT_EQ(done.status, 200) << done.body;
    EXPECT_NE(done.body.find("<p id=\"logout-outcome\">Signed out here and at the IdP.</p>"),
              std::string::npos)
        << done.body;
    EXPECT_EQ(done.header("Set-Cookie"),
              std::string(kCookie) + "=; Path=/; Max-Age=0; HttpOnly; SameSite=Lax");
    EXPECT_FALSE(sessionOf(app, cookie).has_value());
    // The same answer again finds no sign-out under way.
    const HttpResponse again = app.handle(get("/slo?" + answer, cookie));
    EXPECT_EQ(again.status, 400);
    EXPECT_NE(again.body.find("No sign-out was started in this browser."), std::string::npos);
}

TEST_F(SpServerLogout, SpInitiatedByPostUsesTheFormAndShowsTheIdpsError) {
    sp_server::SpApp app(config_);
    const std::string cookie = signedIn(app);
    const HttpResponse form = app.handle(postForm("/logout", "binding=post", cookie));
    ASSERT_EQ(form.status, 200) << form.body;
    EXPECT_NE(form.body.find(std::string("action=\"") + kIdpSloPostUrl + "\""), std::string::npos);
    EXPECT_NE(form.body.find("name=\"SAMLRequest\""), std::string::npos);
    EXPECT_EQ(form.header("Content-Security-Policy"),
              "default-src 'none'; script-src 'unsafe-inline'");

    const std::string pending = sessionOf(app, cookie)->pendingLogoutRequestId;
    const corvane::OutgoingLogoutMessage answer =
        idpAnswer(pending, corvane::LogoutBinding::HttpPost, corvane::LogoutAnswer::Responder);
    const HttpResponse done = app.handle(
        postForm("/slo", "SAMLResponse=" + formEncoded(corvane::base64Encode(answer.xml)), cookie));
    EXPECT_EQ(done.status, 200) << done.body;
    EXPECT_NE(done.body.find("Signed out here; the IdP reported an error: "
                             "urn:oasis:names:tc:SAML:2.0:status:Responder"),
              std::string::npos)
        << done.body;
}

TEST_F(SpServerLogout, WithoutIdpLogoutEndpointsLogoutIsLocalAndSloDoesNotExist) {
    config_.idpLogoutRedirect = {};
    config_.idpLogoutPost = {};
    sp_server::SpApp app(config_);
    const std::string cookie = signedIn(app);
    const HttpResponse page = app.handle(postForm("/logout", "binding=redirect", cookie));
    EXPECT_EQ(page.status, 200);
    EXPECT_NE(page.body.find("The IdP offers no single logout"), std::string::npos);
    EXPECT_FALSE(sessionOf(app, cookie).has_value());
    EXPECT_EQ(app.handle(get("/slo?SAMLRequest=x")).status, 404);
    EXPECT_EQ(app.handle(get("/metadata")).body.find("SingleLogoutService"), std::string::npos);
}

TEST_F(SpServerLogout, IdpInitiatedEndsEverySessionOfThatLoginAndAnswersSigned) {
    sp_server::SpApp app(config_);
    const std::string first = signedIn(app);
    const corvane::VerifiedLogin login = *sessionOf(app, first)->login;
    // The same login in a second browser, and another user's.
    sp_server::Session same;
    same.login = login;
    const std::string secondId = app.sessions().create(same, now());
    sp_server::Session otherUser;
    otherUser.login = login;
    otherUser.login->nameId = "someone-else@example.test";
    const std::string otherId = app.sessions().create(otherUser, now());

    const corvane::OutgoingLogoutMessage request =
        idpRequest(login, corvane::LogoutBinding::HttpRedirect);
    const HttpResponse answer = app.handle(get("/slo?" + queryOf(request.url)));
    ASSERT_EQ(answer.status, 302) << answer.body;
    EXPECT_FALSE(sessionOf(app, first).has_value());
    EXPECT_FALSE(app.sessions().find(secondId, now()).has_value());
    EXPECT_TRUE(app.sessions().find(otherId, now()).has_value());

    // The answer goes to the IdP's ResponseLocation, signed by the SP.
    const std::string location = answer.header("Location");
    ASSERT_EQ(location.rfind(std::string(kIdpSloResponseUrl) + "?SAMLResponse=", 0), 0u);
    corvane::LogoutExpectations idpSide;
    idpSide.idpEntityId = kLoginSp;
    idpSide.idpCertificates = {corvane::Key::loadCertificate(corvane_test::spCert()).value()};
    idpSide.spLogoutUrl = kIdpSloResponseUrl;
    idpSide.requestId = request.id;
    const corvane::Result<corvane::VerifiedLogoutResponse> verified =
        corvane::verifyLogoutResponseQuery(queryOf(location), idpSide);
    ASSERT_TRUE(verified.ok()) << verified.message();
    EXPECT_EQ(verified.value().outcome, corvane::LogoutOutcome::Success);
    EXPECT_EQ(verified.value().relayState, "idp-state");

    // The same request again is a replay.
    const HttpResponse replay = app.handle(get("/slo?" + queryOf(request.url)));
    EXPECT_EQ(replay.status, 403);
    EXPECT_NE(replay.body.find("replay"), std::string::npos) << replay.body;
}

TEST_F(SpServerLogout, IdpInitiatedByPostIsAnsweredByPostWithItsRelayState) {
    sp_server::SpApp app(config_);
    const std::string cookie = signedIn(app);
    const corvane::OutgoingLogoutMessage request =
        idpRequest(*sessionOf(app, cookie)->login, corvane::LogoutBinding::HttpPost);
    const HttpResponse answer = app.handle(
        postForm("/slo", "SAMLRequest=" + formEncoded(corvane::base64Encode(request.xml)) +
                             "&RelayState=state%201"));
    ASSERT_EQ(answer.status, 200) << answer.body;
    EXPECT_NE(answer.body.find(std::string("action=\"") + kIdpSloPostUrl + "\""),
              std::string::npos);
    EXPECT_NE(answer.body.find("name=\"SAMLResponse\""), std::string::npos);
    EXPECT_NE(answer.body.find("value=\"state 1\""), std::string::npos) << answer.body;
    EXPECT_FALSE(sessionOf(app, cookie).has_value());
}

struct SloRow {
    const char* name;
    const char* method;
    // The request's query (GET) or form body (POST), given the IdP's honest
    // Redirect query and its honest posted value.
    std::string (*fields)(const std::string& query, const std::string& posted);
    const char* contentType;
    int status;
    const char* detail;
};
void PrintTo(const SloRow& row, std::ostream* os) { *os << row.name; }

std::string honestQuery(const std::string& query, const std::string&) { return query; }
std::string honestPost(const std::string&, const std::string& posted) {
    return "SAMLRequest=" + posted;
}
std::string unsignedQuery(const std::string& query, const std::string&) {
    return query.substr(0, query.find("&SigAlg="));
}
std::string bothMessages(const std::string& query, const std::string&) {
    return query + "&SAMLResponse=x";
}
std::string noMessage(const std::string&, const std::string&) { return "RelayState=x"; }
std::string forgedPost(const std::string&, const std::string& posted) {
    const corvane::Result<std::string> decoded =
        corvane::base64Decode(sp_server::formDecode(posted).value_or(""));
    std::string xml = decoded.ok() ? decoded.value() : std::string();
    const std::size_t at = xml.find(corvane_test::kLoginNameId);
    if (at != std::string::npos) xml.replace(at, 4, "evil");
    return "SAMLRequest=" + formEncoded(corvane::base64Encode(xml));
}

const SloRow kSloRows[] = {
    {"HonestRedirectAnswered", "GET", honestQuery, "", 302, ""},
    {"HonestPostAnswered", "POST", honestPost, "application/x-www-form-urlencoded", 200, ""},
    {"UnsignedRedirectRefused", "GET", unsignedQuery, "", 403, "not authentic: "},
    {"ChangedPostRefused", "POST", forgedPost, "application/x-www-form-urlencoded", 403,
     "not authentic: "},
    {"BothMessagesRefused", "GET", bothMessages, "", 400,
     "The message must carry exactly one of SAMLRequest and SAMLResponse."},
    {"NoMessageRefused", "POST", noMessage, "application/x-www-form-urlencoded", 400,
     "The message must carry exactly one of SAMLRequest and SAMLResponse."},
    {"PostNotAFormRefused", "POST", honestPost, "text/xml", 415,
     "The logout message must be posted as an HTML form."},
    {"PutNotAllowed", "PUT", honestQuery, "", 405, "This address answers GET, POST only."},
};

class SpServerSlo : public SpServerLogout, public ::testing::WithParamInterface<SloRow> {};

TEST_P(SpServerSlo, AnswersTheIdpsLogoutRequest) {
    sp_server::SpApp app(config_);
    const std::string cookie = signedIn(app);
    const corvane::VerifiedLogin login = *sessionOf(app, cookie)->login;
    const std::string query = queryOf(idpRequest(login, corvane::LogoutBinding::HttpRedirect).url);
    const std::string posted =
        formEncoded(corvane::base64Encode(idpRequest(login, corvane::LogoutBinding::HttpPost).xml));
    const std::string fields = GetParam().fields(query, posted);
    HttpRequest request =
        std::string(GetParam().method) == "GET" ? get("/slo?" + fields) : postForm("/slo", fields);
    request.method = GetParam().method;
    request.contentType = GetParam().contentType;
    const HttpResponse answer = app.handle(request);
    EXPECT_EQ(answer.status, GetParam().status) << answer.body;
    EXPECT_NE(answer.body.find(GetParam().detail), std::string::npos) << answer.body;
    // Only an honest request ends the session.
    const bool honestRow = answer.status == 200 || answer.status == 302;
    EXPECT_EQ(sessionOf(app, cookie).has_value(), !honestRow);
}

INSTANTIATE_TEST_SUITE_P(SpServer, SpServerSlo, ::testing::ValuesIn(kSloRows),
                         corvane_test::RowName());

TEST(Sessions, RemoveIfRemovesExactlyTheMatchingSessions) {
    sp_server::SessionStore store(10, 60);
    sp_server::Session waiting;
    waiting.pendingRequestId = "_a";
    const std::string a = store.create(waiting, 0);
    waiting.pendingRequestId = "_b";
    const std::string b = store.create(waiting, 0);
    EXPECT_EQ(
        store.removeIf([](const sp_server::Session& s) { return s.pendingRequestId == "_a"; }), 1u);
    EXPECT_FALSE(store.find(a, 0).has_value());
    EXPECT_TRUE(store.find(b, 0).has_value());
    EXPECT_EQ(store.removeIf([](const sp_server::Session&) { return false; }), 0u);
}

struct StatusRow {
    corvane::Status status;
    int http;
};

TEST(SpServerStatus, EachRefusalHasItsHttpStatus) {
    const StatusRow rows[] = {
        {corvane::Status::Unusable, 400},      {corvane::Status::BadOptions, 400},
        {corvane::Status::NotAuthentic, 403},  {corvane::Status::ProfileRefused, 403},
        {corvane::Status::TooLarge, 413},      {corvane::Status::ReplayCacheFailed, 503},
        {corvane::Status::StartupFailed, 500},
    };
    for (const StatusRow& row : rows) {
        EXPECT_EQ(sp_server::httpStatusForLoginFailure(row.status), row.http)
            << corvane::describeStatus(row.status);
    }
}

TEST(SpServerPages, ErrorPageEscapesItsTexts) {
    const HttpResponse page = sp_server::errorPage(400, "<t>", "a<b>&\"c\"");
    EXPECT_EQ(page.status, 400);
    EXPECT_NE(page.body.find("<title>&lt;t&gt;</title>"), std::string::npos);
    EXPECT_NE(page.body.find("<p id=\"error\">a&lt;b&gt;&amp;&quot;c&quot;</p>"),
              std::string::npos);
    EXPECT_EQ(page.body.find("<b>"), std::string::npos);
    EXPECT_EQ(page.header("Content-Security-Policy"),
              "default-src 'none'; style-src 'unsafe-inline'");
}

}  // namespace
