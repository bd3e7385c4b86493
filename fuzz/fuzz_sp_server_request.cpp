// The example SP server's request handling (examples/sp-server) on arbitrary
// requests. The input is split at NUL bytes into method, target, Cookie
// header, Content-Type and body (missing fields are empty); the whole input
// also goes through the request-part readers as text. Whatever the input:
// - the answer's status is one the server gives (200, 302, 303, 400, 403,
//   404, 405, 413, 415, 503), a success only on its own path and method,
//   a 302 only to the IdP's configured URLs, a 303 only to "/" (never
//   anywhere a request names), single logout (/logout, /slo) included;
// - htmlEscape's text holds no markup character and no control character
//   but tab and line break;
// - what formDecode accepts decodes the same when every byte is escaped,
//   and a cookie value never holds the separator ';'.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <corvane/corvane.h>

#include "request_parts.h"
#include "sp_app.h"

namespace {

void require(bool condition, const char* what) {
    if (condition) return;
    std::fprintf(stderr, "corvane fuzz check failed: %s\n", what);
    std::abort();
}

std::string fixture(const std::string& name) {
    std::ifstream file(std::string(CORVANE_FIXTURES_DIR) + "/" + name, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

struct Setup {
    corvane::Library library;
    sp_server::SpApp app;
    static sp_server::SpConfig config() {
        sp_server::SpConfig c;
        c.spEntityId = "https://sp.example.test/metadata";
        c.acsUrl = "https://sp.example.test/acs";
        c.idpEntityId = "https://idp.example.test/metadata";
        c.idpSsoRedirectUrl = "https://idp.example.test/sso";
        c.idpSsoPostUrl = "https://idp.example.test/sso";
        c.idpLogoutRedirect = {"https://idp.example.test/slo", "https://idp.example.test/slo-r"};
        c.idpLogoutPost = {"https://idp.example.test/slo", ""};
        c.sloUrl = "https://sp.example.test/slo";
        c.idpCertificates = {corvane::Key::loadCertificate(fixture("test-idp-cert.pem")).value()};
        c.spKey = corvane::Key::loadPrivateKey(fixture("test-sp-key-and-cert.pem")).value();
        c.replayCache = corvane::newInProcessReplayCache(1000);
        c.maxSessions = 64;
        c.maxBodyBytes = 64 * 1024;
        return c;
    }
    Setup() : library(corvane::Library::start().value()), app(config()) {}
};

Setup& setup() {
    static Setup* made = new Setup();  // kept until exit, after the last input
    return *made;
}

std::vector<std::string> fieldsOf(const std::string& input, std::size_t count) {
    std::vector<std::string> fields;
    std::string::size_type start = 0;
    while (fields.size() + 1 < count) {
        const std::string::size_type nul = input.find('\0', start);
        if (nul == std::string::npos) break;
        fields.push_back(input.substr(start, nul - start));
        start = nul + 1;
    }
    fields.push_back(start <= input.size() ? input.substr(start) : std::string());
    fields.resize(count);
    return fields;
}

void checkAnswer(const sp_server::HttpRequest& request, const sp_server::HttpResponse& answer) {
    const int s = answer.status;
    require(s == 200 || s == 302 || s == 303 || s == 400 || s == 403 || s == 404 || s == 405 ||
                s == 413 || s == 415 || s == 503,
            "a status the server gives");
    const std::string path = sp_server::targetPath(request.target);
    const bool get = request.method == "GET";
    const bool post = request.method == "POST";
    if (s == 200) {
        require((get && (path == "/" || path == "/login" || path == "/metadata")) ||
                    ((get || post) && path == "/slo") || (post && path == "/logout"),
                "a page only on its own path");
    }
    if (s == 302) {
        require((get && (path == "/login" || path == "/slo")) || (post && path == "/logout"),
                "a redirect only to sign in or out");
        require(answer.header("Location").rfind("https://idp.example.test/", 0) == 0,
                "a redirect only to the IdP");
    }
    if (s == 303) {
        require(post && (path == "/acs" || path == "/logout"), "a login only at the ACS");
        require(answer.header("Location") == "/", "after a login, only to the start page");
    }
}

std::string everyByteEscaped(const std::string& text) {
    std::string escaped;
    for (const char c : text) {
        char digits[4];
        std::snprintf(digits, sizeof digits, "%%%02X", static_cast<unsigned char>(c));
        escaped += digits;
    }
    return escaped;
}

void checkParts(const std::string& text) {
    for (const char c : sp_server::htmlEscape(text)) {
        const unsigned char byte = static_cast<unsigned char>(c);
        require(c != '<' && c != '>' && c != '"' && c != '\'',
                "no markup character after escaping");
        require(byte >= 0x20 ? byte != 0x7f : (c == '\t' || c == '\n'),
                "no control character after escaping");
    }
    const std::optional<std::string> decoded = sp_server::formDecode(text);
    if (decoded)
        require(sp_server::formDecode(everyByteEscaped(*decoded)) == decoded,
                "escaping decodes back");
    const std::optional<std::string> cookie = sp_server::cookieValue(text, "corvane_sp_session");
    if (cookie)
        require(cookie->find(';') == std::string::npos, "a cookie value holds no separator");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    const std::vector<std::string> fields = fieldsOf(input, 5);
    sp_server::HttpRequest request;
    request.method = fields[0];
    request.target = fields[1];
    request.cookieHeader = fields[2];
    request.contentType = fields[3];
    request.body = fields[4];
    checkAnswer(request, setup().app.handle(request));
    checkParts(input);
    return 0;
}
