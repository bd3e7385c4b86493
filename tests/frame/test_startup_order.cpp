// The shared, counted start-up in one process: corvane::Library objects and
// the documented initHelper/finiHelper taken and released in every order.
// Real calls prove the libraries are up (a key loads, a signed request is
// made, a signed login verifies, the documented verification accepts its
// response) and that they are down again once every holder went (each
// extended call fails with StartupFailed and its message, while the
// bindings' text work still runs). One test, so
// that nothing else starts or stops the libraries in between.
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <corvane/corvane.h>
#include "corvane_test_support.h"
#include "login_samples.h"

namespace {

using namespace corvane_test;
using corvane::Key;
using corvane::KeyPtr;
using corvane::Library;
using corvane::Result;
using corvane::Status;

const char kNotStarted[] = "The library is not started: hold a corvane::Library while calling it";
const char kUser[] = "started@example.test";

corvane::StandardRequestOptions requestOptions() {
    corvane::StandardRequestOptions options;
    options.destination = "https://idp.example.test/sso";
    options.issuer = kLoginSp;
    options.acsUrl = kLoginAcs;
    return options;
}

// The extended calls work: the SP key loads and signs a request, the IdP
// certificate loads and the signed login verifies; nothing reaches the
// documented callbacks. Every key is released on return.
void expectExtendedCallsWork(const std::string& signedLogin) {
    Recorder::reset();
    const Result<KeyPtr> spKey = Key::loadPrivateKey(spKeyAndCert());
    ASSERT_TRUE(spKey.ok()) << spKey.message();
    EXPECT_TRUE(spKey.value()->hasPrivateKey());
    const Result<corvane::AuthnRequest> request =
        corvane::createSignedAuthnRequest(requestOptions(), *spKey.value());
    ASSERT_TRUE(request.ok()) << request.message();
    EXPECT_NE(request.value().xml.find("ID=\"" + request.value().id + "\""), std::string::npos);
    EXPECT_NE(request.value().xml.find("<ds:SignatureValue>"), std::string::npos);

    const Result<KeyPtr> idpCertificate = Key::loadCertificate(idpCert());
    ASSERT_TRUE(idpCertificate.ok()) << idpCertificate.message();
    const Result<corvane::VerifiedLogin> login =
        corvane::verifyLoginResponse(signedLogin, loginExpectations(idpCertificate.value()));
    ASSERT_TRUE(login.ok()) << login.message();
    EXPECT_EQ(login.value().nameId, kLoginNameId);
    EXPECT_TRUE(Recorder::everything().empty()) << "a message reached the documented callbacks";
}

// The documented verification accepts its signed response.
void expectDocumentedCallWorks(corvane::CorvaneBase& helper, const std::string& signedLegacy) {
    Recorder::reset();
    std::string nameId;
    EXPECT_EQ(helper.verifySamlResponse(nameId, signedLegacy, idpCert()), 0)
        << ::testing::PrintToString(Recorder::errors());
    EXPECT_EQ(nameId, kUser);
}

// No holder: each call that needs the libraries does nothing and says so
// in its result alone.
void expectExtendedCallsRefused() {
    typedef std::function<std::pair<Status, std::string>()> Call;
    const auto outcome = [](const auto& result) {
        return std::make_pair(result.status(), result.message());
    };
    const std::vector<std::pair<const char*, Call>> calls = {
        {"loadPrivateKey", [&] { return outcome(Key::loadPrivateKey(spKeyAndCert())); }},
        {"loadCertificate", [&] { return outcome(Key::loadCertificate(idpCert())); }},
        {"createUnsignedAuthnRequest",
         [&] { return outcome(corvane::createUnsignedAuthnRequest(requestOptions())); }},
        {"createRedirectRequest",
         [&] { return outcome(corvane::createRedirectRequest(requestOptions(), "s", nullptr)); }},
        {"encodeRedirectQuery",
         [&] { return outcome(corvane::encodeRedirectQuery("<r/>", "", nullptr, false)); }},
        {"verifyLoginResponse",
         [&] {
             return outcome(corvane::verifyLoginResponse("<r/>", loginExpectations(KeyPtr())));
         }},
        {"verifyPostedLoginResponse",
         [&] {
             return outcome(corvane::verifyPostedLoginResponse(corvane::base64Encode("<r/>"),
                                                               loginExpectations(KeyPtr())));
         }},
    };
    Recorder::reset();
    for (const auto& call : calls) {
        SCOPED_TRACE(call.first);
        const std::pair<Status, std::string> got = call.second();
        EXPECT_EQ(got.first, Status::StartupFailed);
        EXPECT_EQ(got.second, kNotStarted);
    }
    EXPECT_TRUE(Recorder::everything().empty()) << "a message reached the documented callbacks";
}

// The bindings' text work needs no start-up.
void expectTextWorkDone() {
    Recorder::reset();
    const Result<std::string> decoded = corvane::base64Decode(corvane::base64Encode("<r/>"));
    ASSERT_TRUE(decoded.ok()) << decoded.message();
    EXPECT_EQ(decoded.value(), "<r/>");
    const Result<std::string> posted = corvane::decodePostedResponse("PHIvPg%3D%3D", true);
    ASSERT_TRUE(posted.ok()) << posted.message();
    EXPECT_EQ(posted.value(), "<r/>");
    const Result<std::string> form = corvane::postForm("https://idp.example.test/sso", "<r/>", "");
    ASSERT_TRUE(form.ok()) << form.message();
    EXPECT_NE(form.value().find("value=\"PHIvPg==\""), std::string::npos);
    EXPECT_TRUE(Recorder::everything().empty()) << "a message reached the documented callbacks";
}

Library startedLibrary(corvane::LogSink sink = corvane::LogSink()) {
    Result<Library> started = Library::start(std::move(sink));
    // value() of a failed start stops the process: say why first.
    if (!started.ok()) std::fprintf(stderr, "Library::start failed: %s\n", started.message().c_str());
    return std::move(started).value();
}

TEST(StartUpOrder, LibraryAndDocumentedStartUpShareTheLibrariesInEveryOrder) {
    boost::shared_ptr<corvane::CorvaneBase> helper =
        corvane::CorvaneBase::getHelper(recordLog, recordError, supplyId);
    ASSERT_TRUE(helper);
    {
        SCOPED_TRACE("before any start-up");
        expectExtendedCallsRefused();
        expectTextWorkDone();
    }

    std::string signedLogin;
    std::string signedLegacy;
    {
        SCOPED_TRACE("Library first, then initHelper and finiHelper while it lives");
        Library library = startedLibrary();
        signedLogin = signedLoginResponse();
        signedLegacy = signedResponse(kUser);
        ASSERT_FALSE(signedLogin.empty());
        expectExtendedCallsWork(signedLogin);
        ASSERT_EQ(helper->initHelper(), 0);
        expectDocumentedCallWorks(*helper, signedLegacy);
        expectExtendedCallsWork(signedLogin);
        EXPECT_EQ(helper->finiHelper(), 0);
        expectExtendedCallsWork(signedLogin);
    }
    {
        SCOPED_TRACE("after that Library went");
        expectExtendedCallsRefused();
    }
    {
        SCOPED_TRACE("initHelper first, finiHelper while a Library lives, the Library last");
        ASSERT_EQ(helper->initHelper(), 0);
        expectDocumentedCallWorks(*helper, signedLegacy);
        Library library = startedLibrary();
        expectExtendedCallsWork(signedLogin);
        EXPECT_EQ(helper->finiHelper(), 0);
        expectExtendedCallsWork(signedLogin);
    }
    {
        SCOPED_TRACE("after that Library went");
        expectExtendedCallsRefused();
    }
    {
        SCOPED_TRACE("two Libraries: the last to go shuts the libraries down");
        std::unique_ptr<Library> first(new Library(startedLibrary()));
        Library second = startedLibrary();
        first.reset();
        expectExtendedCallsWork(signedLogin);
    }
    {
        SCOPED_TRACE("after both Libraries went");
        expectExtendedCallsRefused();
    }
    {
        SCOPED_TRACE("a moved Library holds the start-up once");
        Library held = startedLibrary();
        {
            Library moved = std::move(held);
            expectExtendedCallsWork(signedLogin);
        }
        // The moved-from holder goes at the end of this scope, releasing nothing.
        expectExtendedCallsRefused();
    }
    {
        SCOPED_TRACE("after the moved-from Library went");
        expectExtendedCallsRefused();
    }
    {
        SCOPED_TRACE("a new Library after everything was released, with a sink");
        std::vector<std::string> sunk;
        Library library =
            startedLibrary([&sunk](int, const std::string& message) { sunk.push_back(message); });
        expectExtendedCallsWork(signedLogin);
        EXPECT_EQ(sunk, std::vector<std::string>()) << "start-up and honest calls log nothing";
        // And the documented pair once more, inside the Library's lifetime.
        ASSERT_EQ(helper->initHelper(), 0);
        expectDocumentedCallWorks(*helper, signedLegacy);
        EXPECT_EQ(helper->finiHelper(), 0);
        expectExtendedCallsWork(signedLogin);
    }
    expectExtendedCallsRefused();
    expectTextWorkDone();
}

}  // namespace
