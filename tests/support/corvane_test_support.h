// Shared helpers of the corvane test binaries: recording callbacks, the
// process-wide library start-up, fixture loading and signing with the test
// IdP key through the library's own signDocument.
#ifndef CORVANE_TEST_SUPPORT_H
#define CORVANE_TEST_SUPPORT_H

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "Corvane.h"

namespace corvane_test {

struct LogLine {
    int level;
    std::string message;
};

// What the three recording callbacks received since the last reset().
class Recorder {
public:
    static void reset();
    static const std::vector<LogLine>& log();
    static const std::vector<std::string>& errors();
    // Messages of the log lines with this level, in order.
    static std::vector<std::string> logAt(int level);
    // Every log and error message, for "must never appear" checks.
    static std::vector<std::string> everything();
    static bool anyMessageContains(const std::string& needle);

    // The ID callback appends the next queued ID (or a numbered default)
    // to the string it is given, and remembers where that string lived.
    static void queueId(const std::string& id);
    static int idCalls();
    static const std::string* lastIdTarget();
};

void recordLog(int level, const std::string& message);
void recordError(const std::string& message);
void supplyId(std::string& id);

// Obtains the helper with the recording callbacks and starts the libraries
// once per process; finiHelper runs when the test program ends. Holds no
// pointer to the helper in between.
class LibraryEnvironment : public ::testing::Environment {
public:
    void SetUp() override;
    void TearDown() override;
};

// Names a parameterized test after its row's `name` member.
struct RowName {
    template <typename Row>
    std::string operator()(const ::testing::TestParamInfo<Row>& row) const {
        return row.param.name;
    }
};

// Base fixture: each test starts with an empty recorder.
class RecordingTest : public ::testing::Test {
protected:
    void SetUp() override { Recorder::reset(); }
};

// Tomorrow's date (UTC) as "YYYY-MM-DD", and noon of such a day in
// seconds since the epoch: for responses that a server checks against its
// own clock (Redis expiries) and must find in the future.
std::string tomorrowUtc();
long long noonUtc(const std::string& day);

std::string fixturePath(const std::string& name);
std::string readFixture(const std::string& name);
std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& text);

std::string idpKey();
std::string idpCert();
std::string spKey();
std::string spCert();
std::string spKeyAndCert();

// Replaces every occurrence; fails the test when `from` does not occur.
std::string replaceAll(std::string text, const std::string& from, const std::string& to);
// Removes the text from the first `begin` through the end of the next `end`.
std::string cutOut(const std::string& text, const std::string& begin, const std::string& end);

enum class SigAlg { RsaSha1, RsaSha256 };
// An empty enveloped ds:Signature template (exc-c14n, no KeyInfo).
std::string signatureTemplate(const std::string& referenceUri = "", SigAlg alg = SigAlg::RsaSha1);

// The unsigned response fixture with its NameID text filled in.
std::string responseTemplate(const std::string& nameIdText = "alice@example.test");
// Signs with the test IdP key through corvane::signDocument (failing the
// test when that fails) and clears the recorder afterwards, so a test sees
// only what its own call reports.
std::string signWithIdpKey(const std::string& unsignedXml);
// A signed response whose NameID text is nameIdText.
std::string signedResponse(const std::string& nameIdText = "alice@example.test");

// The base64 body lines of every PEM private-key block in pemText.
std::vector<std::string> privateKeyBodyLines(const std::string& pemText);
// pemText with each private-key block replaced by the withheld marker, as
// the signing context's level-3 line carries it (before length limiting).
std::string withPrivateKeysWithheld(const std::string& pemText);
// The text content of every element with this local name, in document
// order (libxml2 parse without entity loading); fails the test when the
// text does not parse.
std::vector<std::string> elementTexts(const std::string& xml, const std::string& localName);

// Runs program with args (no shell), its standard output and error going
// to the file logPath, whose text lands in *output; the exit status, or
// 128 when it did not exit.
int runProgram(const std::string& program, std::vector<std::string> args,
               const std::string& logPath, std::string* output);

// What writeToLog makes of a text: cut at 1023 characters plus "...".
std::string limitedMessage(const std::string& text);

extern const char* const kWithheldMarker;

}  // namespace corvane_test

#endif
