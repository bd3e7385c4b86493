// The corvane tool driven as a child process: its exit status, standard
// output and standard error for every command on success and for each
// class of bad input. Failures of the library are compared with what the
// same library call reports in this process, so the tool is checked for
// passing on every error message, in order, with the matching status.
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <ctime>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include "Corvane.h"
#include <corvane/corvane.h>
#include "cli_under_test.h"
#include "corvane_test_support.h"
#include "redis_server.h"
#include "json_object.h"
#include "subprocess.h"

namespace {

using corvane_cli_test::Finished;
using corvane_test::Recorder;

const char kDestination[] = "https://idp.example.test/sso";
const char kIssuer[] = "https://sp.example.test/metadata";
const char kUser[] = "alice@example.test";

std::vector<std::string> toolCommand() { return CORVANE_CLI_COMMAND; }

// Runs the tool with these arguments and standard input. Whatever the
// arguments, the tool must end by itself with an exit status.
Finished corvane(const std::vector<std::string>& args, const std::string& input = "") {
    std::vector<std::string> argv = toolCommand();
    argv.insert(argv.end(), args.begin(), args.end());
    Finished run = corvane_cli_test::runProcess(argv, input);
    EXPECT_TRUE(run.exited) << "not a normal exit: signal " << run.signal << " " << run.problem;
    return run;
}

std::string spKeyPath() { return corvane_test::fixturePath("test-sp-key-and-cert.pem"); }
std::string idpCertPath() { return corvane_test::fixturePath("test-idp-cert.pem"); }

std::vector<std::string> requestArgs() {
    return {"request", "--destination", kDestination, "--issuer", kIssuer, "--key", spKeyPath()};
}

std::string base64(const std::string& bytes) {
    std::string text(4 * ((bytes.size() + 2) / 3) + 1, '\0');
    const int length = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(&text[0]),
                                       reinterpret_cast<const unsigned char*>(bytes.data()),
                                       static_cast<int>(bytes.size()));
    text.resize(static_cast<std::size_t>(length));
    return text;
}

// Decodes one unbroken base64 line; fails the test when it is not one.
std::string unbase64(const std::string& text) {
    std::string bytes(text.size() / 4 * 3, '\0');
    const int length = EVP_DecodeBlock(reinterpret_cast<unsigned char*>(&bytes[0]),
                                       reinterpret_cast<const unsigned char*>(text.data()),
                                       static_cast<int>(text.size()));
    EXPECT_GE(length, 0) << "not base64: " << text;
    if (length < 0) return "";
    std::size_t padding = 0;
    for (auto it = text.rbegin(); it != text.rend() && *it == '='; ++it) ++padding;
    bytes.resize(static_cast<std::size_t>(length) - padding);
    return bytes;
}

std::string wrapLines(const std::string& text, std::size_t width, const std::string& lineBreak) {
    std::string wrapped;
    for (std::size_t at = 0; at < text.size(); at += width) {
        wrapped += text.substr(at, width) + lineBreak;
    }
    return wrapped;
}

std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);) lines.push_back(line);
    return lines;
}

// The stderr lines that start with prefix, without it.
std::vector<std::string> linesStartingWith(const std::string& text, const std::string& prefix) {
    std::vector<std::string> found;
    for (const std::string& line : linesOf(text)) {
        if (line.compare(0, prefix.size(), prefix) == 0)
            found.push_back(line.substr(prefix.size()));
    }
    return found;
}

// What the tool must write for the library's error messages.
std::string errorLines(const std::vector<std::string>& errors) {
    std::string text;
    for (const std::string& message : errors) text += "corvane: error: " + message + "\n";
    return text;
}

// The value of an attribute of the first start tag with this name.
std::string attributeOf(const std::string& xml, const std::string& tag, const std::string& name) {
    std::smatch match;
    const std::regex pattern("<" + tag + "\\b[^>]*\\s" + name + "=\"([^\"]*)\"");
    return std::regex_search(xml, match, pattern) ? match[1].str() : std::string("(none)");
}

// Checks a request the tool printed: built for our destination and issuer,
// an ID of "_" and 32 hex digits, a signature the SP certificate verifies.
void expectSignedRequest(const std::string& request) {
    EXPECT_EQ(attributeOf(request, "samlp:AuthnRequest", "Destination"), kDestination);
    EXPECT_EQ(corvane_test::elementTexts(request, "Issuer"), std::vector<std::string>{kIssuer});
    EXPECT_TRUE(std::regex_match(attributeOf(request, "samlp:AuthnRequest", "ID"),
                                 std::regex("_[0-9a-f]{32}")))
        << request;
    EXPECT_EQ(corvane::verifySignature(request, corvane_test::spCert()), 0) << request;
    Recorder::reset();
}

class CliTest : public corvane_test::RecordingTest {
protected:
    void SetUp() override {
        RecordingTest::SetUp();
        std::string pattern = (std::filesystem::temp_directory_path() / "corvane-cli-XXXXXX");
        ASSERT_NE(::mkdtemp(&pattern[0]), nullptr);
        dir_ = pattern;
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }

    std::string path(const std::string& name) const { return dir_ + "/" + name; }
    std::string writeTemp(const std::string& name, const std::string& text) const {
        corvane_test::writeFile(path(name), text);
        return path(name);
    }

    // The library's verdict on a response, in this process: the status,
    // with the error messages left in the recorder.
    static int verifyHere(const std::string& xml, const std::string& cert) {
        Recorder::reset();
        std::string nameId;
        return corvane::CorvaneBase::getHelper(nullptr, nullptr, nullptr)
            ->verifySamlResponse(nameId, xml, cert);
    }

    std::string dir_;
};

// ---------------------------------------------------------------------------
// corvane request

TEST_F(CliTest, RequestPrintsSignedRequestAndNothingElse) {
    const Finished run = corvane(requestArgs());
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.err, "");
    expectSignedRequest(run.out);
}

TEST_F(CliTest, RequestIdsComeFreshFromEachRun) {
    const Finished first = corvane(requestArgs());
    const Finished second = corvane(requestArgs());
    const std::string firstId = attributeOf(first.out, "samlp:AuthnRequest", "ID");
    EXPECT_NE(firstId, "(none)");
    EXPECT_NE(firstId, attributeOf(second.out, "samlp:AuthnRequest", "ID"));
}

TEST_F(CliTest, RequestBase64IsOneLineCarryingTheSignedRequest) {
    std::vector<std::string> args = requestArgs();
    args.push_back("--base64");
    const Finished run = corvane(args);
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.err, "");
    ASSERT_FALSE(run.out.empty());
    EXPECT_EQ(run.out.back(), '\n');
    const std::string line = run.out.substr(0, run.out.size() - 1);
    EXPECT_TRUE(std::regex_match(line, std::regex("[A-Za-z0-9+/]+={0,2}"))) << line;
    expectSignedRequest(unbase64(line));
}

TEST_F(CliTest, RequestOutWritesTheFileInsteadOfStandardOutput) {
    std::vector<std::string> args = requestArgs();
    args.insert(args.end(), {"--out", path("request.xml")});
    const Finished run = corvane(args);
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "");
    expectSignedRequest(corvane_test::readFile(path("request.xml")));
}

TEST_F(CliTest, RequestOutDashIsStandardOutput) {
    std::vector<std::string> args = requestArgs();
    args.insert(args.end(), {"--out=-"});
    const Finished run = corvane(args);
    EXPECT_EQ(run.exitCode, 0);
    expectSignedRequest(run.out);
}

TEST_F(CliTest, RequestVerbosityAddsLogLinesByLevel) {
    std::vector<std::string> quiet = requestArgs();
    std::vector<std::string> verbose = requestArgs();
    std::vector<std::string> detailed = requestArgs();
    verbose.push_back("-v");
    detailed.insert(detailed.begin(), "-vv");  // before the command works too

    EXPECT_EQ(corvane(quiet).err, "");
    const Finished levelTwo = corvane(verbose);
    EXPECT_EQ(levelTwo.exitCode, 0);
    EXPECT_TRUE(linesStartingWith(levelTwo.err, "corvane: log 3: ").empty()) << levelTwo.err;

    const Finished levelThree = corvane(detailed);
    EXPECT_EQ(levelThree.exitCode, 0);
    const std::vector<std::string> detail = linesStartingWith(levelThree.err, "corvane: log 3: ");
    ASSERT_FALSE(detail.empty()) << levelThree.err;
    EXPECT_EQ(detail.front().rfind("Private cert: ", 0), 0u) << detail.front();
    // The key text is shown with its private key withheld.
    EXPECT_NE(levelThree.err.find(corvane_test::kWithheldMarker), std::string::npos);
    for (const std::string& secret :
         corvane_test::privateKeyBodyLines(corvane_test::spKeyAndCert())) {
        EXPECT_EQ(levelThree.err.find(secret), std::string::npos) << "private key line leaked";
    }
}

TEST_F(CliTest, RequestThatCannotBeSignedExits8WithTheLibraryErrorsInOrder) {
    // A public key cannot sign; the library says why through the error callback.
    const std::string key = corvane_test::readFixture("test-sp-pubkey.pem");
    Recorder::reset();
    std::string request;
    const int status = corvane::CorvaneBase::getHelper(nullptr, nullptr, nullptr)
                           ->createAuthnRequest(&request, kDestination, kIssuer, key);
    ASSERT_EQ(status, -8);
    const std::vector<std::string> errors = Recorder::errors();
    ASSERT_FALSE(errors.empty());

    const Finished run = corvane({"request", "--destination", kDestination, "--issuer", kIssuer,
                                  "--key", corvane_test::fixturePath("test-sp-pubkey.pem")});
    EXPECT_EQ(run.exitCode, 8);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err,
              errorLines(errors) +
                  "corvane request: the request could not be signed (library status -8)\n");
}

// ---------------------------------------------------------------------------
// corvane verify: accepted responses

TEST_F(CliTest, VerifyPrintsTheNameIdOfAnAcceptedResponse) {
    const std::string response = writeTemp("response.xml", corvane_test::signedResponse(kUser));
    const Finished run = corvane({"verify", "--nameid-only", "--cert", idpCertPath(), response});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.out, std::string(kUser) + "\n");
    EXPECT_EQ(run.err, "");
}

struct AcceptedInput {
    const char* name;
    std::vector<std::string> extraArgs;  // "{FILE}" stands for the response file
    bool onStandardInput;
    // Turns the signed response text into what the tool is given.
    std::string (*encode)(const std::string& xml);
};

std::string asIs(const std::string& xml) { return xml; }
std::string base64Wrapped(const std::string& xml) { return wrapLines(base64(xml), 76, "\r\n"); }
// The form value as it travels in a POST body: + / = percent-escaped and
// the line breaks of a wrapped value as %0D%0A.
std::string formEncoded(const std::string& xml) {
    std::string encoded;
    for (char c : wrapLines(base64(xml), 64, "\r\n")) {
        static const char kHex[] = "0123456789ABCDEF";
        const bool plain = std::isalnum(static_cast<unsigned char>(c)) != 0;
        encoded +=
            plain ? std::string(1, c) : std::string("%") + kHex[(c >> 4) & 0xf] + kHex[c & 0xf];
    }
    return encoded;
}
std::string leadingWhiteSpaceBase64(const std::string& xml) { return "\n  " + base64(xml) + "\n"; }

void PrintTo(const AcceptedInput& row, std::ostream* out) { *out << row.name; }

class VerifyAccepts : public CliTest, public ::testing::WithParamInterface<AcceptedInput> {};

TEST_P(VerifyAccepts, EveryFormOfTheSameResponse) {
    const AcceptedInput& row = GetParam();
    const std::string input = row.encode(corvane_test::signedResponse(kUser));
    const std::string file = writeTemp("response.in", input);
    std::vector<std::string> args = {"verify", "--nameid-only", "--cert", idpCertPath()};
    for (const std::string& arg : row.extraArgs) args.push_back(arg == "{FILE}" ? file : arg);

    const Finished run = corvane(args, row.onStandardInput ? input : "");
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, std::string(kUser) + "\n");
    EXPECT_EQ(run.err, "");
}

INSTANTIATE_TEST_SUITE_P(
    Cli, VerifyAccepts,
    ::testing::Values(
        AcceptedInput{"XmlOnStandardInputAsDash", {"-"}, true, asIs},
        AcceptedInput{"XmlOnStandardInputWithoutArgument", {}, true, asIs},
        AcceptedInput{"Base64WrappedDetected", {"{FILE}"}, false, base64Wrapped},
        AcceptedInput{
            "Base64WithLeadingWhiteSpaceDetected", {"{FILE}"}, false, leadingWhiteSpaceBase64},
        AcceptedInput{"Base64Forced", {"--base64", "{FILE}"}, false, base64Wrapped},
        AcceptedInput{"FormEncodedValueOnStandardInput", {"--base64"}, true, formEncoded}),
    corvane_test::RowName());

// ---------------------------------------------------------------------------
// corvane verify: responses the library refuses. The tool passes on the
// library's messages in order, then one line of its own, and exits with the
// status's code.

struct RefusedResponse {
    const char* name;
    std::string (*response)();
    std::string (*cert)();
    int status;  // what the library returns for it
};

std::string tamperedResponse() {
    return corvane_test::replaceAll(corvane_test::signedResponse(kUser), kUser,
                                    "mallory@example.test");
}
std::string honestResponse() { return corvane_test::signedResponse(kUser); }
std::string truncatedResponse() { return corvane_test::signedResponse(kUser).substr(0, 200); }
std::string unsignedResponse() { return corvane_test::responseTemplate(kUser); }
// The signed response padded by a trailing comment to exactly `size` bytes.
std::string responseOfSize(std::size_t size) {
    const std::string honest = corvane_test::signedResponse(kUser);
    return honest + "<!--" + std::string(size - honest.size() - 7, 'x') + "-->";
}

std::string summaryFor(int status) {
    if (status == -7) return "corvane verify: the response is not acceptable (library status -7)\n";
    return "corvane verify: the response is unusable or its signature could not be checked "
           "(library status -8)\n";
}

void PrintTo(const RefusedResponse& row, std::ostream* out) { *out << row.name; }

class VerifyRefuses : public CliTest, public ::testing::WithParamInterface<RefusedResponse> {};

TEST_P(VerifyRefuses, WithTheStatusCodeAndTheLibraryErrorsInOrder) {
    const RefusedResponse& row = GetParam();
    const std::string xml = row.response();
    const std::string cert = row.cert();
    ASSERT_EQ(verifyHere(xml, cert), row.status);
    const std::vector<std::string> errors = Recorder::errors();
    ASSERT_FALSE(errors.empty());

    const Finished run =
        corvane({"verify", "--nameid-only", "--cert", writeTemp("cert.pem", cert), writeTemp("response.xml", xml)});
    EXPECT_EQ(run.exitCode, -row.status);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, errorLines(errors) + summaryFor(row.status));
}

TEST_P(VerifyRefuses, WithVerboseLogLinesAmongTheErrors) {
    const RefusedResponse& row = GetParam();
    const std::string xml = row.response();
    const std::string cert = row.cert();
    ASSERT_EQ(verifyHere(xml, cert), row.status);
    const std::vector<std::string> errors = Recorder::errors();
    const std::vector<std::string> errorLog = Recorder::logAt(1);
    const std::vector<std::string> warnings = Recorder::logAt(2);

    const Finished run = corvane(
        {"verify", "--nameid-only", "-v", "--cert", writeTemp("cert.pem", cert), writeTemp("response.xml", xml)});
    EXPECT_EQ(run.exitCode, -row.status);
    EXPECT_EQ(linesStartingWith(run.err, "corvane: error: "), errors);
    EXPECT_EQ(linesStartingWith(run.err, "corvane: log 1: "), errorLog);
    EXPECT_EQ(linesStartingWith(run.err, "corvane: log 2: "), warnings);
    EXPECT_TRUE(linesStartingWith(run.err, "corvane: log 3: ").empty());
}

INSTANTIATE_TEST_SUITE_P(
    Cli, VerifyRefuses,
    ::testing::Values(
        RefusedResponse{"NameIdChangedAfterSigning", tamperedResponse, corvane_test::idpCert, -7},
        RefusedResponse{"SignedByAnotherKey", honestResponse, corvane_test::spCert, -7},
        RefusedResponse{"NotWellFormed", truncatedResponse, corvane_test::idpCert, -8},
        RefusedResponse{"SignatureNeverFilledIn", unsignedResponse, corvane_test::idpCert, -7}),
    corvane_test::RowName());

// The documented check's 2 MB limit, with its exit status 8.
TEST_F(CliTest, NameIdOnlyAcceptsTwoMegabytesAndRefusesOneByteMore) {
    const std::size_t limit = 2u << 20;
    const Finished atLimit = corvane({"verify", "--nameid-only", "--cert", idpCertPath(),
                                      writeTemp("at-limit.xml", responseOfSize(limit))});
    EXPECT_EQ(atLimit.exitCode, 0) << atLimit.err;
    EXPECT_EQ(atLimit.out, std::string(kUser) + "\n");
    const Finished over = corvane({"verify", "--nameid-only", "--cert", idpCertPath(),
                                   writeTemp("over.xml", responseOfSize(limit + 1))});
    EXPECT_EQ(over.exitCode, 8);
    EXPECT_EQ(over.out, "");
    EXPECT_EQ(over.err,
              errorLines({"SAML message of 2097153 bytes is larger than the limit of 2097152 bytes"}) +
                  summaryFor(-8));
}

// ---------------------------------------------------------------------------
// Bad command lines and unusable inputs: exit 2, nothing on standard output,
// and exactly one line on standard error that names the input and the reason.

struct BadInput {
    const char* name;
    std::vector<std::string> args;  // "{TMP}" stands for a fresh temporary directory
    std::vector<std::pair<std::string, std::string>> files;  // made in {TMP} first
    std::string input;                                       // standard input
    std::string err;                                         // "{TMP}" as above
};

std::string substituteTmp(std::string text, const std::string& dir) {
    for (std::size_t at = text.find("{TMP}"); at != std::string::npos;
         at = text.find("{TMP}", at + dir.size())) {
        text.replace(at, 5, dir);
    }
    return text;
}

void PrintTo(const BadInput& row, std::ostream* out) { *out << row.name; }

class BadInputs : public CliTest, public ::testing::WithParamInterface<BadInput> {};

TEST_P(BadInputs, ExitWithOneLineNamingTheInput) {
    const BadInput& row = GetParam();
    for (const auto& file : row.files) writeTemp(file.first, file.second);
    std::vector<std::string> args;
    for (const std::string& arg : row.args) args.push_back(substituteTmp(arg, dir_));

    const Finished run = corvane(args, row.input);
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, substituteTmp(row.err, dir_) + "\n");
}

const std::string kKey = spKeyPath();
const std::string kCert = idpCertPath();
const std::string kBase64Xml = "PHNhbWxwOlJlc3BvbnNlLz4=";  // "<samlp:Response/>"

INSTANTIATE_TEST_SUITE_P(
    Cli, BadInputs,
    ::testing::Values(
        // The command line.
        BadInput{"NoCommand", {}, {}, "", "corvane: missing command (try 'corvane --help')"},
        BadInput{
            "OnlyVerbosity", {"-vv"}, {}, "", "corvane: missing command (try 'corvane --help')"},
        BadInput{"UnknownCommand",
                 {"sign"},
                 {},
                 "",
                 "corvane: unknown command 'sign' (try 'corvane --help')"},
        BadInput{"UnknownOptionBeforeCommand",
                 {"--frobnicate", "request"},
                 {},
                 "",
                 "corvane: unknown option '--frobnicate' (try 'corvane --help')"},
        BadInput{"RequestWithoutDestination",
                 {"request", "--issuer", "I", "--key", kKey},
                 {},
                 "",
                 "corvane request: missing --destination URL"},
        BadInput{"RequestWithoutIssuer",
                 {"request", "--destination", "D", "--key", kKey},
                 {},
                 "",
                 "corvane request: missing --issuer ENTITY"},
        BadInput{"RequestWithoutKey",
                 {"request", "--destination", "D", "--issuer", "I"},
                 {},
                 "",
                 "corvane request: missing --key SP.pem"},
        BadInput{"RequestWithEmptyDestination",
                 {"request", "--destination=", "--issuer", "I", "--key", kKey},
                 {},
                 "",
                 "corvane request: --destination is empty"},
        BadInput{"OptionWithoutItsValue",
                 {"request", "--destination", "D", "--issuer", "I", "--key"},
                 {},
                 "",
                 "corvane request: option --key needs a value"},
        BadInput{"OptionGivenTwice",
                 {"request", "--issuer", "I", "--destination", "D", "--issuer", "J", "--key", kKey},
                 {},
                 "",
                 "corvane request: option --issuer given twice"},
        BadInput{"OptionOfTheOtherCommand",
                 {"request", "--cert", kCert},
                 {},
                 "",
                 "corvane request: unknown option '--cert' (try 'corvane request --help')"},
        BadInput{"SwitchGivenAValue",
                 {"request", "--destination", "D", "--issuer", "I", "--key", kKey, "--base64=yes"},
                 {},
                 "",
                 "corvane request: option --base64 takes no value"},
        BadInput{"RequestWithStrayArgument",
                 {"request", "--destination", "D", "--issuer", "I", "--key", kKey, "extra"},
                 {},
                 "",
                 "corvane request: unexpected argument 'extra'"},
        BadInput{"VerifyWithoutCert",
                 {"verify", "--nameid-only", "response.xml"},
                 {},
                 "",
                 "corvane verify: missing --cert IDP.pem"},
        BadInput{"VerifyWithTwoResponses",
                 {"verify", "--nameid-only", "--cert", kCert, "a.xml", "b.xml"},
                 {},
                 "",
                 "corvane verify: unexpected argument 'b.xml' (one response at most)"},
        BadInput{"StandardOptionWithoutStandard",
                 {"request", "--destination", "D", "--issuer", "I", "--key", kKey, "--acs", "A"},
                 {},
                 "",
                 "corvane request: option --acs needs --standard"},
        BadInput{"RelayStateWithoutRedirect",
                 {"request", "--standard", "--destination", "D", "--issuer", "I", "--key", kKey,
                  "--acs", "A", "--relay-state", "R"},
                 {},
                 "",
                 "corvane request: option --relay-state needs --redirect"},
        BadInput{"ProfileOptionWithoutIdp",
                 {"verify", "--nameid-only", "--cert", kCert, "--audience", "A", "-"},
                 {},
                 "",
                 "corvane verify: option --audience does not go with --nameid-only"},
        BadInput{"SecondCertWithoutIdp",
                 {"verify", "--nameid-only", "--cert", kCert, "--cert", kCert, "-"},
                 {},
                 "",
                 "corvane verify: option --cert given twice"},
        // The profile-checked verify and the options of the new forms.
        BadInput{"LoginWithoutRequestRule",
                 {"verify", "--cert", kCert, "--idp", "I", "--audience", "A", "--acs", "U", "-"},
                 {},
                 "",
                 "corvane verify: missing --request-id ID (or --allow-unsolicited for a login "
                 "the IdP started)"},
        BadInput{"LoginWithEmptyRequestId",
                 {"verify", "--cert", kCert, "--idp", "I", "--audience", "A", "--acs", "U",
                  "--request-id=", "-"},
                 {},
                 "",
                 "corvane verify: --request-id is empty"},
        BadInput{"LoginWithoutIdp",
                 {"verify", "--cert", kCert, "--audience", "A", "--acs", "U", "--request-id", "R",
                  "-"},
                 {},
                 "",
                 "corvane verify: missing --idp ENTITY"},
        BadInput{"RequestIdWithNameIdOnly",
                 {"verify", "--nameid-only", "--cert", kCert, "--request-id", "R", "-"},
                 {},
                 "",
                 "corvane verify: option --request-id does not go with --nameid-only"},
        BadInput{"AllowUnsolicitedWithNameIdOnly",
                 {"verify", "--nameid-only", "--cert", kCert, "--allow-unsolicited", "-"},
                 {},
                 "",
                 "corvane verify: option --allow-unsolicited does not go with --nameid-only"},
        BadInput{"MaxSizeNotANumber",
                 {"verify", "--cert", kCert, "--idp", "I", "--audience", "A", "--acs", "U",
                  "--allow-unsolicited", "--max-size", "2MB", "-"},
                 {},
                 "",
                 "corvane verify: --max-size 2MB: is not a whole number"},
        BadInput{"MaxSizeZero",
                 {"verify", "--cert", kCert, "--idp", "I", "--audience", "A", "--acs", "U",
                  "--allow-unsolicited", "--max-size", "0", "-"},
                 {},
                 "",
                 "corvane verify: --max-size 0: is not positive"},
        BadInput{"MaxSizeNegative",
                 {"verify", "--cert", kCert, "--idp", "I", "--audience", "A", "--acs", "U",
                  "--allow-unsolicited", "--max-size=-5", "-"},
                 {},
                 "",
                 "corvane verify: --max-size -5: is not positive"},
        BadInput{"MaxSizeEmpty",
                 {"verify", "--cert", kCert, "--idp", "I", "--audience", "A", "--acs", "U",
                  "--allow-unsolicited", "--max-size=", "-"},
                 {},
                 "",
                 "corvane verify: --max-size is empty"},
        BadInput{"WantAssertionsSignedNeitherTrueNorFalse",
                 {"metadata", "--entity-id", "E", "--acs", "A", "--cert", kCert,
                  "--want-assertions-signed=no"},
                 {},
                 "",
                 "corvane metadata: --want-assertions-signed must be true or false"},
        BadInput{"IdOutEmpty",
                 {"request", "--destination", "D", "--issuer", "I", "--key", kKey, "--id-out="},
                 {},
                 "",
                 "corvane request: --id-out is empty"},
        BadInput{"IdOutIntoMissingDirectory",
                 {"request", "--destination", "D", "--issuer", "I", "--key", kKey, "--id-out",
                  "{TMP}/missing/id"},
                 {},
                 "",
                 "corvane request: --id-out {TMP}/missing/id: cannot write: No such file or "
                 "directory"},
        // Key and certificate files.
        BadInput{"KeyFileMissing",
                 {"request", "--destination", "D", "--issuer", "I", "--key", "{TMP}/absent.pem"},
                 {},
                 "",
                 "corvane request: --key {TMP}/absent.pem: cannot read: No such file or directory"},
        BadInput{"KeyIsADirectory",
                 {"request", "--destination", "D", "--issuer", "I", "--key", "{TMP}"},
                 {},
                 "",
                 "corvane request: --key {TMP}: cannot read: Is a directory"},
        BadInput{"KeyFileEmpty",
                 {"request", "--destination", "D", "--issuer", "I", "--key", "{TMP}/key.pem"},
                 {{"key.pem", ""}},
                 "",
                 "corvane request: --key {TMP}/key.pem: is empty"},
        BadInput{"KeyFileOnlyWhiteSpace",
                 {"request", "--destination", "D", "--issuer", "I", "--key", "{TMP}/key.pem"},
                 {{"key.pem", " \n\t\r\n"}},
                 "",
                 "corvane request: --key {TMP}/key.pem: is empty"},
        BadInput{"CertFileMissing",
                 {"verify", "--nameid-only", "--cert", "{TMP}/absent.pem", "-"},
                 {},
                 "",
                 "corvane verify: --cert {TMP}/absent.pem: cannot read: No such file or directory"},
        BadInput{"CertFileEmpty",
                 {"verify", "--nameid-only", "--cert", "{TMP}/cert.pem", "-"},
                 {{"cert.pem", ""}},
                 "",
                 "corvane verify: --cert {TMP}/cert.pem: is empty"},
        // Responses.
        BadInput{"ResponseFileMissing",
                 {"verify", "--nameid-only", "--cert", kCert, "{TMP}/absent.xml"},
                 {},
                 "",
                 "corvane verify: response {TMP}/absent.xml: cannot read: No such file or "
                 "directory"},
        BadInput{"ResponseFileEmpty",
                 {"verify", "--nameid-only", "--cert", kCert, "{TMP}/r.xml"},
                 {{"r.xml", ""}},
                 "",
                 "corvane verify: response {TMP}/r.xml: is empty"},
        BadInput{"ResponseOnStandardInputEmpty",
                 {"verify", "--nameid-only", "--cert", kCert},
                 {},
                 "",
                 "corvane verify: response (standard input): is empty"},
        BadInput{"ResponseNeitherXmlNorBase64",
                 {"verify", "--nameid-only", "--cert", kCert, "-"},
                 {},
                 kBase64Xml.substr(0, 8) + "!" + kBase64Xml.substr(8),
                 "corvane verify: response (standard input): neither XML (no '<' at the start) "
                 "nor base64: unexpected character '!' at offset 8"},
        BadInput{"Base64OfWrongLength",
                 {"verify", "--nameid-only", "--cert", kCert, "-"},
                 {},
                 kBase64Xml.substr(1),
                 "corvane verify: response (standard input): neither XML (no '<' at the start) "
                 "nor base64: length 23 (white space skipped) is not a multiple of 4"},
        BadInput{"Base64PaddingInside",
                 {"verify", "--nameid-only", "--cert", kCert, "-"},
                 {},
                 "PH=h" + kBase64Xml,
                 "corvane verify: response (standard input): neither XML (no '<' at the start) "
                 "nor base64: unexpected character '=' at offset 2"},
        BadInput{"Base64ControlCharacter",
                 {"verify", "--nameid-only", "--cert", kCert, "{TMP}/r.b64"},
                 {{"r.b64",
                   "PHNh\x01"
                   "bWxw"}},
                 "",
                 "corvane verify: response {TMP}/r.b64: neither XML (no '<' at the start) nor "
                 "base64: unexpected character \\x01 at offset 4"},
        BadInput{"BrokenPercentEscape",
                 {"verify", "--nameid-only", "--cert", kCert, "--base64"},
                 {},
                 "PHNh%3",
                 "corvane verify: response (standard input): not valid base64: broken "
                 "percent-escape at offset 4"},
        BadInput{"XmlGivenAsForcedBase64",
                 {"verify", "--nameid-only", "--base64", "--cert", kCert, "-"},
                 {},
                 "<samlp:Response/>",
                 "corvane verify: response (standard input): not valid base64: unexpected "
                 "character '<' at offset 0"},
        // Output.
        BadInput{"OutIntoMissingDirectory",
                 {"request", "--destination", "D", "--issuer", "I", "--key", kKey, "--out",
                  "{TMP}/missing/request.xml"},
                 {},
                 "",
                 "corvane request: --out {TMP}/missing/request.xml: cannot write: No such file "
                 "or directory"}),
    corvane_test::RowName());

// ---------------------------------------------------------------------------
// corvane request --standard and corvane metadata

const char kSsoUrl[] = "https://idp.example.test/sso";
const char kSpEntity[] = "https://sp.example.test/metadata";
const char kAcsUrl[] = "https://sp.example.test/acs";

// The name of the document's root element, as written.
std::string rootElement(const std::string& xml) {
    std::smatch match;
    std::regex_search(xml, match, std::regex("<([A-Za-z_][-\\w.:]*)[\\s>]"));
    return match.empty() ? "(none)" : match[1].str();
}

TEST_F(CliTest, MetadataPrintsAnEntityDescriptorWithTheCertificate) {
    const Finished run = corvane({"metadata", "--entity-id", kSpEntity, "--acs", kAcsUrl, "--cert",
                                  corvane_test::fixturePath("test-sp-cert.pem")});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(rootElement(run.out.substr(run.out.find("?>") + 2)), "md:EntityDescriptor");
    EXPECT_EQ(attributeOf(run.out, "md:EntityDescriptor", "entityID"), kSpEntity);
    EXPECT_EQ(attributeOf(run.out, "md:AssertionConsumerService", "Location"), kAcsUrl);
}

TEST_F(CliTest, StandardRequestPrintsASignedAuthnRequest) {
    const Finished run = corvane({"request", "--standard", "--destination", kSsoUrl, "--issuer",
                                  kSpEntity, "--key", spKeyPath(), "--acs", kAcsUrl});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(rootElement(run.out.substr(run.out.find("?>") + 2)), "samlp:AuthnRequest");
    EXPECT_EQ(attributeOf(run.out, "samlp:AuthnRequest", "AssertionConsumerServiceURL"), kAcsUrl);
    EXPECT_EQ(corvane_test::elementTexts(run.out, "Issuer"), std::vector<std::string>{kSpEntity});
    EXPECT_EQ(corvane_test::elementTexts(run.out, "SignatureValue").size(), 1u);
}

struct RedirectCase {
    const char* name;
    std::vector<std::string> extraArgs;
    bool signedQuery;
};

void PrintTo(const RedirectCase& row, std::ostream* out) { *out << row.name; }

class Redirect : public CliTest, public ::testing::WithParamInterface<RedirectCase> {};

TEST_P(Redirect, PrintsTheSsoUrlWithTheQuery) {
    std::vector<std::string> args = {"request", "--standard", "--redirect", kSsoUrl, "--issuer",
                                     kSpEntity};
    args.insert(args.end(), GetParam().extraArgs.begin(), GetParam().extraArgs.end());
    const Finished run = corvane(args);
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.out.rfind(std::string(kSsoUrl) + "?SAMLRequest=", 0), 0u) << run.out;
    EXPECT_EQ(run.out.find('\n'), run.out.size() - 1);
    const bool sigAlg = run.out.find("&SigAlg=") != std::string::npos;
    const bool signature = run.out.find("&Signature=") != std::string::npos;
    EXPECT_EQ(sigAlg, GetParam().signedQuery);
    EXPECT_EQ(signature, GetParam().signedQuery);
}

INSTANTIATE_TEST_SUITE_P(
    Cli, Redirect,
    ::testing::Values(RedirectCase{"Unsigned", {}, false},
                      RedirectCase{"Signed", {"--key", spKeyPath(), "--relay-state", "s1"}, true}),
    corvane_test::RowName());

// ---------------------------------------------------------------------------
// corvane verify --idp: the login fixture signed over the response's ID by
// the xmlsec1 tool, verified at the fixture's IssueInstant.

const char kLoginIdp[] = "https://idp.example.test/login-test-only";
const char kLoginNameId[] = "alice-7f3a@example.test";
const char kLoginNow[] = "1709294400";  // 2024-03-01T12:00:00Z

class LoginVerify : public CliTest {
protected:
    // The fixture answering requestId (none when empty), signed into the
    // file `name` of the test's directory; its path. With day, every time
    // stamp is moved to that day ("YYYY-MM-DD").
    std::string signedLogin(const std::string& requestId = "_login-request-1",
                            const std::string& name = "signed.xml", const std::string& day = "",
                            corvane_test::SigAlg alg = corvane_test::SigAlg::RsaSha256) {
        std::string xml = corvane_test::readFixture("login-response-template.xml");
        if (!day.empty()) xml = corvane_test::replaceAll(xml, "2024-03-01", day);
        xml = corvane_test::replaceAll(
            xml, " InResponseTo=\"_login-request-1\"",
            requestId.empty() ? std::string() : " InResponseTo=\"" + requestId + "\"");
        xml = corvane_test::replaceAll(xml, "{{ASSERTION_SIGNATURE}}", "");
        xml = corvane_test::replaceAll(
            xml, "{{RESPONSE_SIGNATURE}}",
            corvane_test::signatureTemplate("#_login-response-1", alg));
        const std::string in = writeTemp("unsigned.xml", xml);
        const Finished sign = corvane_cli_test::runProcess(
            {CORVANE_CLI_XMLSEC1, "--sign", "--privkey-pem", corvane_test::fixturePath("test-idp-key.pem"),
             "--id-attr:ID", "urn:oasis:names:tc:SAML:2.0:protocol:Response", "--output",
             path(name), in},
            "");
        EXPECT_EQ(sign.exitCode, 0) << sign.err << sign.problem;
        return path(name);
    }
    static std::vector<std::string> loginArgs(const std::string& audience) {
        return {"verify", "--cert", idpCertPath(), "--idp", kLoginIdp, "--audience", audience,
                "--acs", kAcsUrl, "--request-id", "_login-request-1", "--now", kLoginNow};
    }
};

TEST_F(LoginVerify, PrintsEveryFieldOfTheLogin) {
    std::vector<std::string> args = loginArgs(kSpEntity);
    args.push_back(signedLogin());
    const Finished run = corvane(args);
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.err, "");
    const std::vector<std::string> lines = linesOf(run.out);
    for (const std::string& line :
         {std::string("nameId: ") + kLoginNameId, std::string("idpEntityId: ") + kLoginIdp,
          std::string("sessionIndex: _session-42"), std::string("assertionId: _login-assertion-1"),
          std::string("assertionExpiry: 1709294700"),
          std::string("attribute urn:oid:0.9.2342.19200300.100.1.3 (mail): alice@example.test"),
          std::string("attribute groups: staff"), std::string("attribute groups: admins")}) {
        EXPECT_NE(std::find(lines.begin(), lines.end(), line), lines.end()) << line << "\n" << run.out;
    }
}

TEST_F(LoginVerify, JsonCarriesTheFieldsAsOneObject) {
    std::vector<std::string> args = loginArgs(kSpEntity);
    args.insert(args.end(), {"--json", signedLogin()});
    const Finished run = corvane(args);
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out.front(), '{');
    EXPECT_EQ(run.out.substr(run.out.size() - 2), "}\n");
    for (const std::string& member :
         {std::string("\"nameId\":\"") + kLoginNameId + "\"",
          std::string("\"nameIdFormat\":\"urn:oasis:names:tc:SAML:2.0:nameid-format:persistent\""),
          std::string("\"assertionExpiry\":1709294700"),
          std::string("\"groups\":{\"friendlyName\":\"\",\"nameFormat\":"
                      "\"urn:oasis:names:tc:SAML:2.0:attrname-format:basic\","
                      "\"values\":[\"staff\",\"admins\"]}")}) {
        EXPECT_NE(run.out.find(member), std::string::npos) << member << "\n" << run.out;
    }
}

TEST_F(LoginVerify, WrongAudienceExits10WithTheLibraryMessage) {
    const std::string response = signedLogin();
    const char kOther[] = "https://other-sp.example.test/metadata";
    std::vector<std::string> errors;
    {  // The library's verdict in this process; the certificate released before shutdown.
        corvane::LoginExpectations e;
        e.idpEntityId = kLoginIdp;
        e.idpCertificates = {corvane::Key::loadCertificate(corvane_test::idpCert()).value()};
        e.spEntityId = kOther;
        e.acsUrl = kAcsUrl;
        e.requestId = "_login-request-1";
        e.now = std::atoll(kLoginNow);
        const corvane::Result<corvane::VerifiedLogin> login =
            corvane::verifyLoginResponse(corvane_test::readFile(response), e);
        ASSERT_EQ(login.status(), corvane::Status::ProfileRefused);
        errors.push_back(login.message());
    }
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_NE(errors.front().find("udience"), std::string::npos) << errors.front();

    std::vector<std::string> args = loginArgs(kOther);
    args.push_back(response);
    const Finished run = corvane(args);
    EXPECT_EQ(run.exitCode, 10);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, errorLines(errors) +
                           "corvane verify: the login is refused: authentic, but refused by the "
                           "profile (library status -10)\n");
}

TEST_F(LoginVerify, MissingAcsIsAUsageError) {
    const Finished run = corvane({"verify", "--cert", idpCertPath(), "--idp", kLoginIdp,
                                  "--audience", kSpEntity, "-"});
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "corvane verify: missing --acs URL\n");
}

// verify --idp: each refusal with its exit status, the library's one
// message and the summary's words; the accepted forms beside them.

enum class LoginInput { Solicited, Unsolicited, NotWellFormed, Base64, FormEncoded };

struct LoginRow {
    const char* name;
    LoginInput input;
    // After --idp --audience --acs; --cert IDP.pem and --now at the fixture's
    // IssueInstant unless given here; "{SP_CERT}" is the SP's certificate
    // (another key).
    std::vector<std::string> args;
    int exitCode;
    // The library's message ("{SIZE}": the response file's size); empty on
    // success.
    std::string message;
    const char* words;
};

void PrintTo(const LoginRow& row, std::ostream* out) { *out << row.name; }

class LoginVerdicts : public LoginVerify, public ::testing::WithParamInterface<LoginRow> {
protected:
    std::string responseFile(LoginInput input) {
        switch (input) {
            case LoginInput::Solicited:
                return signedLogin();
            case LoginInput::Unsolicited:
                return signedLogin("");
            case LoginInput::NotWellFormed:
                return writeTemp("broken.xml", "<a><b></a>");
            case LoginInput::Base64:
                return writeTemp("login.b64", wrapLines(base64(corvane_test::readFile(signedLogin())),
                                                        76, "\r\n"));
            case LoginInput::FormEncoded:
                return writeTemp("login.form", formEncoded(corvane_test::readFile(signedLogin())));
        }
        return std::string();
    }
};

TEST_P(LoginVerdicts, ExitStatusMessageAndSummary) {
    const LoginRow& row = GetParam();
    const std::string response = responseFile(row.input);
    std::vector<std::string> args = {"verify", "--idp", kLoginIdp, "--audience", kSpEntity,
                                     "--acs", kAcsUrl};
    bool certGiven = false;
    bool nowGiven = false;
    for (const std::string& arg : row.args) {
        certGiven = certGiven || arg == "--cert";
        nowGiven = nowGiven || arg.compare(0, 5, "--now") == 0;
        args.push_back(arg == "{SP_CERT}" ? corvane_test::fixturePath("test-sp-cert.pem") : arg);
    }
    if (!certGiven) args.insert(args.end(), {"--cert", idpCertPath()});
    if (!nowGiven) args.insert(args.end(), {"--now", kLoginNow});
    args.push_back(response);

    const Finished run = corvane(args);
    EXPECT_EQ(run.exitCode, row.exitCode) << run.err;
    if (row.exitCode == 0) {
        EXPECT_EQ(run.err, "");
        const std::vector<std::string> lines = linesOf(run.out);
        EXPECT_NE(std::find(lines.begin(), lines.end(), std::string("nameId: ") + kLoginNameId),
                  lines.end())
            << run.out;
        return;
    }
    std::string message = row.message;
    const std::size_t sizeAt = message.find("{SIZE}");
    if (sizeAt != std::string::npos)
        message.replace(sizeAt, 6, std::to_string(corvane_test::readFile(response).size()));
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, errorLines({message}) + "corvane verify: the login is refused: " + row.words +
                           " (library status " + std::to_string(-row.exitCode) + ")\n");
}

const char kNotAuthentic[] = "not authentic";
const char kNotUsable[] = "not usable";
const char kOptionsNotUsable[] = "options not usable";
const char kRefusedByProfile[] = "authentic, but refused by the profile";
const char kTooLargeWords[] = "too large";

INSTANTIATE_TEST_SUITE_P(
    Cli, LoginVerdicts,
    ::testing::Values(
        LoginRow{"RequestIdAccepted", LoginInput::Solicited, {"--request-id", "_login-request-1"},
                 0, "", ""},
        LoginRow{"BothRulesAcceptTheAnswer", LoginInput::Solicited,
                 {"--request-id", "_login-request-1", "--allow-unsolicited"}, 0, "", ""},
        LoginRow{"BothRulesAcceptTheUnsolicited", LoginInput::Unsolicited,
                 {"--allow-unsolicited", "--request-id", "_login-request-1"}, 0, "", ""},
        LoginRow{"UnsolicitedAccepted", LoginInput::Unsolicited, {"--allow-unsolicited"}, 0, "",
                 ""},
        LoginRow{"Base64Accepted", LoginInput::Base64, {"--request-id", "_login-request-1"}, 0,
                 "", ""},
        LoginRow{"FormEncodedAccepted", LoginInput::FormEncoded,
                 {"--request-id", "_login-request-1"}, 0, "", ""},
        LoginRow{"SignedByAnotherKey", LoginInput::Solicited,
                 {"--cert", "{SP_CERT}", "--request-id", "_login-request-1"}, 7,
                 "SAML response signature over the Response does not verify with any IdP "
                 "certificate",
                 kNotAuthentic},
        LoginRow{"NotWellFormed", LoginInput::NotWellFormed, {"--request-id", "_login-request-1"},
                 8, "XML document with SAML token is not well-formed", kNotUsable},
        LoginRow{"SkewBeyondADay", LoginInput::Solicited,
                 {"--request-id", "_login-request-1", "--skew", "86401"}, 9,
                 "Login expectations are not usable: the clock skew must be 0 to 86400 seconds",
                 kOptionsNotUsable},
        LoginRow{"AnotherRequest", LoginInput::Solicited, {"--request-id", "_login-request-2"},
                 10, "SAML response answers request \"_login-request-1\", not \"_login-request-2\"",
                 kRefusedByProfile},
        LoginRow{"UnsolicitedNotAllowed", LoginInput::Unsolicited,
                 {"--request-id", "_login-request-1"}, 10,
                 "SAML response answers no request, but request \"_login-request-1\" is expected",
                 kRefusedByProfile},
        LoginRow{"AnswerWithoutItsRequestId", LoginInput::Solicited, {"--allow-unsolicited"}, 10,
                 "SAML response answers request \"_login-request-1\", but no request ID is "
                 "expected to check it against",
                 kRefusedByProfile},
        LoginRow{"Expired", LoginInput::Solicited,
                 {"--request-id", "_login-request-1", "--now=1709298000"}, 10,
                 "SAML bearer confirmation expired at 2024-03-01T12:05:00Z", kRefusedByProfile},
        LoginRow{"LargerThanMaxSize", LoginInput::Solicited,
                 {"--request-id", "_login-request-1", "--max-size", "1000"}, 11,
                 "SAML message of {SIZE} bytes is larger than the limit of 1000 bytes",
                 kTooLargeWords}),
    corvane_test::RowName());

TEST_F(LoginVerify, MaxSizeIsTheLargestResponseAcceptedInEveryForm) {
    const std::string xmlPath = signedLogin();
    const std::size_t size = corvane_test::readFile(xmlPath).size();
    const std::string base64Path =
        writeTemp("login.b64", base64(corvane_test::readFile(xmlPath)) + "\n");
    std::vector<std::string> args = {"verify", "--cert", idpCertPath(), "--idp", kLoginIdp,
                                     "--audience", kSpEntity, "--acs", kAcsUrl,
                                     "--request-id", "_login-request-1", "--now", kLoginNow,
                                     "--max-size"};
    for (const std::string& input : {xmlPath, base64Path}) {
        SCOPED_TRACE(input);
        std::vector<std::string> atLimit = args;
        atLimit.insert(atLimit.end(), {std::to_string(size), input});
        EXPECT_EQ(corvane(atLimit).exitCode, 0);
    }
    // Base64 over the limit is refused as it is decoded, before any start-up.
    std::vector<std::string> over = args;
    over.insert(over.end(), {std::to_string(size - 1), base64Path});
    const Finished run = corvane(over);
    EXPECT_EQ(run.exitCode, 11);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "corvane verify: response " + base64Path + ": SAML message is larger than " +
                           std::to_string(size - 1) + " bytes\n");
}

// The ID that request --id-out writes is the one verify --request-id needs.
TEST_F(LoginVerify, RequestIdOutFeedsVerifyRequestId) {
    const std::string idFile = path("request.id");
    const Finished request =
        corvane({"request", "--standard", "--destination", kSsoUrl, "--issuer", kSpEntity, "--key",
                 spKeyPath(), "--acs", kAcsUrl, "--id-out", idFile});
    ASSERT_EQ(request.exitCode, 0) << request.err;
    EXPECT_EQ(request.err, "");
    const std::string written = corvane_test::readFile(idFile);
    ASSERT_FALSE(written.empty());
    EXPECT_EQ(written.back(), '\n');
    const std::string id = written.substr(0, written.size() - 1);
    EXPECT_TRUE(std::regex_match(id, std::regex("_[0-9a-f]{32}"))) << id;
    EXPECT_EQ(attributeOf(request.out, "samlp:AuthnRequest", "ID"), id);

    const std::string answer = signedLogin(id, "answer.xml");
    const std::vector<std::string> verify = {"verify", "--cert", idpCertPath(), "--idp", kLoginIdp,
                                             "--audience", kSpEntity, "--acs", kAcsUrl, "--now",
                                             kLoginNow, "--request-id"};
    std::vector<std::string> matching = verify;
    matching.insert(matching.end(), {id, answer});
    const Finished accepted = corvane(matching);
    EXPECT_EQ(accepted.exitCode, 0) << accepted.err;
    EXPECT_NE(accepted.out.find(std::string("nameId: ") + kLoginNameId + "\n"), std::string::npos);
    // A second request's ID does not fit the first one's answer.
    ASSERT_EQ(corvane({"request", "--destination", kDestination, "--issuer", kIssuer, "--key",
                       spKeyPath(), "--id-out", idFile}).exitCode, 0);
    const std::string second = corvane_test::readFile(idFile);
    ASSERT_NE(second, written);
    std::vector<std::string> other = verify;
    other.insert(other.end(), {second.substr(0, second.size() - 1), answer});
    EXPECT_EQ(corvane(other).exitCode, 10);
}

TEST_F(CliTest, PlainRequestIdOutNamesThePrintedRequest) {
    std::vector<std::string> args = requestArgs();
    args.insert(args.end(), {"--id-out", path("id")});
    const Finished run = corvane(args);
    ASSERT_EQ(run.exitCode, 0) << run.err;
    expectSignedRequest(run.out);
    EXPECT_EQ(corvane_test::readFile(path("id")),
              attributeOf(run.out, "samlp:AuthnRequest", "ID") + "\n");
}

// --json prints one JSON object: "id" and "request" (or "url"), nothing else.
struct JsonRequestCase {
    const char* name;
    std::vector<std::string> args;  // "{KEY}": the SP key
    const char* member;
};

void PrintTo(const JsonRequestCase& row, std::ostream* out) { *out << row.name; }

class RequestJson : public CliTest, public ::testing::WithParamInterface<JsonRequestCase> {};

TEST_P(RequestJson, IsOneObjectWithTheIdAndTheRequest) {
    std::vector<std::string> args;
    for (const std::string& arg : GetParam().args) args.push_back(arg == "{KEY}" ? spKeyPath() : arg);
    args.insert(args.end(), {"--json", "--id-out", path("id")});
    const Finished run = corvane(args);
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.err, "");
    ASSERT_FALSE(run.out.empty());
    EXPECT_EQ(run.out.find('\n'), run.out.size() - 1) << "one line";
    std::map<std::string, std::string> members;
    ASSERT_TRUE(corvane_cli_test::JsonObjectReader::read(run.out, &members)) << run.out;
    EXPECT_EQ(members.size(), 2u);
    const std::string& id = members["id"];
    EXPECT_EQ(id + "\n", corvane_test::readFile(path("id")));
    const std::string& body = members[GetParam().member];
    if (std::string(GetParam().member) == "url") {
        EXPECT_EQ(body.rfind(std::string(kSsoUrl) + "?SAMLRequest=", 0), 0u) << body;
        EXPECT_NE(body.find("&Signature="), std::string::npos);
        EXPECT_TRUE(std::regex_match(id, std::regex("_[0-9a-f]{32}"))) << id;
    } else {
        // The request as printed without --json, line breaks and all.
        EXPECT_NE(body.find('\n'), std::string::npos);
        EXPECT_EQ(attributeOf(body, "samlp:AuthnRequest", "ID"), id);
        EXPECT_EQ(corvane::verifySignature(body, corvane_test::spCert()), 0) << body;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cli, RequestJson,
    ::testing::Values(
        JsonRequestCase{"Plain",
                        {"request", "--destination", kDestination, "--issuer", kIssuer, "--key",
                         "{KEY}"},
                        "request"},
        JsonRequestCase{"Standard",
                        {"request", "--standard", "--destination", kSsoUrl, "--issuer", kSpEntity,
                         "--key", "{KEY}", "--acs", kAcsUrl},
                        "request"},
        JsonRequestCase{"Redirect",
                        {"request", "--standard", "--redirect", kSsoUrl, "--issuer", kSpEntity,
                         "--key", "{KEY}", "--relay-state", "a\"b\\c"},
                        "url"}),
    corvane_test::RowName());

TEST_F(CliTest, JsonObjectReaderRefusesWhatIsNotOneObjectOfStrings) {
    std::map<std::string, std::string> members;
    EXPECT_TRUE(corvane_cli_test::JsonObjectReader::read(
        " {\"id\" : \"a\\n\\u00e9\\ud83d\\ude00\\\"\", \"b\":\"\"}\n", &members));
    EXPECT_EQ(members["id"], "a\n\xc3\xa9\xf0\x9f\x98\x80\"");
    for (const char* bad : {"", "{", "[]", "{\"a\":1}", "{\"a\":\"b\",}", "{\"a\":\"b\"} x",
                            "{\"a\":\"b\",\"a\":\"c\"}", "{\"a\":\"\n\"}", "{\"a\":\"\\x\"}",
                            "{\"a\":\"\\ud83d\"}", "{'a':\"b\"}"}) {
        std::map<std::string, std::string> ignored;
        EXPECT_FALSE(corvane_cli_test::JsonObjectReader::read(bad, &ignored)) << bad;
    }
}

// metadata --want-assertions-signed: the attribute follows the option.
TEST_F(CliTest, MetadataWantAssertionsSignedFollowsTheOption) {
    const std::vector<std::string> base = {"metadata", "--entity-id", kSpEntity, "--acs", kAcsUrl,
                                           "--cert", corvane_test::fixturePath("test-sp-cert.pem")};
    for (const auto& row : std::vector<std::pair<std::string, std::string>>{
             {"", "true"},
             {"--want-assertions-signed=true", "true"},
             {"--want-assertions-signed=false", "false"}}) {
        SCOPED_TRACE(row.first);
        std::vector<std::string> args = base;
        if (!row.first.empty()) args.push_back(row.first);
        const Finished run = corvane(args);
        EXPECT_EQ(run.exitCode, 0) << run.err;
        EXPECT_EQ(attributeOf(run.out, "md:SPSSODescriptor", "WantAssertionsSigned"), row.second);
        EXPECT_EQ(attributeOf(run.out, "md:SPSSODescriptor", "AuthnRequestsSigned"), "true");
    }
}

// ---------------------------------------------------------------------------
// Help and version

struct HelpCase {
    const char* name;
    std::vector<std::string> args;
    const char* firstLine;
    // The exit statuses the command can return, as " 0 1 2 ... ": listed,
    // and no other (constant-initialized: the rows are made at start-up).
    const char* statuses;
};

const char kAllStatuses[] = " 0 1 2 3 7 8 9 10 11 ";
const char kRequestStatuses[] = " 0 1 2 3 8 9 ";

void PrintTo(const HelpCase& row, std::ostream* out) { *out << row.name; }

class Help : public CliTest, public ::testing::WithParamInterface<HelpCase> {};

TEST_P(Help, GoesToStandardOutputWithExitStatuses) {
    const HelpCase& row = GetParam();
    const Finished run = corvane(row.args);
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.err, "");
    const std::vector<std::string> lines = linesOf(run.out);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.front(), row.firstLine);
    for (int code : {0, 1, 2, 3, 7, 8, 9, 10, 11}) {
        const std::string number = std::to_string(code);
        const std::string status = (code < 10 ? "  " : " ") + number + "  ";
        const bool listed =
            std::string(row.statuses).find(" " + number + " ") != std::string::npos;
        EXPECT_EQ(run.out.find(std::string("\nExit status:")) != std::string::npos, true);
        EXPECT_EQ(run.out.find(std::string("\n") + status) != std::string::npos, listed)
            << status;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cli, Help,
    ::testing::Values(
        HelpCase{"Overview", {"--help"}, "Usage: corvane [-v|-vv] COMMAND [OPTIONS]",
                 kAllStatuses},
        HelpCase{"OverviewShort", {"-h"}, "Usage: corvane [-v|-vv] COMMAND [OPTIONS]",
                 kAllStatuses},
        HelpCase{"RequestOption",
                 {"request", "--help"},
                 "Usage: corvane request --destination URL --issuer ENTITY --key SP.pem",
                 kRequestStatuses},
        HelpCase{"RequestHelpCommand",
                 {"help", "request"},
                 "Usage: corvane request --destination URL --issuer ENTITY --key SP.pem",
                 kRequestStatuses},
        HelpCase{"MetadataOption",
                 {"metadata", "--help"},
                 "Usage: corvane metadata --entity-id ID --acs URL --cert SP.crt",
                 kRequestStatuses},
        HelpCase{"VerifyOption",
                 {"verify", "-h"},
                 "Usage: corvane verify --cert IDP.pem [--cert OLD.pem ...] --idp ENTITY",
                 kAllStatuses},
        HelpCase{"VerifyHelpWithOtherOptions",
                 {"verify", "--nameid-only", "--cert", "x.pem", "--help"},
                 "Usage: corvane verify --cert IDP.pem [--cert OLD.pem ...] --idp ENTITY",
                 kAllStatuses}),
    corvane_test::RowName());

TEST_F(CliTest, VersionNamesTheProjectVersion) {
    const Finished run = corvane({"--version"});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.out, std::string("corvane ") + CORVANE_CLI_VERSION + "\n");
    EXPECT_EQ(run.err, "");
}

// ---- The replay cache on a real redis-server -----------------------------------

TEST_F(LoginVerify, ReplayCacheOnRedisRefusesTheSecondRunAndFailsClosedWhenDown) {
    corvane_test::RedisServer server;
    ASSERT_TRUE(server.start()) << "redis-server did not start";
    const std::string day = corvane_test::tomorrowUtc();
    std::vector<std::string> args = loginArgs(kSpEntity);
    args.back() = std::to_string(corvane_test::noonUtc(day));  // --now
    args.insert(args.end(), {"--replay-cache", server.url(), signedLogin("_login-request-1", "signed.xml", day)});

    const Finished first = corvane(args);
    EXPECT_EQ(first.exitCode, 0) << first.err;
    EXPECT_NE(first.out.find("inResponseTo: _login-request-1\n"), std::string::npos) << first.out;
    const Finished second = corvane(args);
    EXPECT_EQ(second.exitCode, 10);
    EXPECT_NE(second.err.find("SAML assertion \"_login-assertion-1\" was accepted before: a "
                              "replay is refused"),
              std::string::npos)
        << second.err;
    server.stop();
    const Finished down = corvane(args);
    EXPECT_EQ(down.exitCode, 12);
    EXPECT_NE(down.err.find("Replay cache on Redis is unavailable: "), std::string::npos)
        << down.err;
}

TEST_F(LoginVerify, Sha1IsRefusedUnlessAllowed) {
    std::vector<std::string> args = loginArgs(kSpEntity);
    args.push_back(signedLogin("_login-request-1", "sha1.xml", "", corvane_test::SigAlg::RsaSha1));
    const Finished refused = corvane(args);
    EXPECT_EQ(refused.exitCode, 7);
    EXPECT_NE(refused.err.find("SAML response signature over the Response uses SHA-1, which is "
                               "refused unless allowSha1 is set"),
              std::string::npos)
        << refused.err;
    args.insert(args.end() - 1, "--allow-sha1");
    const Finished allowed = corvane(args);
    EXPECT_EQ(allowed.exitCode, 0) << allowed.err;
}

TEST_F(LoginVerify, ReplayCacheUrlMustBeRedis) {
    std::vector<std::string> args = loginArgs(kSpEntity);
    args.insert(args.end(), {"--replay-cache", "http://127.0.0.1:6379", signedLogin()});
    const Finished run = corvane(args);
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_NE(run.err.find("corvane verify: --replay-cache http://127.0.0.1:6379: "),
              std::string::npos)
        << run.err;
    EXPECT_EQ(run.out, "");
}

// ---- Encrypted logins and the SP's encryption certificate --------------------

const std::string kIdpEncrypted = CORVANE_IDP_ENCRYPTED_DIR;

// verify for a samlify response (AES-256-GCM, Response signed) of the test
// data, with the given --decrypt-key files.
std::vector<std::string> encryptedLoginArgs(const std::vector<std::string>& decryptKeys) {
    std::vector<std::string> args = {"verify",
                                     "--cert",
                                     kIdpEncrypted + "/test-only-idp-signing.crt.pem",
                                     "--idp",
                                     "https://idp.example.test/metadata",
                                     "--audience",
                                     kSpEntity,
                                     "--acs",
                                     kAcsUrl,
                                     "--request-id",
                                     "_request-0123456789abcdef",
                                     "--now",
                                     "1796817600"};
    for (const std::string& key : decryptKeys) args.insert(args.end(), {"--decrypt-key", key});
    args.push_back(kIdpEncrypted + "/samlify-aes256gcm-rsaoaep-response-signed.xml");
    return args;
}

TEST_F(CliTest, VerifyDecryptsWithTheSpKeysGiven) {
    const std::string spKey = kIdpEncrypted + "/test-only-sp-encryption.key.pem";
    const Finished none = corvane(encryptedLoginArgs({}));
    EXPECT_EQ(none.exitCode, 9);
    EXPECT_NE(none.err.find("the response carries an EncryptedAssertion, but no SP decryption key "
                            "is given"),
              std::string::npos)
        << none.err;
    const Finished wrong =
        corvane(encryptedLoginArgs({corvane_test::fixturePath("test-sp-key.pem")}));
    EXPECT_EQ(wrong.exitCode, 7);
    EXPECT_NE(
        wrong.err.find("SAML EncryptedAssertion could not be decrypted with the SP decryption "
                       "keys"),
        std::string::npos)
        << wrong.err;
    const Finished rollover =
        corvane(encryptedLoginArgs({corvane_test::fixturePath("test-sp-key.pem"), spKey}));
    EXPECT_EQ(rollover.exitCode, 0) << rollover.err;
    EXPECT_NE(rollover.out.find("nameId: zo\xc3\xab-persistent-42\n"), std::string::npos)
        << rollover.out;
    EXPECT_NE(rollover.out.find("assertionEncrypted: true\n"), std::string::npos) << rollover.out;
    const Finished notAKey =
        corvane(encryptedLoginArgs({kIdpEncrypted + "/test-only-sp-encryption.crt.pem"}));
    EXPECT_EQ(notAKey.exitCode, 8);
    EXPECT_NE(notAKey.err.find("--decrypt-key"), std::string::npos) << notAKey.err;
}

TEST_F(CliTest, MetadataOffersTheEncryptionCertificateWithItsMethods) {
    const Finished run =
        corvane({"metadata", "--entity-id", kSpEntity, "--acs", kAcsUrl, "--cert",
                 corvane_test::fixturePath("test-sp-cert.pem"), "--encryption-cert",
                 kIdpEncrypted + "/test-only-sp-encryption.crt.pem"});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    const std::size_t encryption = run.out.find("<md:KeyDescriptor use=\"encryption\">");
    ASSERT_NE(encryption, std::string::npos) << run.out;
    std::vector<std::string> methods;
    const std::regex method("<md:EncryptionMethod Algorithm=\"([^\"]*)\"/>");
    for (std::sregex_iterator
             it(run.out.begin() + static_cast<long>(encryption), run.out.end(), method),
         end;
         it != end; ++it)
        methods.push_back((*it)[1].str());
    EXPECT_EQ(methods,
              (std::vector<std::string>{"http://www.w3.org/2009/xmlenc11#aes256-gcm",
                                        "http://www.w3.org/2009/xmlenc11#aes128-gcm",
                                        "http://www.w3.org/2009/xmlenc11#rsa-oaep",
                                        "http://www.w3.org/2001/04/xmlenc#rsa-oaep-mgf1p"}));
    const Finished missing = corvane({"metadata", "--entity-id", kSpEntity, "--acs", kAcsUrl,
                                      "--cert", corvane_test::fixturePath("test-sp-cert.pem"),
                                      "--encryption-cert", path("missing.pem")});
    EXPECT_NE(missing.exitCode, 0);
    EXPECT_NE(missing.err.find("--encryption-cert"), std::string::npos) << missing.err;
}

// ---------------------------------------------------------------------------
// IdP metadata: idp-metadata, verify --idp-metadata, request --idp-metadata

const char kOtherIdp[] = "https://idp.other.test/idp";

// The base64 body of a PEM certificate fixture, on one line.
std::string certificateBody(const std::string& fixture) {
    std::string body;
    for (const std::string& line : linesOf(corvane_test::readFixture(fixture)))
        if (line.find("-----") == std::string::npos) body += line;
    return body;
}

std::string idpEntityFor(const std::string& entityId, const std::string& host,
                         const std::string& certificateFixture) {
    return "<md:EntityDescriptor entityID=\"" + entityId +
           "\"><md:IDPSSODescriptor WantAuthnRequestsSigned=\"true\" "
           "protocolSupportEnumeration=\"urn:oasis:names:tc:SAML:2.0:protocol\"><md:KeyDescriptor "
           "use=\"signing\"><ds:KeyInfo><ds:X509Data><ds:X509Certificate>" +
           certificateBody(certificateFixture) +
           "</ds:X509Certificate></ds:X509Data></ds:KeyInfo></md:KeyDescriptor>"
           "<md:SingleSignOnService Binding=\"urn:oasis:names:tc:SAML:2.0:bindings:HTTP-Redirect\" "
           "Location=\"https://" +
           host +
           "/sso/redirect\"/><md:SingleSignOnService "
           "Binding=\"urn:oasis:names:tc:SAML:2.0:bindings:HTTP-POST\" Location=\"https://" +
           host + "/sso/post\"/></md:IDPSSODescriptor></md:EntityDescriptor>";
}

class IdpMetadataCli : public LoginVerify {
protected:
    // An aggregate of the login fixture's IdP and another IdP (whose
    // certificate is the SP's), signed over its root by the metadata
    // signer (the test SP key) into `name`, or unsigned; its path.
    std::string aggregate(bool signedByTheSigner, const std::string& name = "metadata.xml") {
        std::string xml =
            "<md:EntitiesDescriptor xmlns:md=\"urn:oasis:names:tc:SAML:2.0:metadata\" "
            "xmlns:ds=\"http://www.w3.org/2000/09/xmldsig#\" ID=\"_federation\">" +
            std::string(signedByTheSigner ? corvane_test::signatureTemplate(
                                                "#_federation", corvane_test::SigAlg::RsaSha256)
                                          : "") +
            idpEntityFor(kLoginIdp, "idp.example.test", "test-idp-cert.pem") +
            idpEntityFor(kOtherIdp, "idp.other.test", "test-sp-cert.pem") +
            "</md:EntitiesDescriptor>";
        if (!signedByTheSigner) return writeTemp(name, xml);
        const std::string in = writeTemp("metadata-unsigned.xml", xml);
        const Finished sign = corvane_cli_test::runProcess(
            {CORVANE_CLI_XMLSEC1, "--sign", "--privkey-pem",
             corvane_test::fixturePath("test-sp-key.pem"), "--id-attr:ID",
             "urn:oasis:names:tc:SAML:2.0:metadata:EntitiesDescriptor", "--output", path(name), in},
            "");
        EXPECT_EQ(sign.exitCode, 0) << sign.err << sign.problem;
        return path(name);
    }
    static std::string signerPath() { return corvane_test::fixturePath("test-sp-cert.pem"); }
    // verify of the login fixture with the IdP's settings from metadata.
    std::vector<std::string> metadataVerifyArgs(const std::string& metadata) {
        return {"verify",     "--idp-metadata", metadata,           "--metadata-signer",
                signerPath(), "--audience",     kSpEntity,          "--acs",
                kAcsUrl,      "--request-id",   "_login-request-1", "--now",
                kLoginNow};
    }
};

TEST_F(IdpMetadataCli, ListsEveryIdpOfASignedAggregate) {
    const Finished run =
        corvane({"idp-metadata", aggregate(true), "--metadata-signer", signerPath()});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.out, std::string(kLoginIdp) + "\n" + kOtherIdp + "\n");
    const Finished json =
        corvane({"idp-metadata", aggregate(true), "--metadata-signer", signerPath(), "--json"});
    EXPECT_EQ(json.exitCode, 0) << json.err;
    EXPECT_EQ(json.out, std::string("{\"idpEntityIds\":[\"") + kLoginIdp + "\",\"" + kOtherIdp +
                            "\"],\"entityCount\":2,\"validUntil\":\"\"}\n");
}

TEST_F(IdpMetadataCli, EntityPrintsThatIdpsSettings) {
    const Finished run = corvane({"idp-metadata", aggregate(true), "--metadata-signer",
                                  signerPath(), "--entity", kOtherIdp});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(
        run.out,
        std::string("entityId: ") + kOtherIdp +
            "\nsingleSignOnService urn:oasis:names:tc:SAML:2.0:bindings:HTTP-Redirect: "
            "https://idp.other.test/sso/redirect\nsingleSignOnService "
            "urn:oasis:names:tc:SAML:2.0:bindings:HTTP-POST: https://idp.other.test/sso/post\n"
            "signingCertificate: " +
            certificateBody("test-sp-cert.pem") +
            "\nwantAuthnRequestsSigned: true\nvalidUntil:\ncacheDurationSeconds:\n");
}

struct MetadataRefusal {
    const char* name;
    bool signedByTheSigner;
    std::vector<std::string> trust;
    int exitCode;
    std::string err;
};

void PrintTo(const MetadataRefusal& row, std::ostream* out) { *out << row.name; }

class IdpMetadataTrust : public IdpMetadataCli,
                         public ::testing::WithParamInterface<MetadataRefusal> {};

TEST_P(IdpMetadataTrust, ExitStatusAndMessages) {
    const MetadataRefusal& row = GetParam();
    std::vector<std::string> args = {"idp-metadata", aggregate(row.signedByTheSigner)};
    for (std::string option : row.trust) {
        args.push_back(option == "SIGNER"  ? signerPath()
                       : option == "OTHER" ? idpCertPath()
                                           : option);
    }
    const Finished run = corvane(args);
    EXPECT_EQ(run.exitCode, row.exitCode) << run.err;
    EXPECT_EQ(run.err, row.err);
    EXPECT_EQ(run.out.empty(), row.exitCode != 0) << run.out;
}

INSTANTIATE_TEST_SUITE_P(
    Cli, IdpMetadataTrust,
    ::testing::Values(
        MetadataRefusal{"Unsigned",
                        false,
                        {"--metadata-signer", "SIGNER"},
                        7,
                        "corvane: error: IdP metadata is not signed\ncorvane idp-metadata: the IdP "
                        "metadata is refused: not authentic (library status -7)\n"},
        MetadataRefusal{"UnsignedTrusted", false, {"--trust-unsigned-metadata"}, 0, ""},
        MetadataRefusal{"SignedByAnother",
                        true,
                        {"--metadata-signer", "OTHER"},
                        7,
                        "corvane: error: IdP metadata signature does not verify with any pinned "
                        "signer key\ncorvane idp-metadata: the IdP metadata is refused: not "
                        "authentic (library status -7)\n"},
        MetadataRefusal{"SignedBySigner", true, {"--metadata-signer", "SIGNER"}, 0, ""},
        MetadataRefusal{"NoTrust",
                        true,
                        {},
                        2,
                        "corvane idp-metadata: missing --metadata-signer CERT.pem (or "
                        "--trust-unsigned-metadata for an IdP's own metadata fetched over TLS)\n"},
        MetadataRefusal{"BothTrusts",
                        true,
                        {"--metadata-signer", "SIGNER", "--trust-unsigned-metadata"},
                        2,
                        "corvane idp-metadata: --metadata-signer and --trust-unsigned-metadata "
                        "exclude each other\n"},
        MetadataRefusal{"UnknownEntity",
                        true,
                        {"--metadata-signer", "SIGNER", "--entity", "https://nobody.test/idp"},
                        9,
                        "corvane: error: IdP metadata holds no entity \"https://nobody.test/idp\"\n"
                        "corvane idp-metadata: the IdP is refused: options not usable (library "
                        "status -9)\n"}),
    corvane_test::RowName());

TEST_F(IdpMetadataCli, VerifyTakesTheIdpFromTheMetadata) {
    std::vector<std::string> args = metadataVerifyArgs(aggregate(true));
    args.insert(args.end(), {"--entity", kLoginIdp, signedLogin()});
    const Finished run = corvane(args);
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(run.out.find(std::string("nameId: ") + kLoginNameId + "\n"), std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find(std::string("idpEntityId: ") + kLoginIdp + "\n"), std::string::npos);

    // Control: the other IdP of the same metadata does not sign this login.
    std::vector<std::string> other = metadataVerifyArgs(aggregate(true));
    other.insert(other.end(), {"--entity", kOtherIdp, signedLogin()});
    const Finished refused = corvane(other);
    EXPECT_EQ(refused.exitCode, 7) << refused.err;
    EXPECT_EQ(refused.out, "");
}

TEST_F(IdpMetadataCli, VerifyOfAnAggregateNeedsTheEntity) {
    std::vector<std::string> args = metadataVerifyArgs(aggregate(true));
    args.push_back(signedLogin());
    const Finished run = corvane(args);
    EXPECT_EQ(run.exitCode, 9);
    EXPECT_EQ(run.err,
              "corvane: error: IdP metadata holds 2 IdPs: name the entity ID of one\ncorvane "
              "verify: the IdP metadata is refused: options not usable (library status -9)\n");
}

TEST_F(IdpMetadataCli, VerifyWithMetadataTakesNoCertOrIdp) {
    for (const char* option : {"--cert", "--idp"}) {
        std::vector<std::string> args = metadataVerifyArgs(aggregate(true));
        args.insert(args.end(), {option, idpCertPath(), signedLogin()});
        const Finished run = corvane(args);
        EXPECT_EQ(run.exitCode, 2);
        EXPECT_EQ(run.err, std::string("corvane verify: option ") + option +
                               " does not go with --idp-metadata (the IdP's settings come from "
                               "the metadata)\n");
    }
}

TEST_F(IdpMetadataCli, MetadataOptionsNeedTheMetadata) {
    for (const char* option : {"--metadata-signer", "--entity"}) {
        std::vector<std::string> args = loginArgs(kSpEntity);
        args.insert(args.end(), {option, signerPath(), signedLogin()});
        const Finished run = corvane(args);
        EXPECT_EQ(run.exitCode, 2);
        EXPECT_EQ(run.err,
                  std::string("corvane verify: option ") + option + " needs --idp-metadata\n");
    }
    const Finished request =
        corvane({"request", "--standard", "--destination", kDestination, "--issuer", kIssuer,
                 "--key", spKeyPath(), "--acs", kAcsUrl, "--http-redirect"});
    EXPECT_EQ(request.exitCode, 2);
    EXPECT_EQ(request.err, "corvane request: option --http-redirect needs --idp-metadata\n");
    const Finished plain = corvane(
        {"request", "--idp-metadata", aggregate(true), "--issuer", kIssuer, "--key", spKeyPath()});
    EXPECT_EQ(plain.exitCode, 2);
    EXPECT_EQ(plain.err, "corvane request: option --idp-metadata needs --standard\n");
}

TEST_F(IdpMetadataCli, RequestGoesToTheSsoUrlOfTheMetadata) {
    const std::vector<std::string> base = {
        "request",    "--standard", "--idp-metadata", aggregate(true), "--metadata-signer",
        signerPath(), "--entity",   kOtherIdp,        "--issuer",      kIssuer};
    std::vector<std::string> post = base;
    post.insert(post.end(), {"--key", spKeyPath(), "--acs", kAcsUrl});
    const Finished signedPost = corvane(post);
    EXPECT_EQ(signedPost.exitCode, 0) << signedPost.err;
    EXPECT_EQ(attributeOf(signedPost.out, "samlp:AuthnRequest", "Destination"),
              "https://idp.other.test/sso/post");

    std::vector<std::string> redirect = base;
    redirect.insert(redirect.end(), {"--http-redirect", "--key", spKeyPath()});
    const Finished url = corvane(redirect);
    EXPECT_EQ(url.exitCode, 0) << url.err;
    EXPECT_EQ(url.out.rfind("https://idp.other.test/sso/redirect?SAMLRequest=", 0), 0u) << url.out;
    EXPECT_NE(url.out.find("&Signature="), std::string::npos);

    // The IdP wants signed requests: an unsigned redirect is refused.
    std::vector<std::string> unsignedRedirect = base;
    unsignedRedirect.push_back("--http-redirect");
    const Finished refused = corvane(unsignedRedirect);
    EXPECT_EQ(refused.exitCode, 2);
    EXPECT_EQ(refused.err,
              "corvane request: the IdP's metadata asks for signed requests "
              "(WantAuthnRequestsSigned): give --key SP.pem\n");
    EXPECT_EQ(refused.out, "");
}

TEST_F(IdpMetadataCli, CertAcceptsBareBase64AndSaysWhatItFound) {
    std::vector<std::string> args = loginArgs(kSpEntity);
    args[2] = writeTemp("idp-cert.b64", certificateBody("test-idp-cert.pem") + "\n");
    args.push_back(signedLogin());
    const Finished bare = corvane(args);
    EXPECT_EQ(bare.exitCode, 0) << bare.err;

    const struct {
        std::string file;
        std::string found;
    } rows[] = {
        {aggregate(true),
         "found SAML metadata; give it with --idp-metadata FILE (and --metadata-signer or "
         "--trust-unsigned-metadata)"},
        {corvane_test::fixturePath("test-sp-key.pem"),
         "found a PEM PRIVATE KEY block, not a CERTIFICATE"},
        {writeTemp("words.txt", "not a certificate: no PEM, no base64\n"),
         "found neither a PEM certificate nor the base64 of one"},
        {writeTemp("short.b64", "QUJDRA==\n"), "found base64 that is not an X.509 certificate"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.file);
        args[2] = row.file;
        const Finished run = corvane(args);
        EXPECT_EQ(run.exitCode, 8);
        EXPECT_EQ(run.err, "corvane: error: Can not load IDP public key\ncorvane verify: --cert " +
                               row.file + ": not a usable certificate: " + row.found + "\n");
    }
}

TEST_F(IdpMetadataCli, HelpListsTheCommandAndItsStatuses) {
    const Finished run = corvane({"help", "idp-metadata"});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(linesOf(run.out).front(),
              "Usage: corvane idp-metadata FILE (--metadata-signer CERT.pem |");
    for (const char* status :
         {"\n  0  ", "\n  2  ", "\n  7  ", "\n  8  ", "\n  9  ", "\n 10  ", "\n 11  "})
        EXPECT_NE(run.out.find(status), std::string::npos) << status;
    const Finished overview = corvane({"--help"});
    EXPECT_NE(overview.out.find("\n  idp-metadata  "), std::string::npos);
}

}  // namespace
