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

// One form, two buttons: the button pressed names the binding. A POST, so
// no link, image or cross-site page can sign the user out.
const char kSignOutForm[] =
    "<form method=\"post\" action=\"/logout\">\n<button id=\"logout-redirect\" "
    "name=\"binding\" value=\"redirect\">Sign out (HTTP-Redirect)</button>\n"
    "<button id=\"logout-post\" name=\"binding\" value=\"post\">Sign out "
    "(HTTP-POST)</button>\n</form>\n";

// What the IdP's verified LogoutResponse says, as one sentence; the IdP's
// status texts escaped.
std::string logoutOutcomeText(const corvane::VerifiedLogoutResponse& response) {
    switch (response.outcome) {
        case corvane::LogoutOutcome::Success:
            return "Signed out here and at the IdP.";
        case corvane::LogoutOutcome::PartialLogout:
            return "Signed out here; the IdP ended only some of the sessions it knows.";
        case corvane::LogoutOutcome::Failure:
        default:
            return "Signed out here; the IdP reported an error: " + response.statusCode +
                   (response.statusMessage.empty() ? "" : " (" + response.statusMessage + ")");
    }
}

HttpResponse signedOutPage(const std::string& text) {
    return htmlPage(200, "Signed out",
                    "<p id=\"logout-outcome\">" + htmlEscape(text) +
                        "</p>\n<p><a href=\"/\">Start page</a></p>\n");
}

std::string describeRefusal(corvane::Status status, const std::string& message) {
    return std::string(corvane::describeStatus(status)) + ": " + message;
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

std::string SpApp::expiredCookieValue() const {
    return m_config.cookieName + "=; Path=/; Max-Age=0; HttpOnly; " +
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
    if (path == "/logout")
        return request.method == "POST" ? startLogout(request) : methodNotAllowed("POST");
    if (path == "/slo" && singleLogoutOn()) {
        return request.method == "GET" || request.method == "POST" ? receiveLogoutMessage(request)
                                                                   : methodNotAllowed("GET, POST");
    }
    return errorPage(404, "Not found", "There is nothing at this address.");
}

HttpResponse SpApp::home(const HttpRequest& request) {
    const std::optional<Session> session = m_sessions.find(sessionIdOf(request), now());
    if (!session || !session->login) return htmlPage(200, "corvane example SP", kSignInLinks);
    return htmlPage(200, "corvane example SP", loginHtml(*session->login) + kSignOutForm);
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
        const std::string reason = describeRefusal(login.status(), login.message());
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
    if (singleLogoutOn()) options.singleLogoutUrl = m_config.sloUrl;
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

// ---- Single logout --------------------------------------------------------------

bool SpApp::singleLogoutOn() const {
    return !m_config.sloUrl.empty() &&
           (!m_config.idpLogoutRedirect.url.empty() || !m_config.idpLogoutPost.url.empty());
}

const IdpLogoutEndpoint* SpApp::logoutEndpointFor(corvane::LogoutBinding* binding) const {
    const bool byPost = *binding == corvane::LogoutBinding::HttpPost;
    const IdpLogoutEndpoint& asked = byPost ? m_config.idpLogoutPost : m_config.idpLogoutRedirect;
    const IdpLogoutEndpoint& other = byPost ? m_config.idpLogoutRedirect : m_config.idpLogoutPost;
    if (!asked.url.empty()) return &asked;
    if (other.url.empty()) return nullptr;
    *binding = byPost ? corvane::LogoutBinding::HttpRedirect : corvane::LogoutBinding::HttpPost;
    return &other;
}

corvane::LogoutExpectations SpApp::logoutExpectationsFor(const std::string& requestId) const {
    corvane::LogoutExpectations expected;
    expected.idpEntityId = m_config.idpEntityId;
    expected.idpCertificates = m_config.idpCertificates;
    expected.spLogoutUrl = m_config.sloUrl;
    expected.requestId = requestId;
    expected.replayCache = m_config.replayCache;
    expected.now = now();
    return expected;
}

HttpResponse SpApp::outgoingLogout(const corvane::OutgoingLogoutMessage& message,
                                   corvane::LogoutBinding binding) const {
    if (binding == corvane::LogoutBinding::HttpRedirect) return redirectTo(302, message.url);
    HttpResponse response;
    response.body = message.formPage;
    response.headers = {{"Cache-Control", "no-store"},
                        {"Content-Security-Policy", kPostFormSecurityPolicy}};
    return response;
}

HttpResponse SpApp::startLogout(const HttpRequest& request) {
    const std::string sessionId = sessionIdOf(request);
    std::optional<Session> session = m_sessions.find(sessionId, now());
    if (!session || !session->login) return redirectTo(303, "/");
    const std::optional<std::string> asked =
        isFormContentType(request.contentType) ? formField(request.body, "binding") : std::nullopt;
    corvane::LogoutBinding binding = asked && *asked == "post"
                                         ? corvane::LogoutBinding::HttpPost
                                         : corvane::LogoutBinding::HttpRedirect;
    const IdpLogoutEndpoint* endpoint = singleLogoutOn() ? logoutEndpointFor(&binding) : nullptr;
    const corvane::VerifiedLogin login = *session->login;

    // The local session ends here, whatever the IdP answers or whether it
    // answers at all: only the pending request's ID stays.
    session->login.reset();
    session->pendingRequestId.clear();
    if (endpoint == nullptr) {
        m_sessions.remove(sessionId);
        HttpResponse page = signedOutPage(
            "Signed out here. The IdP offers no single logout: your session there goes on.");
        page.headers.emplace_back("Set-Cookie", expiredCookieValue());
        return page;
    }
    corvane::LogoutRequestOptions options;
    options.destination = endpoint->url;
    options.issuer = m_config.spEntityId;
    const corvane::Result<corvane::OutgoingLogoutMessage> message =
        corvane::createLogoutRequest(options, login, binding, "", *m_config.spKey);
    if (!message.ok()) {
        log("LogoutRequest not made: " + message.message());
        m_sessions.remove(sessionId);
        HttpResponse page = errorPage(500, "Signed out here only",
                                      "The logout request to the IdP could not be made; your "
                                      "session at the IdP goes on.");
        page.headers.emplace_back("Set-Cookie", expiredCookieValue());
        return page;
    }
    session->pendingLogoutRequestId = message.value().id;
    m_sessions.update(sessionId, *session, now());
    return outgoingLogout(message.value(), binding);
}

HttpResponse SpApp::receiveLogoutMessage(const HttpRequest& request) {
    const bool byPost = request.method == "POST";
    if (byPost && request.body.size() > m_config.maxBodyBytes) {
        return errorPage(413, "Logout refused", "The posted form is too large.");
    }
    if (byPost && !isFormContentType(request.contentType)) {
        return errorPage(415, "Logout refused",
                         "The logout message must be posted as an HTML form.");
    }
    // Redirect: the raw query goes to the library whole, as received, since
    // its signature covers the octets as the IdP encoded them.
    const std::string fields = byPost ? request.body : targetQuery(request.target);
    const std::optional<std::string> response = rawFormField(fields, "SAMLResponse");
    const std::optional<std::string> idpRequest = rawFormField(fields, "SAMLRequest");
    if (response.has_value() == idpRequest.has_value()) {
        return errorPage(400, "Logout refused",
                         "The message must carry exactly one of SAMLRequest and SAMLResponse.");
    }
    if (response) return finishLogout(request, byPost ? *response : fields, byPost);
    return answerLogoutRequest(byPost ? *idpRequest : fields,
                               byPost ? formField(fields, "RelayState") : std::nullopt, byPost);
}

HttpResponse SpApp::finishLogout(const HttpRequest& request, const std::string& message,
                                 bool byPost) {
    const std::string sessionId = sessionIdOf(request);
    const std::optional<Session> session = m_sessions.find(sessionId, now());
    const std::string pending = session ? session->pendingLogoutRequestId : std::string();
    if (pending.empty()) {
        return errorPage(400, "Logout refused", "No sign-out was started in this browser.");
    }
    const corvane::LogoutExpectations expected = logoutExpectationsFor(pending);
    const corvane::Result<corvane::VerifiedLogoutResponse> verified =
        byPost ? corvane::verifyPostedLogoutResponse(message, expected, true)
               : corvane::verifyLogoutResponseQuery(message, expected);
    if (!verified.ok()) {
        const std::string reason = describeRefusal(verified.status(), verified.message());
        log("logout response refused: " + reason);
        return errorPage(httpStatusForLoginFailure(verified.status()), "Logout refused", reason);
    }
    m_sessions.remove(sessionId);
    HttpResponse page = signedOutPage(logoutOutcomeText(verified.value()));
    page.headers.emplace_back("Set-Cookie", expiredCookieValue());
    return page;
}

HttpResponse SpApp::answerLogoutRequest(const std::string& message,
                                        const std::optional<std::string>& postedRelayState,
                                        bool byPost) {
    const corvane::Result<corvane::VerifiedLogoutRequest> verified =
        byPost ? corvane::verifyPostedLogoutRequest(message, logoutExpectationsFor(""), true)
               : corvane::verifyLogoutRequestQuery(message, logoutExpectationsFor(""));
    if (!verified.ok()) {
        const std::string reason = describeRefusal(verified.status(), verified.message());
        log("logout request refused: " + reason);
        return errorPage(httpStatusForLoginFailure(verified.status()), "Logout refused", reason);
    }
    const corvane::VerifiedLogoutRequest& idpRequest = verified.value();
    // Every session the request names ends, in whichever browser it lives:
    // the IdP speaks for the user, not for this browser's cookie.
    const std::size_t ended = m_sessions.removeIf([&idpRequest](const Session& session) {
        return session.login && corvane::logoutRequestCoversLogin(idpRequest, *session.login);
    });
    log("IdP-initiated logout ended " + std::to_string(ended) + " session(s)");

    corvane::LogoutBinding binding =
        byPost ? corvane::LogoutBinding::HttpPost : corvane::LogoutBinding::HttpRedirect;
    // /slo exists only while the IdP has a logout endpoint: a guard only.
    const IdpLogoutEndpoint* endpoint = logoutEndpointFor(&binding);
    if (endpoint == nullptr) {
        return errorPage(500, "Signed out here only",
                         "Your sessions here have ended; the IdP has no address for the answer.");
    }
    corvane::LogoutResponseOptions options;
    options.destination = endpoint->responseUrl.empty() ? endpoint->url : endpoint->responseUrl;
    options.issuer = m_config.spEntityId;
    options.inResponseTo = idpRequest.id;
    // The binding hands the RelayState back to the IdP unchanged; the SP
    // itself never reads it.
    const std::string relayState = byPost ? postedRelayState.value_or("") : idpRequest.relayState;
    const corvane::Result<corvane::OutgoingLogoutMessage> answer =
        corvane::createLogoutResponse(options, binding, relayState, *m_config.spKey);
    if (!answer.ok()) {
        log("LogoutResponse not made: " + answer.message());
        return errorPage(500, "Signed out here only",
                         "Your sessions here have ended, but the answer to the IdP could not be "
                         "made.");
    }
    return outgoingLogout(answer.value(), binding);
}

}  // namespace sp_server
