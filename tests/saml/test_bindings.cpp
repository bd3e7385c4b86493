// The HTTP-POST binding's text work against its documented contract: the
// strict base64 decoder, the posted SAMLResponse value turned back into XML
// (form encoding, size limits) and the auto-submitting form page (exact
// output, HTML escaping, refusals). Every failure is checked for its
// status and its one exact message, beside an honest control.
#include <string>
#include <vector>

#include <corvane/corvane.h>
#include "corvane_test_support.h"
#include "idp_samples.h"
#include "login_samples.h"

namespace {

using namespace corvane_test;
using corvane::Result;
using corvane::Status;

const char kBadLength[] = "Base64 text ends in the middle of a group: padding is missing";
const char kUnusedBits[] = "Base64 text has bits set beyond its last byte";
const char kEmptyValue[] = "SAMLResponse form value is empty";
const std::size_t kDefaultPostedLimit = 2u << 20;
const std::size_t kDefaultBase64Limit = 8u << 20;

std::string badCharacter(const std::string& shown, std::size_t offset) {
    return "Base64 text holds the character " + shown + " at offset " + std::to_string(offset);
}
std::string badPadding(std::size_t offset) {
    return "Base64 padding at offset " + std::to_string(offset) + " is misplaced";
}
std::string dataAfterPadding(std::size_t offset) {
    return "Base64 text continues after its padding at offset " + std::to_string(offset);
}
std::string badEscape(std::size_t offset) {
    return "SAMLResponse form value holds a bad percent-escape at offset " + std::to_string(offset);
}
std::string tooLarge(std::size_t limit) {
    return "SAML message is larger than " + std::to_string(limit) + " bytes";
}

// A result's status, message and, on success, value, with the rule that a
// message comes exactly with a failure and nothing reaches the documented
// callbacks.
struct Outcome {
    Status status;
    std::string message;
    std::string value;
};

Outcome outcomeOf(const Result<std::string>& result) {
    EXPECT_EQ(result.ok(), result.message().empty()) << "a message exactly when it failed";
    EXPECT_TRUE(Recorder::everything().empty()) << "a message reached the documented callbacks";
    return Outcome{result.status(), result.message(), result.ok() ? result.value() : ""};
}

void expectOutcome(const Outcome& got, Status status, const std::string& message,
                   const std::string& value) {
    EXPECT_EQ(got.status, status);
    EXPECT_EQ(got.message, message);
    EXPECT_EQ(got.value, value);
}

// ---- Strict base64 --------------------------------------------------------------

struct Base64Row {
    std::string name;
    std::string text;
    std::size_t maxBytes;  // 0: the default
    Status status;
    std::string message;
    std::string bytes;  // decoded, on success
};
void PrintTo(const Base64Row& row, std::ostream* out) { *out << row.name; }

class StrictBase64 : public RecordingTest, public ::testing::WithParamInterface<Base64Row> {};

TEST_P(StrictBase64, DecodesExactlyTheCanonicalTextAndNamesWhatItRefuses) {
    const Base64Row& row = GetParam();
    const Outcome got = outcomeOf(row.maxBytes == 0 ? corvane::base64Decode(row.text)
                                                    : corvane::base64Decode(row.text, row.maxBytes));
    expectOutcome(got, row.status, row.message, row.bytes);
}

const Status kOk = Status::Ok;
const Status kUnusable = Status::Unusable;
const Status kTooLarge = Status::TooLarge;

INSTANTIATE_TEST_SUITE_P(
    Rows, StrictBase64,
    ::testing::Values(
        // Every group length of the standard test vectors.
        Base64Row{"Empty", "", 0, kOk, "", ""},
        Base64Row{"OneByte", "Zg==", 0, kOk, "", "f"},
        Base64Row{"TwoBytes", "Zm8=", 0, kOk, "", "fo"},
        Base64Row{"ThreeBytes", "Zm9v", 0, kOk, "", "foo"},
        Base64Row{"FourBytes", "Zm9vYg==", 0, kOk, "", "foob"},
        Base64Row{"FiveBytes", "Zm9vYmE=", 0, kOk, "", "fooba"},
        Base64Row{"SixBytes", "Zm9vYmFy", 0, kOk, "", "foobar"},
        Base64Row{"PlusAndSlashDigits", "+/+/", 0, kOk, "", "\xfb\xff\xbf"},
        Base64Row{"BinaryWithNul", "AP8A/w==", 0, kOk, "", std::string("\0\xff\0\xff", 4)},
        // Line breaks and the spaces and tabs of wrapped lines, anywhere.
        Base64Row{"CrLfWrapped", "Zm9v\r\nYmFy\r\n", 0, kOk, "", "foobar"},
        Base64Row{"LfWrapped", "\nZm9v\nYmFy\n", 0, kOk, "", "foobar"},
        Base64Row{"SpacesAndTabs", " Zm 9v\tYmFy ", 0, kOk, "", "foobar"},
        Base64Row{"LineBreakBetweenPaddings", "Zg=\r\n=", 0, kOk, "", "f"},
        Base64Row{"WhiteSpaceAfterPadding", "Zg==\n \t", 0, kOk, "", "f"},
        Base64Row{"OnlyWhiteSpace", "\r\n \t", 0, kOk, "", ""},
        // Missing padding: the decoder's contract wants it.
        Base64Row{"OneByteUnpadded", "Zg", 0, kUnusable, kBadLength, ""},
        Base64Row{"TwoBytesUnpadded", "Zm8", 0, kUnusable, kBadLength, ""},
        Base64Row{"HalfPadded", "Zg=", 0, kUnusable, kBadLength, ""},
        Base64Row{"SingleDigit", "Z", 0, kUnusable, kBadLength, ""},
        Base64Row{"GroupAndOneDigit", "Zm9vY", 0, kUnusable, kBadLength, ""},
        // Foreign characters, the offset counted in the text as given.
        Base64Row{"Exclamation", "Zm9v!mFy", 0, kUnusable, badCharacter("'!'", 4), ""},
        Base64Row{"UrlSafeMinus", "Zm-v", 0, kUnusable, badCharacter("'-'", 2), ""},
        Base64Row{"UrlSafeUnderscore", "Zm_v", 0, kUnusable, badCharacter("'_'", 2), ""},
        Base64Row{"PercentEscapeIsNotDecodedHere", "Zg%3D%3D", 0, kUnusable,
                  badCharacter("'%'", 2), ""},
        Base64Row{"OffsetCountsWhiteSpace", "Zm9v\r\n.mFy", 0, kUnusable, badCharacter("'.'", 6),
                  ""},
        Base64Row{"Nul", std::string("Zm9v\0YmFy", 9), 0, kUnusable, badCharacter("0x00", 4), ""},
        Base64Row{"FormFeedIsNotWhiteSpaceHere", "Zm9v\fYmFy", 0, kUnusable,
                  badCharacter("0x0c", 4), ""},
        Base64Row{"VerticalTab", "Zm9v\vYmFy", 0, kUnusable, badCharacter("0x0b", 4), ""},
        Base64Row{"Utf8Letter", "Zm9v\xc3\xa9", 0, kUnusable, badCharacter("0xc3", 4), ""},
        Base64Row{"Delete", "\x7fZm9v", 0, kUnusable, badCharacter("0x7f", 0), ""},
        // Padding that is misplaced or followed by data.
        Base64Row{"PaddingAlone", "=", 0, kUnusable, badPadding(0), ""},
        Base64Row{"FourPaddings", "====", 0, kUnusable, badPadding(0), ""},
        Base64Row{"PaddingAfterOneDigit", "Z=", 0, kUnusable, kBadLength, ""},
        Base64Row{"ThreePaddings", "Z===", 0, kUnusable, badPadding(3), ""},
        Base64Row{"ThreePaddingsAfterTwoDigits", "Zg===", 0, kUnusable, badPadding(4), ""},
        Base64Row{"PaddingAfterAWholeGroup", "Zm9v=", 0, kUnusable, badPadding(4), ""},
        Base64Row{"SecondPaddingAfterThreeDigits", "Zm8==", 0, kUnusable, badPadding(4), ""},
        Base64Row{"DigitBetweenPaddings", "Zg=A", 0, kUnusable, dataAfterPadding(3), ""},
        Base64Row{"TwoPaddedGroups", "Zg==Zg==", 0, kUnusable, dataAfterPadding(4), ""},
        Base64Row{"GroupAfterPaddedGroup", "Zm8=Zm9v", 0, kUnusable, dataAfterPadding(4), ""},
        // Bits beyond the last byte must be zero: one text per byte string.
        Base64Row{"OneByteWithTrailingBits", "Zh==", 0, kUnusable, kUnusedBits, ""},
        Base64Row{"OneByteWithLowestTrailingBit", "QR==", 0, kUnusable, kUnusedBits, ""},
        Base64Row{"TwoBytesWithTrailingBits", "Zm9=", 0, kUnusable, kUnusedBits, ""},
        Base64Row{"TwoBytesCanonical", "Zm8=", 0, kOk, "", "fo"},
        // The size limit counts the text as given, white space included.
        Base64Row{"AtTheLimit", "Zm9vYmFy", 8, kOk, "", "foobar"},
        Base64Row{"OverTheLimitByALineBreak", "Zm9vYmFy\n", 8, kTooLarge,
                  "Base64 text is larger than 8 bytes", ""},
        Base64Row{"OverTheLimitBeforeAnyCheck", "!!!!!!!!!", 8, kTooLarge,
                  "Base64 text is larger than 8 bytes", ""}),
    RowName());

TEST_F(StrictBase64, DefaultLimitIsEightMebibytesOfText) {
    std::string text(kDefaultBase64Limit, 'A');
    const Outcome atLimit = outcomeOf(corvane::base64Decode(text));
    EXPECT_EQ(atLimit.status, kOk) << atLimit.message;
    EXPECT_EQ(atLimit.value, std::string(kDefaultBase64Limit / 4 * 3, '\0'));
    text += "\n";
    expectOutcome(outcomeOf(corvane::base64Decode(text)), kTooLarge,
                  "Base64 text is larger than 8388608 bytes", "");
}

TEST_F(StrictBase64, EncodeWritesOnePaddedLineTheDecoderTakesBack) {
    std::string every;
    for (int c = 0; c < 256; ++c) every += static_cast<char>(c);
    for (const std::string& bytes : {std::string(), std::string("f"), std::string("fo"),
                                     std::string("foo"), every, every + every.substr(0, 1)}) {
        const std::string text = corvane::base64Encode(bytes);
        EXPECT_EQ(text.size(), (bytes.size() + 2) / 3 * 4);
        EXPECT_EQ(text.find_first_of("\r\n"), std::string::npos);
        expectOutcome(outcomeOf(corvane::base64Decode(text)), kOk, "", bytes);
    }
    EXPECT_EQ(corvane::base64Encode("foobar"), "Zm9vYmFy");
    EXPECT_EQ(corvane::base64Encode("foob"), "Zm9vYg==");
}

// ---- The posted SAMLResponse value --------------------------------------------------

struct PostedRow {
    std::string name;
    std::string value;
    bool formEncoded;
    std::size_t maxBytes;  // 0: the default
    Status status;
    std::string message;
    std::string xml;
};
void PrintTo(const PostedRow& row, std::ostream* out) { *out << row.name; }

class PostedValue : public RecordingTest, public ::testing::WithParamInterface<PostedRow> {};

TEST_P(PostedValue, DecodesTheFormValueAsDocumented) {
    const PostedRow& row = GetParam();
    const Outcome got = outcomeOf(
        row.maxBytes == 0 ? corvane::decodePostedResponse(row.value, row.formEncoded)
                          : corvane::decodePostedResponse(row.value, row.formEncoded, row.maxBytes));
    expectOutcome(got, row.status, row.message, row.xml);
}

// "<r/>" in base64: "PHIvPg==".
INSTANTIATE_TEST_SUITE_P(
    Rows, PostedValue,
    ::testing::Values(
        PostedRow{"Plain", "PHIvPg==", false, 0, kOk, "", "<r/>"},
        PostedRow{"PlainWrapped", "PHIv\r\nPg==\r\n", false, 0, kOk, "", "<r/>"},
        PostedRow{"FormEncodedPadding", "PHIvPg%3D%3D", true, 0, kOk, "", "<r/>"},
        PostedRow{"FormEncodedLowerCaseHex", "PHIvPg%3d%3d", true, 0, kOk, "", "<r/>"},
        PostedRow{"FormEncodedLineBreaks", "PHIv%0D%0APg%3D%3D%0D%0A", true, 0, kOk, "", "<r/>"},
        PostedRow{"FormEncodedEveryCharacter", "%50%48%49%76%50%67%3D%3D", true, 0, kOk, "",
                  "<r/>"},
        // '+' is a space in a form body (skipped), a digit in plain base64:
        // "+/8=" is 0xfb 0xff.
        PostedRow{"PlusIsADigitInPlainBase64", "+/8=", false, 0, kOk, "", "\xfb\xff"},
        PostedRow{"EscapedPlusIsADigit", "%2B%2F8%3D", true, 0, kOk, "", "\xfb\xff"},
        PostedRow{"PlusIsASpaceInAFormBody", "+/8=", true, 0, kUnusable, kBadLength, ""},
        PostedRow{"PlusesBetweenGroups", "PHIv+Pg%3D%3D+", true, 0, kOk, "", "<r/>"},
        PostedRow{"PercentInPlainBase64", "PHIvPg%3D%3D", false, 0, kUnusable,
                  badCharacter("'%'", 6), ""},
        // Bad escapes, at the offset of their '%' in the form value.
        PostedRow{"EscapeCutAtTheEnd", "PHIv%3", true, 0, kUnusable, badEscape(4), ""},
        PostedRow{"PercentAtTheEnd", "PHIvPg==%", true, 0, kUnusable, badEscape(8), ""},
        PostedRow{"EscapeWithoutDigits", "%", true, 0, kUnusable, badEscape(0), ""},
        PostedRow{"FirstDigitNotHex", "PHIv%G0", true, 0, kUnusable, badEscape(4), ""},
        PostedRow{"SecondDigitNotHex", "PHIv%0G", true, 0, kUnusable, badEscape(4), ""},
        PostedRow{"DoublePercent", "PHIvPg%%3D", true, 0, kUnusable, badEscape(6), ""},
        PostedRow{"SecondBadEscapeAfterAGoodOne", "%3D%3", true, 0, kUnusable, badEscape(3), ""},
        // An escape is undone once: "%253D" is the text "%3D".
        PostedRow{"EscapedPercentStaysAPercent", "PHIvPg%253D%253D", true, 0, kUnusable,
                  badCharacter("'%'", 6), ""},
        // After the escapes are undone the offset is the base64 text's.
        PostedRow{"EscapedForeignCharacter", "%50%48%49%76%21", true, 0, kUnusable,
                  badCharacter("'!'", 4), ""},
        PostedRow{"EscapedNul", "PHIv%00Pg==", true, 0, kUnusable, badCharacter("0x00", 4), ""},
        // Nothing in it.
        PostedRow{"Empty", "", false, 0, kUnusable, kEmptyValue, ""},
        PostedRow{"EmptyFormValue", "", true, 0, kUnusable, kEmptyValue, ""},
        PostedRow{"OnlyLineBreaks", "\r\n\r\n", false, 0, kUnusable, kEmptyValue, ""},
        PostedRow{"OnlyPluses", "+++", true, 0, kUnusable, kEmptyValue, ""},
        PostedRow{"OnlyPadding", "====", false, 0, kUnusable, badPadding(0), ""},
        // The size limit: decoded bytes, and the text unread beyond
        // 4 * maxBytes + 64 characters.
        PostedRow{"AtTheLimit", "PHIvPg==", false, 4, kOk, "", "<r/>"},
        PostedRow{"OneByteOverTheLimit", "PHIvPg==", false, 3, kTooLarge, tooLarge(3), ""},
        PostedRow{"FormEncodedOverTheLimit", "PHIvPg%3D%3D", true, 3, kTooLarge, tooLarge(3), ""},
        PostedRow{"TextAtItsLimitIsRead", std::string(76, '\n'), false, 3, kUnusable, kEmptyValue,
                  ""},
        PostedRow{"TextOverItsLimitIsNotRead", std::string(77, '\n'), false, 3, kTooLarge,
                  tooLarge(3), ""},
        PostedRow{"BadTextOverItsLimitIsNotRead", std::string(77, '!'), true, 3, kTooLarge,
                  tooLarge(3), ""},
        // The bytes as they are: the XML checks come with the verification.
        PostedRow{"NotUtf8PassesThrough", "//48ci8+", false, 0, kOk, "", "\xff\xfe<r/>"},
        PostedRow{"NulPassesThrough", "PHI+ADwvcj4=", false, 0, kOk, "",
                  std::string("<r>\0</r>", 8)}),
    RowName());

TEST_F(PostedValue, DefaultLimitIsTwoMebibytesOfXml) {
    const std::string atLimit(kDefaultPostedLimit, '<');
    const Outcome accepted = outcomeOf(corvane::decodePostedResponse(
        corvane::base64Encode(atLimit), false));
    EXPECT_EQ(accepted.status, kOk) << accepted.message;
    EXPECT_EQ(accepted.value.size(), kDefaultPostedLimit);
    expectOutcome(
        outcomeOf(corvane::decodePostedResponse(corvane::base64Encode(atLimit + "<"), false)),
        kTooLarge, tooLarge(kDefaultPostedLimit), "");
    // Wrapped at 76 characters with CR LF, as IdPs post it: still within.
    std::string wrapped;
    const std::string text = corvane::base64Encode(atLimit);
    for (std::size_t at = 0; at < text.size(); at += 76) wrapped += text.substr(at, 76) + "\r\n";
    EXPECT_EQ(outcomeOf(corvane::decodePostedResponse(wrapped, false)).status, kOk);
}

// ---- The posted login, end to end ------------------------------------------------------

class PostedLogin : public RecordingTest {
protected:
    void SetUp() override {
        RecordingTest::SetUp();
        const Result<corvane::KeyPtr> cert = corvane::Key::loadCertificate(idpCert());
        ASSERT_TRUE(cert.ok()) << cert.message();
        expectations_ = loginExpectations(cert.value());
        signedLogin_ = signedLoginResponse();
        Recorder::reset();
    }
    Outcome verify(const std::string& value, bool formEncoded) {
        const Result<corvane::VerifiedLogin> login =
            corvane::verifyPostedLoginResponse(value, expectations_, formEncoded);
        EXPECT_EQ(login.ok(), login.message().empty());
        EXPECT_TRUE(Recorder::everything().empty()) << "a message reached the documented callbacks";
        return Outcome{login.status(), login.message(), login.ok() ? login.value().nameId : ""};
    }
    corvane::LoginExpectations expectations_;
    std::string signedLogin_;
};

TEST_F(PostedLogin, EveryPostedFormOfTheSignedLoginVerifies) {
    const std::string text = corvane::base64Encode(signedLogin_);
    std::string wrapped;
    for (std::size_t at = 0; at < text.size(); at += 64) wrapped += text.substr(at, 64) + "\r\n";
    expectOutcome(verify(text, false), kOk, "", kLoginNameId);
    expectOutcome(verify(wrapped, false), kOk, "", kLoginNameId);
    expectOutcome(verify(corvane_samples::formEncoded(wrapped), true), kOk, "", kLoginNameId);
}

TEST_F(PostedLogin, RefusalsOfTheValueComeBeforeTheVerification) {
    const std::string text = corvane::base64Encode(signedLogin_);
    // Not form-encoded, an escaped value is not base64.
    const std::string escaped = corvane_samples::formEncoded(text);
    ASSERT_NE(escaped.find('%'), std::string::npos);
    expectOutcome(verify(escaped, false), kUnusable,
                  badCharacter("'%'", escaped.find('%')), "");
    // The limit is maxMessageBytes of XML.
    expectations_.maxMessageBytes = signedLogin_.size();
    expectOutcome(verify(text, false), kOk, "", kLoginNameId);
    expectations_.maxMessageBytes = signedLogin_.size() - 1;
    expectOutcome(verify(text, false), kTooLarge, tooLarge(signedLogin_.size() - 1), "");
}

TEST_F(PostedLogin, DecodedBytesThatAreNotOneUtf8DocumentAreUnusable) {
    const std::vector<std::pair<std::string, std::string>> rows = {
        {"\xff\xfe" + signedLogin_, "SAML token must be encoded in UTF-8"},
        {std::string("<r>\0</r>", 8), "SAML token must not contain NUL characters"},
        {"<r>\xc3\x28</r>", "SAML token must be encoded in UTF-8"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.second);
        expectOutcome(verify(corvane::base64Encode(row.first), false), kUnusable, row.second, "");
    }
}

// ---- The auto-submitting form ----------------------------------------------------------

const char kAction[] = "https://idp.example.test/sso";

const std::string kPageStart =
    "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"/><title>Signing in</title></head>\n"
    "<body>\n<form method=\"post\" action=\"";
const std::string kPageEnd =
    "<noscript><p>Scripts are off: press the button to continue signing in.</p>"
    "<button type=\"submit\">Continue</button></noscript>\n</form>\n"
    "<script>document.forms[0].submit();</script>\n</body></html>\n";

class PostForm : public RecordingTest {};

TEST_F(PostForm, PlainPageIsExactlyTheFormTheScriptAndTheButton) {
    expectOutcome(outcomeOf(corvane::postForm(kAction, "<r/>", "")), kOk, "",
                  kPageStart + kAction + "\">\n" +
                      "<input type=\"hidden\" name=\"SAMLRequest\" value=\"PHIvPg==\"/>\n" +
                      kPageEnd);
    expectOutcome(outcomeOf(corvane::postForm(kAction, "<r/>", "s1")), kOk, "",
                  kPageStart + kAction + "\">\n" +
                      "<input type=\"hidden\" name=\"SAMLRequest\" value=\"PHIvPg==\"/>\n" +
                      "<input type=\"hidden\" name=\"RelayState\" value=\"s1\"/>\n" + kPageEnd);
}

TEST_F(PostForm, AttributeValuesAreEscapedSoNothingLeavesThem) {
    const std::string action = "https://idp.example.test/sso?a=1&b=\"2\"<x>'y'";
    const std::string relayState = "\"><script>alert(1)</script>&amp;'";
    const Outcome got = outcomeOf(corvane::postForm(action, "<r/>", relayState));
    ASSERT_EQ(got.status, kOk) << got.message;
    expectOutcome(
        got, kOk, "",
        kPageStart +
            "https://idp.example.test/sso?a=1&amp;b=&quot;2&quot;&lt;x&gt;&#39;y&#39;\">\n" +
            "<input type=\"hidden\" name=\"SAMLRequest\" value=\"PHIvPg==\"/>\n" +
            "<input type=\"hidden\" name=\"RelayState\" "
            "value=\"&quot;&gt;&lt;script&gt;alert(1)&lt;/script&gt;&amp;amp;&#39;\"/>\n" +
            kPageEnd);
    // The one script is the page's own.
    EXPECT_EQ(got.value.find("<script>"), got.value.rfind("<script>"));
}

TEST_F(PostForm, TheRequestIsCarriedInBase64WhateverItsBytes) {
    const std::string request = std::string("<r a=\"\"/>\0\xff", 11);
    const Outcome got = outcomeOf(corvane::postForm(kAction, request, ""));
    ASSERT_EQ(got.status, kOk) << got.message;
    const std::string value = "value=\"" + corvane::base64Encode(request) + "\"";
    EXPECT_NE(got.value.find(value), std::string::npos) << got.value;
    expectOutcome(outcomeOf(corvane::base64Decode(corvane::base64Encode(request))), kOk, "",
                  request);
}

struct FormRow {
    std::string name;
    std::string action, request, relayState;
    std::string message;  // empty: accepted
};
void PrintTo(const FormRow& row, std::ostream* out) { *out << row.name; }

class PostFormOptions : public RecordingTest, public ::testing::WithParamInterface<FormRow> {};

TEST_P(PostFormOptions, RefusedWithTheirMessageBesideAcceptedNeighbours) {
    const FormRow& row = GetParam();
    const Outcome got = outcomeOf(corvane::postForm(row.action, row.request, row.relayState));
    if (row.message.empty()) {
        EXPECT_EQ(got.status, kOk) << got.message;
        EXPECT_EQ(got.value.rfind(kPageStart, 0), 0u);
    } else {
        expectOutcome(got, Status::BadOptions, row.message, "");
    }
}

const char kNotHttp[] = "POST form action must be an http or https URL";

INSTANTIATE_TEST_SUITE_P(
    Rows, PostFormOptions,
    ::testing::Values(
        FormRow{"Https", kAction, "<r/>", "", ""},
        FormRow{"Http", "http://idp.example.test/sso", "<r/>", "", ""},
        FormRow{"EmptyAction", "", "<r/>", "", kNotHttp},
        FormRow{"JavascriptAction", "javascript:alert(1)", "<r/>", "", kNotHttp},
        FormRow{"DataAction", "data:text/html,<b>x</b>", "<r/>", "", kNotHttp},
        FormRow{"SchemeRelativeAction", "//idp.example.test/sso", "<r/>", "", kNotHttp},
        FormRow{"LeadingSpaceAction", " https://idp.example.test/sso", "<r/>", "", kNotHttp},
        FormRow{"EmptyRequest", kAction, "", "", "POST form SAML request is empty"},
        FormRow{"RelayStateOf80Bytes", kAction, "<r/>", std::string(80, 'r'), ""},
        FormRow{"RelayStateOf81Bytes", kAction, "<r/>", std::string(81, 'r'),
                "RelayState is longer than 80 bytes"},
        FormRow{"RelayStateWithLineBreak", kAction, "<r/>", "a\nb", ""},
        FormRow{"RelayStateWithControlCharacter", kAction, "<r/>", "a\x01",
                "POST form RelayState holds characters that XML can not carry"},
        FormRow{"RelayStateNotUtf8", kAction, "<r/>", "a\xff",
                "POST form RelayState holds characters that XML can not carry"},
        FormRow{"RelayStateWithNul", kAction, "<r/>", std::string("a\0b", 3),
                "POST form RelayState holds characters that XML can not carry"},
        FormRow{"ActionWithControlCharacter", "https://idp.example.test/\x1b", "<r/>", "",
                "POST form action holds characters that XML can not carry"},
        FormRow{"ActionWithUtf8", "https://idp.example.test/\xc3\xa9", "<r/>", "", ""}),
    RowName());

}  // namespace
