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

std::string summaryFor(int status) {
    if (status == -7) return "corvane verify: the response is not acceptable (library status -7)\n";
    return "corvane verify: the response is unusable or its signature could not be checked "
           "(library status -8)\n";
}

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
    // Signed over the Response; with day, every time stamp moved to that
    // day ("YYYY-MM-DD").
    std::string signedLogin(const std::string& day = "") {
        std::string xml = corvane_test::readFixture("login-response-template.xml");
        if (!day.empty()) xml = corvane_test::replaceAll(xml, "2024-03-01", day);
        xml = corvane_test::replaceAll(xml, "{{ASSERTION_SIGNATURE}}", "");
        xml = corvane_test::replaceAll(
            xml, "{{RESPONSE_SIGNATURE}}",
            corvane_test::signatureTemplate("#_login-response-1", corvane_test::SigAlg::RsaSha256));
        const std::string in = writeTemp("unsigned.xml", xml);
        const Finished sign = corvane_cli_test::runProcess(
            {CORVANE_CLI_XMLSEC1, "--sign", "--privkey-pem", corvane_test::fixturePath("test-idp-key.pem"),
             "--id-attr:ID", "urn:oasis:names:tc:SAML:2.0:protocol:Response", "--output",
             path("signed.xml"), in},
            "");
        EXPECT_EQ(sign.exitCode, 0) << sign.err << sign.problem;
        return path("signed.xml");
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
    args.insert(args.end(), {"--replay-cache", server.url(), signedLogin(day)});

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

}  // namespace
