// corvane-sp-server: a small SAML service provider in front of a web page,
// on the public interface <corvane/corvane.h> and Boost.Beast. See
// sp_app.h for its endpoints and README.md ("Put it in front of a web app")
// for how to run it against an IdP.
//
// Serves plain HTTP on a loopback address by default: put it behind a TLS
// proxy (and give --base-url https://...) to serve anyone else. One thread
// per connection, at most kMaxConnections at once; every request is bounded
// (headers 16 KiB, body 1 MiB) and every socket read and write times out.

#include <sys/socket.h>
#include <sys/time.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

#include <corvane/corvane.h>

#include "sp_app.h"

namespace {

namespace beast = boost::beast;
namespace http = beast::http;
using tcp = boost::asio::ip::tcp;

const int kMaxConnections = 64;
const std::size_t kMaxHeaderBytes = 16 * 1024;
const std::size_t kMaxBodyBytes = 1024 * 1024;
const int kSocketTimeoutSeconds = 15;

const char kUsage[] =
    "Usage: corvane-sp-server --sp-key FILE --idp-entity-id ID --idp-sso-url URL --idp-cert FILE\n"
    "                         [--idp-slo-url URL]\n"
    "       corvane-sp-server --sp-key FILE --idp-metadata FILE\n"
    "                         (--idp-metadata-signer CERT | --trust-unsigned-idp-metadata)\n"
    "                         [--idp-entity-id ID]\n"
    "                         [--encryption-key FILE] [--listen ADDRESS] [--port PORT]\n"
    "                         [--base-url URL] [--redis URL] [--allow-unsolicited]\n"
    "                         [--cookie-name NAME] [--name-id-format URI]\n"
    "\n"
    "  --sp-key FILE          the SP's RSA private key and its certificate (PEM): signs\n"
    "                         requests; its certificate is in /metadata\n"
    "  --encryption-key FILE  a private key and certificate (PEM) the IdP encrypts\n"
    "                         assertions to; offered in /metadata (default: none)\n"
    "  --idp-entity-id ID     the IdP's entity ID\n"
    "  --idp-sso-url URL      the IdP's single sign-on URL (HTTP-Redirect and HTTP-POST)\n"
    "  --idp-cert FILE        the IdP's signing certificate (PEM)\n"
    "  --idp-slo-url URL      the IdP's single logout URL (HTTP-Redirect and HTTP-POST);\n"
    "                         default: none, and /logout ends the local session only\n"
    "  --idp-metadata FILE    the IdP's SAML metadata instead of the four above: entity ID,\n"
    "                         single sign-on and logout URLs and signing certificates; with\n"
    "                         --idp-entity-id, that IdP of an aggregate\n"
    "  --idp-metadata-signer CERT  the certificate the metadata must be signed with (PEM)\n"
    "  --trust-unsigned-idp-metadata  WARNING: take the metadata without a signature, only\n"
    "                         for a file the host itself fetched over TLS from the IdP\n"
    "  --listen ADDRESS       the address to listen on (default 127.0.0.1)\n"
    "  --port PORT            the port to listen on (default 8080)\n"
    "  --base-url URL         how browsers reach this server (default http://ADDRESS:PORT);\n"
    "                         entity ID BASE/metadata, ACS BASE/acs, single logout\n"
    "                         BASE/slo; https:// makes the session cookie Secure\n"
    "  --redis URL            share the replay cache on Redis (redis://HOST:PORT[/DB]);\n"
    "                         default: in this process\n"
    "  --allow-unsolicited    WARNING: accept IdP-initiated logins (login CSRF)\n"
    "  --cookie-name NAME     the session cookie's name (default corvane_sp_session)\n"
    "  --name-id-format URI   the NameIDFormat asked for in /metadata (default: none)\n";

struct Options {
    std::string spKeyFile;
    std::string encryptionKeyFile;
    std::string idpEntityId;
    std::string idpSsoUrl;
    std::string idpCertFile;
    std::string idpSloUrl;
    std::string idpMetadataFile;
    std::string idpMetadataSignerFile;
    bool trustUnsignedIdpMetadata = false;
    std::string listen = "127.0.0.1";
    unsigned short port = 8080;
    std::string baseUrl;
    std::string redisUrl;
    bool allowUnsolicited = false;
    std::string cookieName = "corvane_sp_session";
    std::string nameIdFormat;
};

bool fail(const std::string& message) {
    std::cerr << "corvane-sp-server: " << message << '\n';
    return false;
}

bool parseOptions(int argc, char** argv, Options* options) {
    for (int i = 1; i < argc; ++i) {
        const std::string name = argv[i];
        if (name == "--allow-unsolicited") {
            options->allowUnsolicited = true;
            continue;
        }
        if (name == "--trust-unsigned-idp-metadata") {
            options->trustUnsignedIdpMetadata = true;
            continue;
        }
        if (name == "--help") return fail(std::string("\n") + kUsage);
        if (i + 1 >= argc) return fail("missing value after " + name + "\n" + kUsage);
        const std::string value = argv[++i];
        if (name == "--sp-key")
            options->spKeyFile = value;
        else if (name == "--encryption-key")
            options->encryptionKeyFile = value;
        else if (name == "--idp-entity-id")
            options->idpEntityId = value;
        else if (name == "--idp-sso-url")
            options->idpSsoUrl = value;
        else if (name == "--idp-cert")
            options->idpCertFile = value;
        else if (name == "--idp-slo-url")
            options->idpSloUrl = value;
        else if (name == "--idp-metadata")
            options->idpMetadataFile = value;
        else if (name == "--idp-metadata-signer")
            options->idpMetadataSignerFile = value;
        else if (name == "--listen")
            options->listen = value;
        else if (name == "--base-url")
            options->baseUrl = value;
        else if (name == "--redis")
            options->redisUrl = value;
        else if (name == "--cookie-name")
            options->cookieName = value;
        else if (name == "--name-id-format")
            options->nameIdFormat = value;
        else if (name == "--port") {
            char* end = nullptr;
            const long port = std::strtol(value.c_str(), &end, 10);
            if (*end != '\0' || port < 1 || port > 65535) return fail("--port must be 1 to 65535");
            options->port = static_cast<unsigned short>(port);
        } else {
            return fail("unknown option " + name + "\n" + kUsage);
        }
    }
    if (options->spKeyFile.empty()) return fail(std::string("--sp-key is required\n") + kUsage);
    if (options->baseUrl.empty())
        options->baseUrl = "http://" + options->listen + ":" + std::to_string(options->port);
    while (!options->baseUrl.empty() && options->baseUrl.back() == '/') options->baseUrl.pop_back();
    return true;
}

bool readFile(const std::string& path, std::string* text) {
    std::ifstream file(path, std::ios::binary);
    if (!file) return fail("cannot read " + path);
    std::ostringstream contents;
    contents << file.rdbuf();
    *text = contents.str();
    return true;
}

// What the SP needs to know of its IdP: from --idp-entity-id, --idp-sso-url
// and --idp-cert, or from the IdP's metadata (--idp-metadata).
struct IdpSettings {
    std::string entityId;
    std::string ssoRedirectUrl;
    std::string ssoPostUrl;
    std::vector<corvane::KeyPtr> signingCertificates;
    sp_server::IdpLogoutEndpoint logoutRedirect;
    sp_server::IdpLogoutEndpoint logoutPost;
};

bool idpSettingsFromOptions(const Options& options, IdpSettings* idp) {
    if (options.idpEntityId.empty() || options.idpSsoUrl.empty() || options.idpCertFile.empty()) {
        return fail(std::string("--idp-entity-id, --idp-sso-url and --idp-cert are required\n") +
                    kUsage);
    }
    std::string pem;
    if (!readFile(options.idpCertFile, &pem)) return false;
    const corvane::Result<corvane::KeyPtr> certificate = corvane::Key::loadCertificate(pem);
    if (!certificate.ok()) return fail(options.idpCertFile + ": " + certificate.message());
    idp->entityId = options.idpEntityId;
    idp->ssoRedirectUrl = options.idpSsoUrl;
    idp->ssoPostUrl = options.idpSsoUrl;
    idp->signingCertificates = {certificate.value()};
    idp->logoutRedirect.url = options.idpSloUrl;
    idp->logoutPost.url = options.idpSloUrl;
    return true;
}

// The IdP's single logout endpoint for binding, where its metadata has one;
// left empty (that binding unused) where it has none.
void logoutEndpointFromMetadata(const corvane::IdpDescriptor& descriptor, const char* binding,
                                sp_server::IdpLogoutEndpoint* endpoint) {
    corvane::LogoutRequestOptions request;
    corvane::LogoutResponseOptions response;
    if (!corvane::useIdpForLogoutRequest(descriptor, binding, &request).ok() ||
        !corvane::useIdpForLogoutResponse(descriptor, binding, &response).ok()) {
        return;
    }
    endpoint->url = request.destination;
    endpoint->responseUrl = response.destination;
}

// The IdP of verified metadata: signed with the --idp-metadata-signer
// certificate, or unsigned only with --trust-unsigned-idp-metadata; exactly
// the --idp-entity-id entity, or the document's only IdP.
bool idpSettingsFromMetadata(const Options& options, IdpSettings* idp) {
    if (options.idpMetadataSignerFile.empty() == !options.trustUnsignedIdpMetadata) {
        return fail(
            "--idp-metadata needs --idp-metadata-signer CERT or --trust-unsigned-idp-metadata");
    }
    if (!options.idpSsoUrl.empty() || !options.idpCertFile.empty() || !options.idpSloUrl.empty()) {
        return fail("--idp-metadata replaces --idp-sso-url, --idp-cert and --idp-slo-url");
    }
    corvane::IdpMetadataOptions metadataOptions;
    metadataOptions.trustUnsignedMetadata = options.trustUnsignedIdpMetadata;
    if (!options.idpMetadataSignerFile.empty()) {
        std::string pem;
        if (!readFile(options.idpMetadataSignerFile, &pem)) return false;
        const corvane::Result<corvane::KeyPtr> signer = corvane::Key::loadCertificate(pem);
        if (!signer.ok()) return fail(options.idpMetadataSignerFile + ": " + signer.message());
        metadataOptions.signerKeys = {signer.value()};
    }
    std::string xml;
    if (!readFile(options.idpMetadataFile, &xml)) return false;
    const corvane::Result<corvane::IdpDescriptor> descriptor =
        corvane::loadIdpDescriptor(xml, metadataOptions, options.idpEntityId);
    if (!descriptor.ok()) return fail(options.idpMetadataFile + ": " + descriptor.message());

    corvane::LoginExpectations login;
    corvane::StandardRequestOptions byRedirect;
    corvane::StandardRequestOptions byPost;
    for (const corvane::Result<void>& used :
         {corvane::useIdpForLogin(descriptor.value(), &login),
          corvane::useIdpForRequest(descriptor.value(), corvane::kBindingHttpRedirect, &byRedirect),
          corvane::useIdpForRequest(descriptor.value(), corvane::kBindingHttpPost, &byPost)}) {
        if (!used.ok()) return fail(options.idpMetadataFile + ": " + used.message());
    }
    idp->entityId = login.idpEntityId;
    idp->signingCertificates = login.idpCertificates;
    idp->ssoRedirectUrl = byRedirect.destination;
    idp->ssoPostUrl = byPost.destination;
    logoutEndpointFromMetadata(descriptor.value(), corvane::kBindingHttpRedirect,
                               &idp->logoutRedirect);
    logoutEndpointFromMetadata(descriptor.value(), corvane::kBindingHttpPost, &idp->logoutPost);
    return true;
}

bool loadPrivateKey(const std::string& path, corvane::KeyPtr* key) {
    std::string pem;
    if (!readFile(path, &pem)) return false;
    const corvane::Result<corvane::KeyPtr> loaded = corvane::Key::loadPrivateKey(pem);
    if (!loaded.ok()) return fail(path + ": " + loaded.message());
    if (!loaded.value()->hasCertificate())
        return fail(path + ": the certificate must follow the key");
    *key = loaded.value();
    return true;
}

bool buildConfig(const Options& options, sp_server::SpConfig* config) {
    IdpSettings idp;
    const bool fromMetadata = !options.idpMetadataFile.empty();
    if (!(fromMetadata ? idpSettingsFromMetadata(options, &idp)
                       : idpSettingsFromOptions(options, &idp))) {
        return false;
    }
    config->idpEntityId = idp.entityId;
    config->idpSsoRedirectUrl = idp.ssoRedirectUrl;
    config->idpSsoPostUrl = idp.ssoPostUrl;
    config->idpCertificates = idp.signingCertificates;
    config->idpLogoutRedirect = idp.logoutRedirect;
    config->idpLogoutPost = idp.logoutPost;
    if (!loadPrivateKey(options.spKeyFile, &config->spKey)) return false;
    if (!options.encryptionKeyFile.empty() &&
        !loadPrivateKey(options.encryptionKeyFile, &config->encryptionKey)) {
        return false;
    }
    config->spEntityId = options.baseUrl + "/metadata";
    config->acsUrl = options.baseUrl + "/acs";
    config->sloUrl = options.baseUrl + "/slo";
    config->nameIdFormat = options.nameIdFormat;
    config->allowUnsolicited = options.allowUnsolicited;
    config->cookieName = options.cookieName;
    config->secureCookie = options.baseUrl.compare(0, 8, "https://") == 0;
    config->maxBodyBytes = kMaxBodyBytes;
    if (options.redisUrl.empty()) {
        config->replayCache = corvane::newInProcessReplayCache();
    } else {
        corvane::RedisReplayCacheOptions redis;
        redis.url = options.redisUrl;
        std::string problem;
        config->replayCache = corvane::newRedisReplayCache(redis, &problem);
        if (!config->replayCache) return fail("--redis: " + problem);
    }
    return true;
}

std::mutex g_logMutex;

// One line on standard error. Lines carry text from requests and responses
// (targets, the library's messages naming signed values): control
// characters become '?', so no line can forge another or drive a terminal.
void logLine(const std::string& line) {
    std::string shown;
    for (const char c : line) {
        const unsigned char byte = static_cast<unsigned char>(c);
        shown += (byte < 0x20 || byte == 0x7f) ? '?' : c;
    }
    std::lock_guard<std::mutex> lock(g_logMutex);
    std::cerr << shown << std::endl;
}

// A request's method or target as it is logged: at most 200 characters.
std::string loggable(const std::string& text) { return text.substr(0, 200); }

void setSocketTimeouts(tcp::socket& socket) {
    timeval timeout{};
    timeout.tv_sec = kSocketTimeoutSeconds;
    setsockopt(socket.native_handle(), SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    setsockopt(socket.native_handle(), SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
}

void writeResponse(tcp::socket& socket, const sp_server::HttpResponse& answer, bool keepAlive,
                   beast::error_code& ec) {
    http::response<http::string_body> response{static_cast<http::status>(answer.status), 11};
    response.set(http::field::server, "corvane-sp-server");
    response.set(http::field::content_type, answer.contentType);
    for (const auto& header : answer.headers) response.insert(header.first, header.second);
    response.body() = answer.body;
    response.keep_alive(keepAlive);
    response.prepare_payload();
    http::write(socket, response, ec);
}

// The answer to a request that could not be read: too large a body (413),
// too large a header (431), or not HTTP/1 (400).
sp_server::HttpResponse refusalOfUnreadable(const beast::error_code& ec) {
    if (ec == http::error::body_limit) {
        return sp_server::errorPage(413, "Request too large",
                                    "The request body is larger than this server accepts.");
    }
    if (ec == http::error::header_limit) {
        return sp_server::errorPage(431, "Request too large",
                                    "The request header is larger than this server accepts.");
    }
    return sp_server::errorPage(400, "Bad request", "The request could not be read.");
}

// Reads requests from one connection and answers each, until the browser
// closes it, an error, or a request that cannot be read.
void serveConnection(tcp::socket socket, sp_server::SpApp& app) {
    setSocketTimeouts(socket);
    beast::flat_buffer buffer;
    beast::error_code ec;
    for (;;) {
        http::request_parser<http::string_body> parser;
        parser.header_limit(kMaxHeaderBytes);
        parser.body_limit(kMaxBodyBytes);
        http::read(socket, buffer, parser, ec);
        if (ec == http::error::end_of_stream || ec == boost::asio::error::eof ||
            ec == boost::asio::error::connection_reset) {
            break;
        }
        if (ec) {
            if (ec == boost::asio::error::would_block || ec == boost::asio::error::timed_out) break;
            const sp_server::HttpResponse refusal = refusalOfUnreadable(ec);
            logLine("- (unreadable request) " + std::to_string(refusal.status) + " " +
                    ec.message());
            writeResponse(socket, refusal, false, ec);
            break;
        }
        const http::request<http::string_body>& request = parser.get();
        sp_server::HttpRequest mine;
        mine.method = std::string(request.method_string());
        mine.target = std::string(request.target());
        mine.cookieHeader = std::string(request[http::field::cookie]);
        mine.contentType = std::string(request[http::field::content_type]);
        mine.body = request.body();
        const sp_server::HttpResponse answer = app.handle(mine);
        logLine(loggable(mine.method) + " " + loggable(mine.target) + " " +
                std::to_string(answer.status));
        writeResponse(socket, answer, request.keep_alive(), ec);
        if (ec || !request.keep_alive()) break;
    }
    socket.shutdown(tcp::socket::shutdown_both, ec);
}

std::atomic<int> g_connections{0};

int serve(const Options& options, sp_server::SpApp& app) {
    boost::asio::io_context context{1};
    beast::error_code ec;
    const boost::asio::ip::address address = boost::asio::ip::make_address(options.listen, ec);
    if (ec) return fail("--listen: not an IP address: " + options.listen), 2;
    if (!address.is_loopback()) {
        logLine("WARNING: listening on " + options.listen +
                ", not a loopback address: serve others through TLS");
    }
    tcp::acceptor acceptor{context};
    const tcp::endpoint endpoint{address, options.port};
    acceptor.open(endpoint.protocol(), ec);
    if (!ec) acceptor.set_option(boost::asio::socket_base::reuse_address(true), ec);
    if (!ec) acceptor.bind(endpoint, ec);
    if (!ec) acceptor.listen(boost::asio::socket_base::max_listen_connections, ec);
    if (ec)
        return fail("cannot listen on " + options.listen + ":" + std::to_string(options.port) +
                    ": " + ec.message()),
               2;
    logLine("corvane-sp-server: listening on " + options.listen + ":" +
            std::to_string(options.port) + ", entity ID " + options.baseUrl + "/metadata");
    for (;;) {
        tcp::socket socket{context};
        acceptor.accept(socket, ec);
        if (ec) continue;
        if (g_connections.load() >= kMaxConnections) {
            socket.close(ec);
            continue;
        }
        ++g_connections;
        std::thread([connection = std::move(socket), &app]() mutable {
            serveConnection(std::move(connection), app);
            --g_connections;
        }).detach();
    }
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (!parseOptions(argc, argv, &options)) return 2;
    corvane::Result<corvane::Library> library =
        corvane::Library::start([](int level, const std::string& message) {
            if (level <= 2) logLine("[corvane " + std::to_string(level) + "] " + message);
        });
    if (!library.ok()) return fail("the library did not start: " + library.message()), 1;
    sp_server::SpConfig config;
    if (!buildConfig(options, &config)) return 2;
    config.log = logLine;
    if (config.allowUnsolicited)
        logLine("WARNING: IdP-initiated (unsolicited) logins are accepted");
    sp_server::SpApp app(std::move(config));
    return serve(options, app);
}
