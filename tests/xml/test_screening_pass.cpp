// The screening's pass over every byte: NUL refused before any other
// character wherever it stands, the first character problem reported
// otherwise; and the attribute bound it reads for the parse, which must
// refuse exactly what the parse's own pass refuses.
#include <string>
#include <vector>

#include <libxml/tree.h>

#include "corvane_test_support.h"
#include "frame/handles.h"
#include "xml/limits.h"
#include "xml/parse.h"
#include "xml/screening.h"

namespace {

using namespace corvane_test;
using namespace corvane::internal;

const std::string kNul = "SAML token must not contain NUL characters";
const std::string kNotUtf8 = "SAML token must be encoded in UTF-8";
const std::string kBadCharacter = "SAML token contains a character that XML does not allow";

std::string withText(const std::string& text) { return "<r>" + text + "</r>"; }

TEST_F(RecordingTest, ScreeningReportsNulFirstThenTheFirstCharacterProblem) {
    struct Row {
        const char* name;
        std::string text;
        std::string message;  // empty: passes
    };
    const std::string nul(1, '\0');
    const std::vector<Row> rows = {
        {"PlainAsciiPasses", withText("alice@example.test\t\r\n~\x7F"), ""},
        {"NulAlone", withText("a" + nul + "b"), kNul},
        {"NulAfterBadUtf8StillNul", withText("\xC3(" + std::string("x") + nul), kNul},
        {"NulAfterBadCharacterStillNul", withText("\x01" + nul), kNul},
        {"NulAtTheEndStillNul", withText("\xFF") + nul, kNul},
        {"BadUtf8WithoutNul", withText("\xC3("), kNotUtf8},
        {"TruncatedSequenceAtTheEnd", "<r/>\xE2\x82", kNotUtf8},
        {"OverlongForm", withText("\xC0\xAF"), kNotUtf8},
        {"Surrogate", withText("\xED\xA0\x80"), kNotUtf8},
        {"AboveU10FFFF", withText("\xF4\x90\x80\x80"), kNotUtf8},
        {"BadUtf8BeforeBadCharacter", withText("\xFF\x01"), kNotUtf8},
        {"BadCharacterBeforeBadUtf8", withText("\x01\xFF"), kBadCharacter},
        {"ControlCharacter", withText("\x1B"), kBadCharacter},
        {"UFFFE", withText("\xEF\xBF\xBE"), kBadCharacter},
        {"ByteOrderMarkFirstPasses", "\xEF\xBB\xBF<r/>", ""},
        {"ByteOrderMarkLater", withText("\xEF\xBB\xBF"), kBadCharacter},
        {"MultiByteCharactersPass", withText("zo\xC3\xAB \xE2\x82\xAC \xF0\x9F\x98\x80"), ""},
        {"MarkupBytesInTextPass", withText("a=b 'c' \"d\" &gt;"), ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Recorder::reset();
        ScreenedText screened;
        EXPECT_EQ(screenResponseText(row.text, &screened), row.message.empty());
        EXPECT_EQ(screened.screened(), row.message.empty());
        EXPECT_EQ(Recorder::errors(), row.message.empty() ? std::vector<std::string>()
                                                          : std::vector<std::string>{row.message});
    }
}

// n attributes a0="v" ... on one start tag named name.
std::string tagWithAttributes(const std::string& name, int n, const std::string& value = "v") {
    std::string tag = "<" + name;
    for (int i = 0; i < n; ++i) tag += " a" + std::to_string(i) + "=\"" + value + "\"";
    return tag + "/>";
}

TEST_F(RecordingTest, ScreenedParseRefusesExactlyWhatTheFullParseRefuses) {
    struct Row {
        const char* name;
        std::string text;
        bool screens;  // the screening passes it (its own attribute count)
        bool parses;
    };
    const int bound = kMaxAttributesPerElement;
    const std::vector<Row> rows = {
        {"AtTheBound", withText(tagWithAttributes("x", bound)), true, true},
        {"OnePastTheBound", withText(tagWithAttributes("x", bound + 1)), false, false},
        // The screening takes "<:" for an unknown node; the bound counts it.
        {"ColonNameWithinTheBound", withText(tagWithAttributes(":x", 3)), true, true},
        {"ColonNamePastTheBound", withText(tagWithAttributes(":x", bound + 1)), true, false},
        // The bound counts start tags in comments too, as the parse's pass does.
        {"InACommentPastTheBound", withText("<!--" + tagWithAttributes("x", bound + 1) + "-->"),
         true, false},
        {"InACommentWithinTheBound", withText("<!--" + tagWithAttributes("x", 3) + "-->"), true,
         true},
        {"InCdataPastTheBound", withText("<![CDATA[" + tagWithAttributes("x", bound + 1) + "]]>"),
         true, false},
        // '=' and '>' inside quoted values are not counted.
        {"EqualsInValuesWithinTheBound", withText(tagWithAttributes("x", bound, "a=b>c")), true,
         true},
        {"EqualsInTextNotCounted", withText(std::string(2 * bound, '=')), true, true},
        {"NonAsciiNamePastTheBound", withText(tagWithAttributes("\xC3\xA9", bound + 1)), false,
         false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ScreenedText screened;
        EXPECT_EQ(screenResponseText(row.text, &screened), row.screens);
        XmlDocPtr whole(parseXmlSafely(row.text));
        EXPECT_EQ(whole != nullptr, row.parses);
        if (!row.screens) continue;
        XmlDocPtr afterScreening(parseScreenedXml(screened));
        EXPECT_EQ(afterScreening != nullptr, row.parses);
    }
}

TEST_F(RecordingTest, MetadataScreeningFeedsTheScreenedParseToo) {
    // Past the bound where only the parse's bound counts (see above).
    const std::string text = withText(tagWithAttributes(":x", kMaxAttributesPerElement + 1));
    ScreenedText screened;
    ASSERT_TRUE(screenText(text, kMetadataScreening, &screened));
    EXPECT_EQ(XmlDocPtr(parseScreenedXml(screened)), nullptr);
    const std::string honest = withText(tagWithAttributes(":x", 2));
    ASSERT_TRUE(screenText(honest, kMetadataScreening, &screened));
    EXPECT_NE(XmlDocPtr(parseScreenedXml(screened)), nullptr);
}

}  // namespace
