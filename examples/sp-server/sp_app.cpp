#include "sp_app.h"

#include <ctime>
#include <optional>

#include "request_parts.h"

namespace sp_server {

namespace {

// Pages of this server load nothing and run no script; the POST binding's
// form runs its one inline script and posts to the IdP.
const char kPageSecurityPolicy[] = "default-src 'none'; style-src 'unsafe-inline'";
const char kPostFormSecurityPolicy[] = "default-src 'none'; script-src 'unsafe-inline'";
const char kStyle[] =
    "body{font-family:sans-serif;margin:2em;max-width:60em}"
    "table{border-collapse:collapse}td,th{border:1px solid #999;padding:.3em .6em;"
    "text-align:left;vertical-align:top}";

HttpResponse htmlPage(int status, const std::string& title, const std::string& bodyHtml) {
    HttpResponse response;
    response.status = status;
    response.headers = {{"Cache-Control", "no-store"},
                        {"Content-Security-Policy", kPageSecurityPolicy},
                        {"X-Content-Type-Options", "nosniff"},
                        {"Referrer-Policy", "no-referrer"}};
    response.body = "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>" +
                    htmlEscape(title) + "</title><style>" + kStyle + "</style></head><body>\n<h1>" +
                    htmlEscape(title) + "</h1>\n" + bodyHtml + "</body></html>\n";
    return response;
}

HttpResponse redirectTo(int status, const std::string& location) {
    HttpResponse response;
    response.status = status;
    response.contentType = "text/plain; charset=utf-8";
    response.headers = {
        {"Location", location}, {"Cache-Control", "no-store"}, {"Referrer-Policy", "no-referrer"}};
    return response;
}

HttpResponse methodNotAllowed(const std::string& allowed) {
    HttpResponse response =
        errorPage(405, "Method not allowed", "This address answers " + allowed + " only.");
    response.headers.emplace_back("Allow", allowed);
    return response;
}

std::string row(const std::string& name, const std::string& value) {
    return "<tr><th>" + htmlEscape(name) + "</th><td>" + htmlEscape(value) + "</td></tr>\n";
}

// The verified login as two tables; every signed text escaped.
std::string loginHtml(const corvane::VerifiedLogin& login) {
    std::string html = "<p>Signed in as <strong id=\"name-id\">" + htmlEscape(login.nameId) +
                       "</strong></p>\n<table id=\"login\">\n";
    html += row("IdP", login.idpEntityId);
    html += row("NameID format", login.nameIdFormat);
    html += row("Session index", login.sessionIndex);
    html += row("Authenticated at", login.authnInstant);
    html += row("Authentication context", login.authnContextClassRef);
    html += row("Answers request",
                login.inResponseTo.empty() ? "(none: IdP-initiated)" : login.inResponseTo);
    html += row("Assertion encrypted", login.assertionEncrypted ? "yes" : "no");
    html += "</table>\n<h2>Attributes</h2>\n<table id=\"attributes\">\n";
    for (const auto& attribute : login.attributes) {
        std::string values;
        for (const std::string& value : attribute.second.values) {
            values += "<li>" + htmlEscape(value) + "</li>";
        }
        html += "<tr><th>" + htmlEscape(attribute.first) + "</th><td><ul>" + values +
                "</ul></td></tr>\n";
    }
    return html + "</table>\n";
}

const char kSignInLinks[] =
    "<p>Not signed in.</p>\n<ul>\n<li><a id=\"login-redirect\" href=\"/login\">Sign in "
    "(HTTP-Redirect)</a></li>\n"
    "<li><a id=\"login-post\" href=\"/login?binding=post\">Sign in (HTTP-POST)</a></li>\n</ul>\n";

}  // namespace

std::string HttpResponse::header(const std::string& name) const {
    for (const auto& entry : headers) {
        if (entry.first == name) return entry.second;
    }
    return std::string();
}

HttpResponse errorPage(int status, const std::string& title, const std::string& detail) {
    return htmlPage(
        status, title,
        "<p id=\"error\">" + htmlEscape(detail) + "</p>\n<p><a href=\"/\">Start page</a></p>\n");
}

int httpStatusForLoginFailure(corvane::Status status) {
    switch (status) {
        case corvane::Status::Unusable:
        case corvane::Status::BadOptions:
            return 400;
        case corvane::Status::NotAuthentic:
        case corvane::Status::ProfileRefused:
            return 403;
        case corvane::Status::TooLarge:
            return 413;
        case corvane::Status::ReplayCacheFailed:
            return 503;
        default:
            return 500;
    }
}

SpApp::SpApp(SpConfig config)
    : m_config(std::move(config)),
      m_sessions(m_config.maxSessions, m_config.sessionLifetimeSeconds) {}

long long SpApp::now() const {
    return m_config.clock ? m_config.clock() : static_cast<long long>(std::time(nullptr));
}

void SpApp::log(const std::string& line) const {
    if (m_config.log) m_config.log(line);
}

std::string SpApp::sessionIdOf(const HttpRequest& request) const {
    return cookieValue(request.cookieHeader, m_config.cookieName).value_or(std::string());
}

std::string SpApp::setCookieValue(const std::string& sessionId) const {
    return m_config.cookieName + "=" + sessionId + "; Path=/; HttpOnly; " +
           (m_config.secureCookie ? "Secure; SameSite=None" : "SameSite=Lax");
}

HttpResponse SpApp::handle(const HttpRequest& request) {
    const std::string path = targetPath(request.target);
    if (path == "/") return request.method == "GET" ? home(request) : methodNotAllowed("GET");
    if (path == "/login")
        return request.method == "GET" ? startLogin(request) : methodNotAllowed("GET");
    if (path == "/acs")
        return request.method == "POST" ? consumeAssertion(request) : methodNotAllowed("POST");
    if (path == "/metadata") return request.method == "GET" ? metadata() : methodNotAllowed("GET");
    return errorPage(404, "Not found", "There is nothing at this address.");
}

HttpResponse SpApp::home(const HttpRequest& request) {
    const std::optional<Session> session = m_sessions.find(sessionIdOf(request), now());
    if (!session || !session->login) return htmlPage(200, "corvane example SP", kSignInLinks);
    return htmlPage(200, "corvane example SP", loginHtml(*session->login));
}

HttpResponse SpApp::startLogin(const HttpRequest& request) {
    const std::string query = targetQuery(request.target);
    const std::optional<std::string> binding = formField(query, "binding");
    const bool byPost = binding && *binding == "post";
    const bool named = rawFormField(query, "binding").has_value();
    if (named && (!binding || (!byPost && *binding != "redirect"))) {
        return errorPage(400, "Bad request", "The binding must be \"redirect\" or \"post\".");
    }
    corvane::StandardRequestOptions options;
    options.destination = byPost ? m_config.idpSsoPostUrl : m_config.idpSsoRedirectUrl;
    options.issuer = m_config.spEntityId;
    options.acsUrl = m_config.acsUrl;

    std::string requestId;
    HttpResponse response;
    if (byPost) {
        const corvane::Result<corvane::AuthnRequest> authnRequest =
            corvane::createSignedAuthnRequest(options, *m_config.spKey);
        const corvane::Result<std::string> form =
            authnRequest.ok()
                ? corvane::postForm(m_config.idpSsoPostUrl, authnRequest.value().xml, "")
                : corvane::Result<std::string>::failure(authnRequest.status(),
                                                        authnRequest.message());
        if (!form.ok()) {
            log("AuthnRequest not made: " + form.message());
            return errorPage(500, "Sign-in not possible",
                             "The request to the IdP could not be made.");
        }
        requestId = authnRequest.value().id;
        response.body = form.value();
        response.headers = {{"Cache-Control", "no-store"},
                            {"Content-Security-Policy", kPostFormSecurityPolicy}};
    } else {
        const corvane::Result<corvane::RedirectRequest> redirect =
            corvane::createRedirectRequest(options, "", m_config.spKey.get());
        if (!redirect.ok()) {
            log("AuthnRequest not made: " + redirect.message());
            return errorPage(500, "Sign-in not possible",
                             "The request to the IdP could not be made.");
        }
        requestId = redirect.value().id;
        response = redirectTo(302, redirect.value().url);
    }

    // The request ID goes into this browser's session; a browser without a
    // live session gets a new one.
    std::string sessionId = sessionIdOf(request);
    std::optional<Session> session = m_sessions.find(sessionId, now());
    if (session) {
        session->pendingRequestId = requestId;
        m_sessions.update(sessionId, *session, now());
    } else {
        Session fresh;
        fresh.pendingRequestId = requestId;
        sessionId = m_sessions.create(fresh, now());
        if (sessionId.empty()) {
            return errorPage(503, "Sign-in not possible",
                             "Too many sign-ins are under way; try again later.");
        }
    }
    response.headers.emplace_back("Set-Cookie", setCookieValue(sessionId));
    return response;
}

corvane::LoginExpectations SpApp::expectationsFor(const std::string& pendingRequestId) const {
    corvane::LoginExpectations expected;
    expected.idpEntityId = m_config.idpEntityId;
    expected.idpCertificates = m_config.idpCertificates;
    expected.spEntityId = m_config.spEntityId;
    expected.acsUrl = m_config.acsUrl;
    expected.requestId = pendingRequestId;
    expected.allowUnsolicited = m_config.allowUnsolicited;
    if (m_config.encryptionKey) expected.spDecryptionKeys = {m_config.encryptionKey};
    expected.replayCache = m_config.replayCache;
    expected.maxMessageBytes = m_config.maxBodyBytes;
    expected.now = now();
    return expected;
}

HttpResponse SpApp::consumeAssertion(const HttpRequest& request) {
    if (request.body.size() > m_config.maxBodyBytes) {
        return errorPage(413, "Login refused", "The posted form is too large.");
    }
    if (!isFormContentType(request.contentType)) {
        return errorPage(415, "Login refused", "The login must be posted as an HTML form.");
    }
    const std::optional<std::string> samlResponse = rawFormField(request.body, "SAMLResponse");
    if (!samlResponse || samlResponse->empty()) {
        return errorPage(400, "Login refused", "The form carries no SAMLResponse.");
    }
    const std::string oldSessionId = sessionIdOf(request);
    const std::optional<Session> session = m_sessions.find(oldSessionId, now());
    const std::string pendingRequestId = session ? session->pendingRequestId : std::string();
    if (pendingRequestId.empty() && !m_config.allowUnsolicited) {
        return errorPage(
            400, "Login refused",
            "No sign-in was started in this browser, and logins the IdP starts on its own are not "
            "accepted here.");
    }

    const corvane::Result<corvane::VerifiedLogin> login =
        corvane::verifyPostedLoginResponse(*samlResponse, expectationsFor(pendingRequestId), true);
    if (!login.ok()) {
        const std::string reason =
            std::string(corvane::describeStatus(login.status())) + ": " + login.message();
        log("login refused: " + reason);
        return errorPage(httpStatusForLoginFailure(login.status()), "Login refused", reason);
    }

    // A new session ID for the signed-in browser, so an ID known before the
    // login (fixation) is worth nothing after it.
    if (session) m_sessions.remove(oldSessionId);
    Session signedIn;
    signedIn.login = login.value();
    const std::string sessionId = m_sessions.create(signedIn, now());
    if (sessionId.empty()) {
        return errorPage(503, "Sign-in not possible",
                         "Too many sessions are open; try again later.");
    }
    // Always to the start page: a RelayState is never a place to go.
    HttpResponse response = redirectTo(303, "/");
    response.headers.emplace_back("Set-Cookie", setCookieValue(sessionId));
    return response;
}

HttpResponse SpApp::metadata() {
    corvane::SpMetadataOptions options;
    options.entityId = m_config.spEntityId;
    options.acsUrl = m_config.acsUrl;
    options.nameIdFormat = m_config.nameIdFormat;
    options.encryptionCertificate = m_config.encryptionKey;
    const corvane::Result<std::string> document =
        corvane::createSpMetadata(options, *m_config.spKey);
    if (!document.ok()) {
        log("metadata not made: " + document.message());
        return errorPage(500, "Metadata not available", "The SP metadata could not be made.");
    }
    HttpResponse response;
    response.contentType = "application/samlmetadata+xml";
    response.body = document.value();
    return response;
}

}  // namespace sp_server
