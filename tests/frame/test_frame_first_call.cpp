// What depends on the callbacks of the process's first getHelper call: null
// callbacks and the assertion reports that stop the process. The parent
// process never calls getHelper; every case runs in a forked child that
// makes the first call itself.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "corvane_test_support.h"

namespace {

using corvane::CorvaneBase;
using corvane_test::recordError;
using corvane_test::recordLog;
using corvane_test::supplyId;

// The assertion report: file "src/Corvane", a line number, the function and
// the failed expression.
std::string assertionReport(const std::string& function, const std::string& expression) {
    return "src/Corvane:[0-9]+: " + function + ": Assertion .?" + expression + ".? failed";
}

const std::string kSetErrorMessage =
    R"(static void corvane::CorvaneBase::setErrorMessage\(const char\*, \.\.\.\))";
const std::string kGenerateId = R"(static void corvane::CorvaneBase::generateID\([^)]*string[^)]*&\))";

TEST(AssertionReport, NullErrorCallbackStopsTheFirstErrorMessage) {
    EXPECT_DEATH(
        {
            CorvaneBase::getHelper(recordLog, nullptr, supplyId);
            CorvaneBase::setErrorMessage("failure %d", 1);
        },
        assertionReport(kSetErrorMessage, "m_errorCallback"));
}

TEST(AssertionReport, NullErrorCallbackStopsAFailingOperation) {
    EXPECT_DEATH(
        {
            boost::shared_ptr<CorvaneBase> helper = CorvaneBase::getHelper(recordLog, nullptr, supplyId);
            if (helper->initHelper() == 0) corvane::verifySignature("<not-xml", "");
        },
        assertionReport(kSetErrorMessage, "m_errorCallback"));
}

TEST(AssertionReport, NullIdCallbackStopsGenerateId) {
    EXPECT_DEATH(
        {
            CorvaneBase::getHelper(recordLog, recordError, nullptr);
            std::string id;
            CorvaneBase::generateID(id);
        },
        assertionReport(kGenerateId, "m_genIDCallback"));
}

TEST(AssertionReport, NullIdCallbackStopsRequestCreation) {
    EXPECT_DEATH(
        {
            boost::shared_ptr<CorvaneBase> helper = CorvaneBase::getHelper(recordLog, recordError, nullptr);
            std::string request;
            helper->createAuthnRequest(&request, "https://idp.example.test", "sp",
                                       corvane_test::spKeyAndCert());
        },
        assertionReport(kGenerateId, "m_genIDCallback"));
}

TEST(AssertionReport, NullDocumentTextStopsSignDocument) {
    EXPECT_DEATH(
        {
            CorvaneBase::getHelper(recordLog, recordError, supplyId);
            corvane::signDocument(nullptr, corvane_test::spKeyAndCert());
        },
        assertionReport("[^\n]*signDocument[^\n]*", "documentText"));
}

TEST(AssertionReport, NullRequestPointerStopsCreateAuthnRequest) {
    EXPECT_DEATH(
        {
            boost::shared_ptr<CorvaneBase> helper = CorvaneBase::getHelper(recordLog, recordError, supplyId);
            helper->createAuthnRequest(nullptr, "https://idp.example.test", "sp",
                                       corvane_test::spKeyAndCert());
        },
        assertionReport("[^\n]*createAuthnRequest[^\n]*", "samlAuthnRequest"));
}

// Runs in the child: returns the first broken expectation, or null.
const char* silentLogScenario() {
    using corvane_test::Recorder;
    boost::shared_ptr<CorvaneBase> helper = CorvaneBase::getHelper(nullptr, recordError, supplyId);
    if (CorvaneBase::getHelper(recordLog, recordError, supplyId) != helper) return "not one object";
    if (helper->initHelper() != 0) return "initHelper failed";

    CorvaneBase::writeToLog(1, "dropped %s", "line");
    corvane::XmlsecError2Log(nullptr, 1, nullptr, nullptr, nullptr, 1, nullptr);

    // Operations that log (xmlsec1 errors, the signing context's line)
    // still run to their normal results.
    std::string signedText = corvane_test::responseTemplate();
    if (corvane::signDocument(&signedText, corvane_test::idpKey()) != 0) return "signing failed";
    if (corvane::verifySignature(signedText, corvane_test::spCert()) != 1)
        return "wrong certificate did not give 1";
    if (corvane::verifySignature(signedText, corvane_test::idpCert()) != 0)
        return "right certificate did not give 0";

    if (!Recorder::log().empty()) return "a later non-null log callback was used";
    if (!Recorder::errors().empty()) return "unexpected error message";
    if (helper->finiHelper() != 0) return "finiHelper failed";
    return nullptr;
}

TEST(NullLogCallback, SilencesTheLogAndEveryOperationStillWorks) {
    EXPECT_EXIT(
        {
            const char* broken = silentLogScenario();
            std::fprintf(stderr, "%s\n", broken ? broken : "silent log scenario held");
            std::fflush(stderr);
            std::_Exit(broken ? 1 : 0);
        },
        ::testing::ExitedWithCode(0), "silent log scenario held");
}

}  // namespace
