// Start-up and shutdown of libxml2, xmlsec1 and its OpenSSL back end, in
// the order a host uses them. One test, so nothing runs before initHelper
// or after finiHelper.
#include "corvane_test_support.h"

namespace {

using corvane::CorvaneBase;
using corvane_test::Recorder;

TEST(StartUpAndShutdown, InitSucceedsSilentlyOperationsWorkAndFiniReturnsZero) {
    boost::shared_ptr<CorvaneBase> helper = CorvaneBase::getHelper(
        corvane_test::recordLog, corvane_test::recordError, corvane_test::supplyId);
    ASSERT_TRUE(helper);
    Recorder::reset();

    ASSERT_EQ(helper->initHelper(), 0);
    EXPECT_TRUE(Recorder::log().empty()) << "a successful start-up logs nothing";
    EXPECT_TRUE(Recorder::errors().empty());

    // The libraries are usable: a signed response verifies.
    const std::string response = corvane_test::signedResponse("started@example.test");
    std::string nameId;
    EXPECT_EQ(helper->verifySamlResponse(nameId, response, corvane_test::idpCert()), 0);
    EXPECT_EQ(nameId, "started@example.test");

    Recorder::reset();
    EXPECT_EQ(helper->finiHelper(), 0);
    EXPECT_TRUE(Recorder::everything().empty()) << "shutdown reports nothing";
}

}  // namespace
