// The helper frame: the single helper object, the first call's callbacks,
// message formatting and limits, identifiers and xmlsec1 error lines.
#include <algorithm>
#include <string>

#include <xmlsec/xmlsec.h>
#include <xmlsec/errors.h>

#include "corvane_test_support.h"

namespace {

using corvane::CorvaneBase;
using corvane_test::Recorder;
using corvane_test::RecordingTest;

int foreignCalls = 0;
void foreignLog(int, const std::string&) { ++foreignCalls; }
void foreignError(const std::string&) { ++foreignCalls; }
void foreignId(std::string& id) {
    ++foreignCalls;
    id = "foreign";
}

class HelperObject : public RecordingTest {
protected:
    void SetUp() override {
        RecordingTest::SetUp();
        foreignCalls = 0;
    }
};

TEST_F(HelperObject, LaterCallsReturnTheSameObjectAndKeepTheFirstCallbacks) {
    boost::shared_ptr<CorvaneBase> first =
        CorvaneBase::getHelper(corvane_test::recordLog, corvane_test::recordError,
                               corvane_test::supplyId);
    boost::shared_ptr<CorvaneBase> second = CorvaneBase::getHelper(foreignLog, foreignError, foreignId);

    ASSERT_TRUE(first);
    EXPECT_EQ(first.get(), second.get());
    EXPECT_EQ(first.use_count(), second.use_count()) << "copies must share one count";
    EXPECT_NE(dynamic_cast<corvane::Corvane*>(second.get()), nullptr);

    CorvaneBase::writeToLog(2, "log %d", 1);
    CorvaneBase::setErrorMessage("error %s", "one");
    std::string id;
    CorvaneBase::generateID(id);

    EXPECT_EQ(foreignCalls, 0) << "the second call's callbacks must never be used";
    ASSERT_EQ(Recorder::log().size(), 1u);
    EXPECT_EQ(Recorder::log()[0].message, "log 1");
    EXPECT_EQ(Recorder::errors(), std::vector<std::string>{"error one"});
    EXPECT_EQ(Recorder::idCalls(), 1);
    EXPECT_EQ(CorvaneBase::m_errorCallback, &corvane_test::recordError);
}

TEST_F(HelperObject, SurvivesTheHostDroppingEveryPointer) {
    boost::shared_ptr<CorvaneBase> helper = CorvaneBase::getHelper(foreignLog, foreignError, foreignId);
    const CorvaneBase* const address = helper.get();
    EXPECT_EQ(helper.use_count(), 2) << "the library's own copy plus ours";
    helper.reset();

    boost::shared_ptr<CorvaneBase> again = CorvaneBase::getHelper(foreignLog, foreignError, foreignId);
    EXPECT_EQ(again.get(), address);
    CorvaneBase::setErrorMessage("still the first callbacks");
    EXPECT_EQ(Recorder::errors().size(), 1u);
    EXPECT_EQ(foreignCalls, 0);
}

// The formatting limit: 1023 characters arrive whole, anything longer is
// cut to 1023 and marked with "...".
class MessageLimit : public RecordingTest, public ::testing::WithParamInterface<size_t> {};

TEST_P(MessageLimit, LogAndErrorMessagesAreCutAt1023Characters) {
    std::string text;
    for (size_t i = 0; i < GetParam(); ++i) text += static_cast<char>('a' + i % 26);
    const bool cut = GetParam() > 1023;
    const std::string expected = cut ? text.substr(0, 1023) + "..." : text;

    CorvaneBase::writeToLog(3, "%s", text.c_str());
    CorvaneBase::setErrorMessage("%s", text.c_str());

    ASSERT_EQ(Recorder::log().size(), 1u);
    EXPECT_EQ(Recorder::log()[0].message, expected);
    ASSERT_EQ(Recorder::errors().size(), 1u);
    EXPECT_EQ(Recorder::errors()[0], expected);
    EXPECT_EQ(expected.size(), cut ? 1026u : GetParam());
}

INSTANTIATE_TEST_SUITE_P(Lengths, MessageLimit, ::testing::Values(0, 1, 1022, 1023, 1024, 1025, 5000));

TEST_F(RecordingTest, TheLimitCountsTheFormattedTextNotTheFormat) {
    const std::string head(1021, 'x');
    CorvaneBase::setErrorMessage("%s%d", head.c_str(), 123);  // 1024 characters formatted
    ASSERT_EQ(Recorder::errors().size(), 1u);
    EXPECT_EQ(Recorder::errors()[0], head + "12...");

    CorvaneBase::writeToLog(1, "%s%d", head.c_str(), 12);  // 1023 characters formatted
    ASSERT_EQ(Recorder::log().size(), 1u);
    EXPECT_EQ(Recorder::log()[0].message, head + "12");
}

TEST_F(RecordingTest, ANulProducedByAFormatArgumentEndsTheMessage) {
    CorvaneBase::writeToLog(2, "before%cafter %s", '\0', "more");
    CorvaneBase::setErrorMessage("x%sy%cz", "", 0);
    ASSERT_EQ(Recorder::log().size(), 1u);
    EXPECT_EQ(Recorder::log()[0].message, "before");
    EXPECT_EQ(Recorder::errors(), std::vector<std::string>{"xy"});
}

TEST_F(RecordingTest, WriteToLogPassesTheLevelThroughUnchanged) {
    const int levels[] = {0, 1, 2, 3, 7, -4};
    for (int level : levels) CorvaneBase::writeToLog(level, "level %d", level);
    ASSERT_EQ(Recorder::log().size(), 6u);
    for (size_t i = 0; i < 6; ++i) {
        EXPECT_EQ(Recorder::log()[i].level, levels[i]);
        EXPECT_EQ(Recorder::log()[i].message, "level " + std::to_string(levels[i]));
    }
    EXPECT_TRUE(Recorder::errors().empty()) << "log lines never reach the error callback";
}

TEST_F(RecordingTest, GenerateIdHandsTheCallerStringToTheCallbackUntouched) {
    std::string id = "kept-";
    Recorder::queueId("added");
    CorvaneBase::generateID(id);
    EXPECT_EQ(id, "kept-added");
    EXPECT_EQ(Recorder::lastIdTarget(), &id);
    EXPECT_EQ(Recorder::idCalls(), 1);
}

TEST_F(RecordingTest, GenerateIdAcceptsAnEmptyIdentifierSilently) {
    std::string id;
    Recorder::queueId("");
    CorvaneBase::generateID(id);
    EXPECT_EQ(id, "");
    EXPECT_TRUE(Recorder::everything().empty());
}

// A reason code that xmlsec1's error table does not hold.
int unknownReason() {
    int largest = 0;
    for (xmlSecSize i = 0; i < 256 && xmlSecErrorsGetMsg(i) != nullptr; ++i)
        largest = std::max(largest, xmlSecErrorsGetCode(i));
    return largest + 1000;
}

TEST_F(RecordingTest, XmlsecErrorLineWithNullNamesAndUnknownReason) {
    const int reason = unknownReason();
    corvane::XmlsecError2Log(nullptr, 42, nullptr, nullptr, nullptr, reason, nullptr);
    ASSERT_EQ(Recorder::log().size(), 1u);
    EXPECT_EQ(Recorder::log()[0].level, 1);
    EXPECT_EQ(Recorder::log()[0].message,
              "func=unknown:file=unknown:line=42:obj=unknown:subj=unknown:error=" +
                  std::to_string(reason) + "::");
    EXPECT_TRUE(Recorder::errors().empty());
}

TEST_F(RecordingTest, XmlsecErrorLineCarriesTheReasonTextOfTheErrorTable) {
    const char* reasonText = nullptr;
    for (xmlSecSize i = 0; i < 256 && xmlSecErrorsGetMsg(i) != nullptr; ++i)
        if (xmlSecErrorsGetCode(i) == XMLSEC_ERRORS_R_INVALID_NODE) {
            reasonText = xmlSecErrorsGetMsg(i);
            break;
        }
    ASSERT_NE(reasonText, nullptr);

    corvane::XmlsecError2Log("keys.c", 7, "xmlSecSomething", "obj", "subj",
                             XMLSEC_ERRORS_R_INVALID_NODE, "details here");
    ASSERT_EQ(Recorder::log().size(), 1u);
    EXPECT_EQ(Recorder::log()[0].level, 1);
    EXPECT_EQ(Recorder::log()[0].message,
              "func=xmlSecSomething:file=keys.c:line=7:obj=obj:subj=subj:error=" +
                  std::to_string(XMLSEC_ERRORS_R_INVALID_NODE) + ":" + reasonText +
                  ":details here");
    EXPECT_TRUE(Recorder::errors().empty());
}

TEST_F(RecordingTest, XmlsecErrorLineObeysTheMessageLimit) {
    const std::string longMsg(2000, 'm');
    corvane::XmlsecError2Log("f.c", 1, "fn", "o", "s", unknownReason(), longMsg.c_str());
    ASSERT_EQ(Recorder::log().size(), 1u);
    EXPECT_EQ(Recorder::log()[0].message.size(), 1026u);
    EXPECT_EQ(Recorder::log()[0].message.substr(0, 12), "func=fn:file");
    EXPECT_EQ(Recorder::log()[0].message.substr(1020), "mmm...");
}

}  // namespace
