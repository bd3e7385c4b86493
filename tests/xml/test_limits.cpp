// The bounds every parse and the response screening apply: namespace
// declarations per element and in scope, the resolution work a text may
// need, the message size; the time stamps the library reads and the clock
// clamped to them; libxml2's diagnostics in the log. Cost rows count work
// (the declarations or steps at which a text is refused), never time.
#include <climits>
#include <functional>
#include <string>
#include <vector>

#include <libxml/globals.h>
#include <libxml/xmlerror.h>

#include "corvane_test_support.h"
#include "xml/diagnostics.h"
#include "xml/limits.h"
#include "xml/parse.h"
#include "xml/screening.h"
#include "xml/time.h"

namespace {

using namespace corvane_test;
using namespace corvane::internal;

const char kTooManyDeclarationsLog[] =
    "XML parse stopped: an element declares more than 64 namespaces";
const char kTooManyInScopeLog[] = "XML parse stopped: more than 2048 namespace declarations in scope";

std::string repeat(const std::string& s, size_t n) {
    std::string out;
    for (size_t i = 0; i < n; ++i) out += s;
    return out;
}

// " xmlns:p<tag>_<k>='urn:k'" for k below count.
std::string declarations(int tag, int count) {
    std::string out;
    for (int k = 0; k < count; ++k)
        out += " xmlns:p" + std::to_string(tag) + "_" + std::to_string(k) + "=\"urn:" +
               std::to_string(k) + "\"";
    return out;
}

// `depth` nested <e> elements, each declaring `perElement` prefixes,
// with `leaves` prefixed elements (prefix of the outermost declaration,
// and one prefixed attribute each) at the bottom.
std::string nestedBody(int depth, int perElement, size_t leaves) {
    std::string open, close;
    for (int d = 0; d < depth; ++d) {
        open += "<e" + declarations(d, perElement) + ">";
        close += "</e>";
    }
    return open + repeat("<p0_0:x p0_0:a=\"\"/>", leaves) + close;
}
std::string nestedDeclarations(int depth, int perElement, size_t leaves) {
    return "<r>" + nestedBody(depth, perElement, leaves) + "</r>";
}
// 2048 declarations in scope at the leaf, and one more on an element there.
std::string oneMoreInScope() {
    return replaceAll(nestedDeclarations(32, 64, 1), "<p0_0:x", "<y xmlns:q=\"urn:q\"/><p0_0:x");
}

bool parses(const std::string& text) {
    Recorder::reset();
    xmlDoc* doc = parseXmlSafely(text);
    const bool parsed = doc != nullptr;
    xmlFreeDoc(doc);
    return parsed;
}

struct BoundRow {
    std::string name;
    std::function<std::string()> text;
    std::string refusal;  // the level-3 line; empty: parses
};
void PrintTo(const BoundRow& row, std::ostream* os) { *os << row.name; }

class NamespaceBoundsOfEveryParse : public RecordingTest,
                                    public ::testing::WithParamInterface<BoundRow> {};

TEST_P(NamespaceBoundsOfEveryParse, RefusedAtTheBoundAndNotBefore) {
    const BoundRow& row = GetParam();
    const bool parsed = parses(row.text());
    bool logged = false;
    for (const std::string& line : Recorder::logAt(3)) logged = logged || line == row.refusal;
    if (row.refusal.empty()) {
        EXPECT_TRUE(parsed);
        EXPECT_TRUE(Recorder::everything().empty());
    } else {
        EXPECT_FALSE(parsed);
        EXPECT_TRUE(logged) << "expected the log line: " << row.refusal;
    }
}

const std::vector<BoundRow> kBoundRows = {
    {"SixtyFourDeclarationsOnOneElement", [] { return "<r" + declarations(0, 64) + "/>"; }, ""},
    {"SixtyFiveDeclarationsOnOneElement", [] { return "<r" + declarations(0, 65) + "/>"; },
     kTooManyDeclarationsLog},
    {"TwoThousandFortyEightInScope", [] { return nestedDeclarations(32, 64, 1); }, ""},
    {"OneMoreInScope", oneMoreInScope, kTooManyInScopeLog},
    {"SiblingsDeclarationsLeaveScopeWithThem",
     [] { return "<r>" + nestedBody(32, 64, 1) + nestedBody(32, 64, 1) + "</r>"; }, ""},
    {"TwoHundredFiftyByTwoHundredFifty", [] { return nestedDeclarations(250, 250, 10); },
     kTooManyDeclarationsLog},
    // 250 x 5 declarations in scope with twenty names below: honest
    // enough, well within the resolution budget.
    {"TwoHundredFiftyByFiveWithNamesBelow", [] { return nestedDeclarations(250, 5, 20); }, ""},
    // The same with 1.3 MB of names below: each would be resolved through
    // 1,250 declarations and 250 ancestors.
    {"TwoHundredFiftyByFiveWithAMegabyteOfNamesBelow",
     [] { return nestedDeclarations(250, 5, 70000); },
     "XML parse stopped: its names need more than " +
         std::to_string(resolutionStepBudget(nestedDeclarations(250, 5, 70000).size())) +
         " namespace resolution steps"},
    // Declarations in an internal entity's replacement text count as well.
    {"DeclarationsInsideAnEntity",
     [] {
         return "<!DOCTYPE r [<!ENTITY e '<e" + replaceAll(declarations(0, 65), "\"", "&#34;") +
                "/>'>]><r>&e;</r>";
     },
     kTooManyDeclarationsLog},
};
INSTANTIATE_TEST_SUITE_P(Parse, NamespaceBoundsOfEveryParse, ::testing::ValuesIn(kBoundRows),
                         RowName());

// The budget: a fixed allowance plus a few steps per byte.
TEST(ResolutionBudget, IsLinearInTheText) {
    EXPECT_EQ(resolutionStepBudget(0), kResolutionStepsAllowance);
    EXPECT_EQ(resolutionStepBudget(kDefaultMaxMessageBytes),
              kResolutionStepsAllowance + kResolutionStepsPerByte * 2 * 1024 * 1024);
}

// ---- The response screening: the same bounds, with the position.

std::string malformedAt(const std::string& text, const std::string& marker, const char* what) {
    const size_t at = text.find(marker);
    EXPECT_NE(at, std::string::npos) << marker;
    return std::string("Malformed XML in SAML token: ") + what +
           " line: 1 col: " + std::to_string(at + 1);
}

TEST_F(RecordingTest, ScreeningRefusesEachNamespaceBoundWithItsPosition) {
    struct Row {
        std::string text;
        std::string message;  // empty: passes
    };
    const std::string perElement = "<r" + declarations(0, 65) + "/>";
    const std::string inScope = oneMoreInScope();
    const std::string hostile = nestedDeclarations(250, 250, 10);
    const std::string costly = nestedDeclarations(250, 5, 70000);
    // The first leaf whose names take the steps past the budget. A tag
    // costs its depth for itself and each attribute (declarations too),
    // plus the declarations in scope (its own included) for itself and
    // each prefixed attribute: the e at d (under r) 6(d + 1) + 5(d + 1),
    // each leaf 2 x 251 + 2 x 1250.
    long long steps = 0;
    for (long long d = 0; d < 250; ++d) steps += 11 * (d + 1);
    const long long leavesWithin = (resolutionStepBudget(costly.size()) - steps) / 3002;
    const size_t leafAt = costly.find("<p0_0:x") + 19 * static_cast<size_t>(leavesWithin);
    const std::vector<Row> rows = {
        {"<r" + declarations(0, 64) + "/>", ""},
        {perElement, malformedAt(perElement, "<r", "element declares too many namespaces")},
        {nestedDeclarations(32, 64, 1), ""},
        {inScope, malformedAt(inScope, "<y", "too many namespace declarations in scope")},
        {"<r>" + nestedBody(32, 64, 1) + nestedBody(32, 64, 1) + "</r>", ""},
        {hostile, malformedAt(hostile, "<e", "element declares too many namespaces")},
        {nestedDeclarations(250, 5, 20), ""},
        {costly, "Malformed XML in SAML token: names need too many namespace resolution steps "
                 "line: 1 col: " +
                     std::to_string(leafAt + 1)},
    };
    for (const Row& row : rows) {
        Recorder::reset();
        EXPECT_EQ(screenResponseText(row.text), row.message.empty()) << row.text.substr(0, 100);
        const std::vector<std::string> expected =
            row.message.empty() ? std::vector<std::string>() : std::vector<std::string>{row.message};
        EXPECT_EQ(Recorder::errors(), expected);
    }
}

TEST_F(RecordingTest, ScreeningBoundsTheElementsAndAttributesOfAMessage) {
    // The root, then children of one attribute each (two nodes per child).
    const auto children = [](long nodes) {
        return "<r>" + repeat("<x a=\"1\"/>", static_cast<size_t>((nodes - 1) / 2)) + "</r>";
    };
    const std::string atTheBound = children(kMaxNodesPerMessage);
    const std::string pastTheBound = children(kMaxNodesPerMessage + 2);
    // The same number of bytes in text does not count.
    const std::string textual = "<r>" + std::string(pastTheBound.size(), 't') + "</r>";
    struct Row {
        const char* name;
        const std::string& text;
        std::string message;  // empty: passes
    };
    const size_t lastChild = pastTheBound.rfind("<x");
    const std::vector<Row> rows = {
        {"AtTheBound", atTheBound, ""},
        {"OneChildPast", pastTheBound,
         "Malformed XML in SAML token: too many elements and attributes line: 1 col: " +
             std::to_string(lastChild + 1)},
        {"TextOfTheSameSize", textual, ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Recorder::reset();
        EXPECT_EQ(screenResponseText(row.text), row.message.empty());
        EXPECT_EQ(Recorder::errors(), row.message.empty() ? std::vector<std::string>()
                                                          : std::vector<std::string>{row.message});
    }
}

// ---- The size limit.

TEST_F(RecordingTest, SizeLimitAdmitsTheLimitAndRefusesOneByteMore) {
    const std::string atLimit(1000, 'x');
    EXPECT_TRUE(messageWithinSizeLimit(atLimit, 1000));
    EXPECT_TRUE(Recorder::errors().empty());
    EXPECT_FALSE(messageWithinSizeLimit(atLimit + "x", 1000));
    EXPECT_EQ(Recorder::errors(), std::vector<std::string>{
                                      "SAML message of 1001 bytes is larger than the limit of "
                                      "1000 bytes"});
    EXPECT_EQ(kDefaultMaxMessageBytes, 2u * 1024 * 1024);
}

// ---- Time stamps and the clock.

long long instant(const std::string& text) {
    long long seconds = 0;
    bool fractional = false;
    EXPECT_TRUE(parseDateTime(text, &seconds, &fractional)) << text;
    return seconds;
}

TEST(TimeStamps, ZoneOffsetsUpToFourteenHours) {
    struct Row {
        const char* text;
        bool read;
    };
    const Row rows[] = {
        {"2024-03-01T12:00:00+14:00", true},  {"2024-03-01T12:00:00-14:00", true},
        {"2024-03-01T12:00:00+13:59", true},  {"2024-03-01T12:00:00+14:01", false},
        {"2024-03-01T12:00:00-14:01", false}, {"2024-03-01T12:00:00+14:59", false},
        {"2024-03-01T12:00:00+15:00", false}, {"2024-03-01T12:00:00+00:60", false},
        {"0001-01-01T00:00:00Z", true},       {"0000-12-31T00:00:00Z", false},
        {"9999-12-31T24:00:00Z", true},
    };
    for (const Row& row : rows) {
        long long seconds = 0;
        bool fractional = false;
        EXPECT_EQ(parseDateTime(row.text, &seconds, &fractional), row.read) << row.text;
    }
    EXPECT_EQ(instant("2024-03-01T12:00:00+14:00"), instant("2024-02-29T22:00:00Z"));
}

TEST(TimeStamps, ClockIsClampedToTheInstantsTimeStampsCanName) {
    const long long earliest = instant("0001-01-01T00:00:00+14:00");
    const long long latest = instant("9999-12-31T24:00:00-14:00");
    EXPECT_EQ(clampToReadableInstants(LLONG_MAX), latest);
    EXPECT_EQ(clampToReadableInstants(latest + 1), latest);
    EXPECT_EQ(clampToReadableInstants(latest), latest);
    EXPECT_EQ(clampToReadableInstants(LLONG_MIN), earliest);
    EXPECT_EQ(clampToReadableInstants(earliest - 1), earliest);
    EXPECT_EQ(clampToReadableInstants(0), 0);
    EXPECT_EQ(clampToReadableInstants(1709294400), 1709294400);
}

// ---- libxml2's diagnostics.

int hostReports = 0;
void hostGeneric(void*, const char*, ...) { ++hostReports; }
void hostStructured(void*, xmlError*) { ++hostReports; }

TEST_F(RecordingTest, DiagnosticsGoToTheLogAndTheHostsHandlersComeBack) {
    int hostContext = 0;
    xmlSetGenericErrorFunc(&hostContext, hostGeneric);
    xmlSetStructuredErrorFunc(&hostContext, hostStructured);
    {
        LibxmlDiagnosticsToLog diagnostics(1);
        xmlGenericError(xmlGenericErrorContext, "C14N error : %s", "first\rpart");
        xmlGenericError(xmlGenericErrorContext, " of a line\n");
        for (int i = 0; i < 20; ++i) xmlGenericError(xmlGenericErrorContext, "line %d\n", i);
    }
    EXPECT_EQ(xmlGenericError, hostGeneric);
    EXPECT_EQ(xmlGenericErrorContext, &hostContext);
    EXPECT_EQ(xmlStructuredError, hostStructured);
    EXPECT_EQ(xmlStructuredErrorContext, &hostContext);
    xmlSetGenericErrorFunc(nullptr, nullptr);
    xmlSetStructuredErrorFunc(nullptr, nullptr);
    EXPECT_EQ(hostReports, 0);
    std::vector<std::string> expected = {"libxml2: C14N error : first\\rpart of a line"};
    for (int i = 0; i < 15; ++i) expected.push_back("libxml2: line " + std::to_string(i));
    expected.push_back("libxml2: further diagnostics of this call dropped");
    EXPECT_EQ(Recorder::logAt(1), expected);
    EXPECT_TRUE(Recorder::errors().empty());
}

TEST_F(RecordingTest, ParserDiagnosticsGoToTheLogAtLevelThreeNotStderr) {
    ::testing::internal::CaptureStderr();
    const bool parsed = parses("<r><a></r>");
    const std::string stderrText = ::testing::internal::GetCapturedStderr();
    EXPECT_FALSE(parsed);
    EXPECT_EQ(stderrText, "");
    const std::vector<std::string> lines = Recorder::logAt(3);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines[0].rfind("libxml2: Opening and ending tag mismatch: a line 1 and r", 0), 0u)
        << lines[0];
}

}  // namespace
