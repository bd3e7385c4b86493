// corvane logout, driven as a child process: the SP's LogoutRequest and
// LogoutResponse for both bindings, and the IdP's messages verified from
// the raw query or a posted file, with the tool playing the IdP (its
// messages signed with the test IdP key); usage problems exit 2 and the
// library's refusals with their statuses.
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <corvane/corvane.h>
#include "cli_under_test.h"
#include "corvane_test_support.h"
#include "subprocess.h"

namespace {

using corvane_cli_test::Finished;

const char kIdp[] = "https://idp.example.test/logout-cli-test-only";
const char kSp[] = "https://sp.example.test/metadata";
const char kSpSlo[] = "https://sp.example.test/slo";
const char kIdpSlo[] = "https://idp.example.test/slo";

Finished corvane(const std::vector<std::string>& args) {
    std::vector<std::string> argv = CORVANE_CLI_COMMAND;
    argv.insert(argv.end(), args.begin(), args.end());
    Finished run = corvane_cli_test::runProcess(argv, "");
    EXPECT_TRUE(run.exited) << "not a normal exit: signal " << run.signal << " " << run.problem;
    return run;
}

std::string fixture(const char* name) { return corvane_test::fixturePath(name); }

// "_" and 32 lower-case hex digits: a fresh message ID.
bool isFreshId(const std::string& id) {
    return id.size() == 33 && id[0] == '_' &&
           id.find_first_not_of("0123456789abcdef", 1) == std::string::npos;
}

// What follows '?' in a printed URL, without the line break.
std::string queryOf(const std::string& urlLine) {
    const std::string url = urlLine.substr(0, urlLine.find('\n'));
    return url.substr(url.find('?') + 1);
}

// The IdP's messages, made by the tool with the test IdP key.
std::vector<std::string> idpResponseArgs(const std::string& requestId) {
    return {"logout",           "response", "--destination", kSpSlo,
            "--issuer",         kIdp,       "--key",         fixture("test-idp-key.pem"),
            "--in-response-to", requestId};
}
std::vector<std::string> idpRequestArgs() {
    return {"logout",
            "request",
            "--destination",
            kSpSlo,
            "--issuer",
            kIdp,
            "--key",
            fixture("test-idp-key.pem"),
            "--name-id",
            "alice-7f3a",
            "--name-id-format",
            "urn:oasis:names:tc:SAML:2.0:nameid-format:persistent",
            "--sp-name-qualifier",
            kSp,
            "--session-index",
            "_s-1",
            "--relay-state",
            "r 1"};
}
std::vector<std::string> verifyArgs(std::vector<std::string> more) {
    std::vector<std::string> args = {
        "logout", "verify", "--cert",        fixture("test-idp-cert.pem"),
        "--idp",  kIdp,     "--destination", kSpSlo};
    args.insert(args.end(), more.begin(), more.end());
    return args;
}

class CliLogout : public corvane_test::RecordingTest {
protected:
    void SetUp() override {
        RecordingTest::SetUp();
        std::string pattern = (std::filesystem::temp_directory_path() / "corvane-logout-XXXXXX");
        ASSERT_NE(::mkdtemp(&pattern[0]), nullptr);
        dir_ = pattern;
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }
    std::string path(const std::string& name) const { return dir_ + "/" + name; }
    std::string dir_;
};

TEST_F(CliLogout, TheSpsRequestIsARedirectUrlWhoseIdTheIdpsAnswerMustName) {
    const Finished request =
        corvane({"logout", "request", "--destination", kIdpSlo, "--issuer", kSp, "--key",
                 fixture("test-sp-key-and-cert.pem"), "--name-id", "alice", "--id-out", path("id"),
                 "--relay-state", "inbox"});
    ASSERT_EQ(request.exitCode, 0) << request.err;
    EXPECT_EQ(request.err, "");
    EXPECT_EQ(request.out.compare(0, std::string(kIdpSlo).size() + 13,
                                  std::string(kIdpSlo) + "?SAMLRequest="),
              0)
        << request.out;
    const std::string id = corvane_test::readFile(path("id"));
    ASSERT_EQ(id.back(), '\n');
    const std::string requestId = id.substr(0, id.size() - 1);
    ASSERT_TRUE(isFreshId(requestId)) << id;
    // The IdP's answer to exactly that request, by the tool with the IdP key.
    const Finished answer = corvane(idpResponseArgs(requestId));
    ASSERT_EQ(answer.exitCode, 0) << answer.err;
    const Finished verified =
        corvane(verifyArgs({"--query", queryOf(answer.out), "--request-id", requestId}));
    ASSERT_EQ(verified.exitCode, 0) << verified.err;
    EXPECT_NE(verified.out.find("outcome: Success\n"), std::string::npos) << verified.out;
    EXPECT_NE(verified.out.find("inResponseTo: " + requestId + "\n"), std::string::npos);
    EXPECT_NE(verified.out.find("signedByIdp: true\n"), std::string::npos);
    // The same answer for another request: refused by the profile (10).
    const Finished other =
        corvane(verifyArgs({"--query", queryOf(answer.out), "--request-id", "_another"}));
    EXPECT_EQ(other.exitCode, 10);
    EXPECT_EQ(other.out, "");
    EXPECT_EQ(other.err,
              "corvane: error: SAML LogoutResponse answers request \"" + requestId +
                  "\", not \"_another\"\ncorvane logout verify: the LogoutResponse is "
                  "refused: authentic, but refused by the profile (library status -10)\n");
}

TEST_F(CliLogout, AnIdpsRequestIsVerifiedFromTheQueryOrThePostedFile) {
    const Finished redirect = corvane(idpRequestArgs());
    ASSERT_EQ(redirect.exitCode, 0) << redirect.err;
    const Finished byQuery = corvane(verifyArgs({"--query", queryOf(redirect.out), "--json"}));
    ASSERT_EQ(byQuery.exitCode, 0) << byQuery.err;
    EXPECT_NE(byQuery.out.find("\"nameId\":\"alice-7f3a\""), std::string::npos) << byQuery.out;
    EXPECT_NE(byQuery.out.find("\"spNameQualifier\":\"https://sp.example.test/metadata\""),
              std::string::npos);
    EXPECT_NE(byQuery.out.find("\"sessionIndex\":\"_s-1\""), std::string::npos);
    EXPECT_NE(byQuery.out.find("\"relayState\":\"r 1\""), std::string::npos);

    std::vector<std::string> postArgs = idpRequestArgs();
    postArgs.insert(postArgs.end(), {"--binding", "post"});
    const Finished page = corvane(postArgs);
    ASSERT_EQ(page.exitCode, 0) << page.err;
    // The form's SAMLRequest value: base64, between the quotes.
    const std::string field = "name=\"SAMLRequest\" value=\"";
    const std::size_t at = page.out.find(field);
    ASSERT_NE(at, std::string::npos) << page.out;
    const std::string posted = page.out.substr(
        at + field.size(), page.out.find('"', at + field.size()) - at - field.size());
    corvane_test::writeFile(path("posted.b64"), posted);
    const Finished byPost = corvane(verifyArgs({"--post", path("posted.b64")}));
    ASSERT_EQ(byPost.exitCode, 0) << byPost.err;
    EXPECT_NE(byPost.out.find("nameId: alice-7f3a\n"), std::string::npos) << byPost.out;
    // The same message posted as XML.
    const corvane::Result<std::string> xml = corvane::base64Decode(posted);
    ASSERT_TRUE(xml.ok());
    corvane_test::writeFile(path("posted.xml"), xml.value());
    EXPECT_EQ(corvane(verifyArgs({"--post", path("posted.xml")})).exitCode, 0);
    // And as a raw form body holds it: '+', '/' and '=' percent-escaped.
    std::string escaped;
    for (const char c : posted) {
        const bool plain = c != '+' && c != '/' && c != '=';
        escaped += plain ? std::string(1, c) : c == '+' ? "%2B" : c == '/' ? "%2F" : "%3D";
    }
    ASSERT_NE(escaped, posted);
    corvane_test::writeFile(path("posted.form"), escaped);
    EXPECT_EQ(corvane(verifyArgs({"--post", path("posted.form")})).exitCode, 0);
    // Honest control beside: the query without its Signature is refused (7).
    const std::string query = queryOf(redirect.out);
    const Finished unsignedQuery =
        corvane(verifyArgs({"--query", query.substr(0, query.find("&Signature="))}));
    EXPECT_EQ(unsignedQuery.exitCode, 7);
    EXPECT_EQ(unsignedQuery.err,
              "corvane: error: HTTP-Redirect query carries no Signature\ncorvane logout verify: "
              "the LogoutRequest is refused: not authentic (library status -7)\n");
}

TEST_F(CliLogout, TheSpsResponseIsMadeForEitherBinding) {
    const Finished redirect =
        corvane({"logout", "response", "--destination", kIdpSlo, "--issuer", kSp, "--key",
                 fixture("test-sp-key-and-cert.pem"), "--in-response-to", "_idp-1", "--status",
                 "responder", "--status-message", "store down", "--json"});
    ASSERT_EQ(redirect.exitCode, 0) << redirect.err;
    // {"id":"_...","url":"https://idp.example.test/slo?SAMLResponse=..."}
    const std::string& out = redirect.out;
    const std::string url = "\",\"url\":\"https://idp.example.test/slo?SAMLResponse=";
    EXPECT_EQ(out.compare(0, 7, "{\"id\":\""), 0) << out;
    EXPECT_TRUE(isFreshId(out.substr(7, 33))) << out;
    EXPECT_EQ(out.compare(40, url.size(), url), 0) << out;
    EXPECT_NE(out.find("&SigAlg="), std::string::npos) << out;
    EXPECT_NE(out.find("&Signature="), std::string::npos) << out;
    EXPECT_EQ(out.substr(out.size() - 3), "\"}\n") << out;
    const Finished post = corvane({"logout", "response", "--destination", kIdpSlo, "--issuer", kSp,
                                   "--key", fixture("test-sp-key-and-cert.pem"), "--in-response-to",
                                   "_idp-1", "--binding", "post", "--out", path("page.html")});
    ASSERT_EQ(post.exitCode, 0) << post.err;
    EXPECT_NE(corvane_test::readFile(path("page.html")).find("name=\"SAMLResponse\""),
              std::string::npos);
}

// An IdP's own metadata naming kIdp and the certificate of certificateFile
// as its signing key.
std::string idpMetadata(const char* certificateFile) {
    const std::string pem = corvane_test::readFile(fixture(certificateFile));
    std::string body;
    for (std::size_t line = pem.find('\n') + 1; pem.compare(line, 5, "-----") != 0;) {
        const std::size_t end = pem.find('\n', line);
        body += pem.substr(line, end - line);
        line = end + 1;
    }
    return std::string(
               "<md:EntityDescriptor xmlns:md=\"urn:oasis:names:tc:SAML:2.0:metadata\" "
               "xmlns:ds=\"http://www.w3.org/2000/09/xmldsig#\" entityID=\"") +
           kIdp +
           "\"><md:IDPSSODescriptor "
           "protocolSupportEnumeration=\"urn:oasis:names:tc:SAML:2.0:protocol\">"
           "<md:KeyDescriptor use=\"signing\"><ds:KeyInfo><ds:X509Data><ds:X509Certificate>" +
           body +
           "</ds:X509Certificate></ds:X509Data></ds:KeyInfo></md:KeyDescriptor>"
           "<md:SingleLogoutService Binding=\"" +
           corvane::kBindingHttpRedirect + "\" Location=\"" + kIdpSlo +
           "\"/><md:SingleSignOnService Binding=\"" + corvane::kBindingHttpRedirect +
           "\" Location=\"https://idp.example.test/sso\"/></md:IDPSSODescriptor>"
           "</md:EntityDescriptor>";
}

TEST_F(CliLogout, TheIdpsEntityAndKeysComeFromItsMetadata) {
    const Finished redirect = corvane(idpRequestArgs());
    ASSERT_EQ(redirect.exitCode, 0) << redirect.err;
    const std::vector<std::string> byMetadata = {"logout",
                                                 "verify",
                                                 "--query",
                                                 queryOf(redirect.out),
                                                 "--idp-metadata",
                                                 path("idp.xml"),
                                                 "--trust-unsigned-metadata",
                                                 "--destination",
                                                 kSpSlo};
    corvane_test::writeFile(path("idp.xml"), idpMetadata("test-idp-cert.pem"));
    const Finished verified = corvane(byMetadata);
    ASSERT_EQ(verified.exitCode, 0) << verified.err;
    EXPECT_NE(verified.out.find(std::string("idpEntityId: ") + kIdp + "\n"), std::string::npos)
        << verified.out;
    EXPECT_NE(verified.out.find("nameId: alice-7f3a\n"), std::string::npos);
    // Control: metadata naming another key refuses the same message.
    corvane_test::writeFile(path("idp.xml"), idpMetadata("test-sp-cert.pem"));
    const Finished otherKey = corvane(byMetadata);
    EXPECT_EQ(otherKey.exitCode, 7) << otherKey.err;
    EXPECT_EQ(otherKey.out, "");
}

TEST_F(CliLogout, UnusableCommandLinesExitTwoAndLibraryRefusalsWithTheirStatus) {
    struct Row {
        const char* name;
        std::vector<std::string> args;
        int exitCode;
        std::string err;
    };
    const std::string key = fixture("test-sp-key-and-cert.pem");
    for (const Row& row : std::vector<Row>{
             {"no action",
              {"logout"},
              2,
              "corvane logout: missing action (request, verify or response)\n"},
             {"an option without an action",
              {"logout", "--json"},
              2,
              "corvane logout: option --json needs an action: request, verify or response\n"},
             {"verify without a message", verifyArgs({}), 2,
              "corvane logout: missing --query RAW_QUERY or --post FILE\n"},
             {"metadata with a --cert",
              {"logout", "verify", "--query", "q", "--idp-metadata", "m.xml",
               "--trust-unsigned-metadata", "--destination", kSpSlo, "--cert", "c.pem"},
              2,
              "corvane logout: option --cert does not go with --idp-metadata (the IdP's settings "
              "come from the metadata)\n"},
             {"metadata without a trust",
              {"logout", "verify", "--query", "q", "--idp-metadata", "m.xml", "--destination",
               kSpSlo},
              2,
              "corvane logout: missing --metadata-signer CERT.pem (or --trust-unsigned-metadata "
              "for an IdP's own metadata fetched over TLS)\n"},
             {"a metadata signer without metadata",
              {"logout", "verify", "--query", "q", "--metadata-signer", "s.pem"},
              2,
              "corvane logout: option --metadata-signer needs --idp-metadata\n"},
             {"verify with both", verifyArgs({"--query", "a", "--post", "b"}), 2,
              "corvane logout: --query and --post do not go together\n"},
             {"verify with a request option", verifyArgs({"--query", "a", "--name-id", "x"}), 2,
              "corvane logout: option --name-id does not go with logout verify\n"},
             {"request without a NameID",
              {"logout", "request", "--destination", kIdpSlo, "--issuer", kSp, "--key", key},
              2,
              "corvane logout: missing --name-id VALUE\n"},
             {"an unknown binding",
              {"logout", "request", "--destination", kIdpSlo, "--issuer", kSp, "--key", key,
               "--name-id", "a", "--binding", "soap"},
              2,
              "corvane logout: --binding must be redirect or post\n"},
             {"an unknown status",
              {"logout", "response", "--destination", kIdpSlo, "--issuer", kSp, "--key", key,
               "--in-response-to", "_r", "--status", "partial"},
              2,
              "corvane logout: --status must be success, requester or responder\n"},
             {"a RelayState over 80 bytes",
              {"logout", "request", "--destination", kIdpSlo, "--issuer", kSp, "--key", key,
               "--name-id", "a", "--relay-state", std::string(81, 'r')},
              9,
              "corvane: error: RelayState is longer than 80 bytes\ncorvane logout request: the "
              "request could not be made: options not usable (library status -9)\n"},
             {"a query with its message twice",
              verifyArgs({"--query", "SAMLRequest=a&SAMLRequest=b"}), 8,
              "corvane: error: HTTP-Redirect query carries SAMLRequest more than once\ncorvane "
              "logout verify: the LogoutRequest is refused: not usable (library status -8)\n"},
         }) {
        SCOPED_TRACE(row.name);
        const Finished run = corvane(row.args);
        EXPECT_EQ(run.exitCode, row.exitCode);
        EXPECT_EQ(run.err, row.err);
        EXPECT_EQ(run.out, "");
    }
    const Finished help = corvane({"help", "logout"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_NE(help.out.find("Usage: corvane logout request"), std::string::npos);
    EXPECT_NE(help.out.find("never redirect a browser to it"), std::string::npos);
}

}  // namespace
