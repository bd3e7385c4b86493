// corvane example SP server: what each endpoint answers, independent of the
// HTTP library (main.cpp carries requests and responses over Boost.Beast).
//
//   GET  /                      the signed-in user and attributes, or links
//                               to sign in
//   GET  /login                 a signed HTTP-Redirect AuthnRequest; its ID
//                               kept in this browser's server-side session
//   GET  /login?binding=post    the same request in the auto-submit form
//   POST /acs                   the posted SAMLResponse verified against that
//                               session's request (verifyPostedLoginResponse),
//                               once only (the replay cache), decrypted with
//                               the SP's key; then 303 to "/", never to a
//                               RelayState
//   POST /logout                SP-initiated single logout: the local session
//                               ends at once, and a signed LogoutRequest goes
//                               to the IdP (form field binding=post: by the
//                               auto-submit form, otherwise by HTTP-Redirect);
//                               its ID kept in the session until the answer
//   GET  /slo, POST /slo        the IdP's logout messages, by HTTP-Redirect
//                               (the raw query) or HTTP-POST: a LogoutResponse
//                               answering this browser's LogoutRequest, or an
//                               IdP-initiated LogoutRequest, which ends every
//                               session it names and is answered with a signed
//                               LogoutResponse by the same binding
//   GET  /metadata              the SP metadata, with the signing and the
//                               encryption certificate and, when the IdP
//                               has a logout endpoint, /slo
//
// Anything else gets an error page with a 4xx status. Threads: handle() may
// run on any number of threads at once.
#ifndef CORVANE_SP_SERVER_SP_APP_H
#define CORVANE_SP_SERVER_SP_APP_H

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <corvane/corvane.h>

#include "sessions.h"

namespace sp_server {

// One of the IdP's single logout endpoints: where the SP sends its
// LogoutRequest (url) and where it answers the IdP's (responseUrl).
struct IdpLogoutEndpoint {
    std::string url;
    std::string responseUrl;
};

struct SpConfig {
    // The SP's own entity ID and assertion consumer service URL.
    std::string spEntityId;
    std::string acsUrl;
    // What the SP asks the IdP for as md:NameIDFormat in its metadata;
    // empty: none (the IdP chooses).
    std::string nameIdFormat;
    // The IdP: its entity ID, its single sign-on URLs for the HTTP-Redirect
    // and the HTTP-POST binding, and its signing certificates (a signature by
    // any one of them is accepted: rollover).
    std::string idpEntityId;
    std::string idpSsoRedirectUrl;
    std::string idpSsoPostUrl;
    std::vector<corvane::KeyPtr> idpCertificates;
    // The IdP's single logout endpoints for the HTTP-Redirect and the
    // HTTP-POST binding; an empty url: none for that binding. With neither,
    // single logout is off: /logout ends the local session only, /slo does
    // not exist and the metadata offers no logout service.
    IdpLogoutEndpoint idpLogoutRedirect;
    IdpLogoutEndpoint idpLogoutPost;
    // The SP's own single logout URL (.../slo): the Destination the IdP's
    // logout messages must carry.
    std::string sloUrl;
    // The SP key with its certificate: signs requests, named in metadata.
    corvane::KeyPtr spKey;
    // The SP's decryption key with its certificate, offered in metadata for
    // encryption; null: none.
    corvane::KeyPtr encryptionKey;
    // Where accepted logins are recorded for one-time use.
    std::shared_ptr<corvane::ReplayCache> replayCache;
    // WARNING: accepts IdP-initiated logins, which cannot be tied to the
    // browser that receives them (login CSRF). Off by default.
    bool allowUnsolicited = false;
    // The session cookie: its name, and whether it is sent only over HTTPS
    // (then with SameSite=None, since the IdP posts from another site;
    // otherwise SameSite=Lax).
    std::string cookieName = "corvane_sp_session";
    bool secureCookie = false;
    std::size_t maxSessions = 10000;
    long long sessionLifetimeSeconds = 8 * 60 * 60;
    // The largest POST body accepted (413 beyond).
    std::size_t maxBodyBytes = 1u << 20;
    // Seconds since the epoch; null: the system clock.
    std::function<long long()> clock;
    // One line per refused login and per failure; null: nothing logged.
    std::function<void(const std::string&)> log;
};

struct HttpRequest {
    std::string method;  // "GET", "POST", ...
    std::string target;  // "/login?binding=post"
    std::string cookieHeader;
    std::string contentType;
    std::string body;
};

struct HttpResponse {
    int status = 200;
    std::string contentType = "text/html; charset=utf-8";
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;

    // The value of the header called name (exact case), or empty.
    std::string header(const std::string& name) const;
};

// A complete HTML error page with status, title and detail, every text
// escaped.
HttpResponse errorPage(int status, const std::string& title, const std::string& detail);

// The HTTP status for a refused login or logout message of this library status: 400 for
// unusable input, 403 for inauthentic or refused logins, 413 for too large,
// 503 when the replay cache failed, 500 otherwise.
int httpStatusForLoginFailure(corvane::Status status);

class SpApp {
public:
    explicit SpApp(SpConfig config);

    HttpResponse handle(const HttpRequest& request);

    // The sessions, for tests and for hosts that keep state across nodes.
    SessionStore& sessions() { return m_sessions; }

private:
    HttpResponse home(const HttpRequest& request);
    HttpResponse startLogin(const HttpRequest& request);
    HttpResponse consumeAssertion(const HttpRequest& request);
    HttpResponse metadata();
    HttpResponse startLogout(const HttpRequest& request);
    HttpResponse receiveLogoutMessage(const HttpRequest& request);
    HttpResponse finishLogout(const HttpRequest& request, const std::string& message, bool byPost);
    HttpResponse answerLogoutRequest(const std::string& message,
                                     const std::optional<std::string>& postedRelayState,
                                     bool byPost);

    bool singleLogoutOn() const;
    // The IdP's endpoint for the binding asked for, or the other binding's
    // when the IdP has none for it; binding is set to the one chosen.
    const IdpLogoutEndpoint* logoutEndpointFor(corvane::LogoutBinding* binding) const;
    corvane::LogoutExpectations logoutExpectationsFor(const std::string& requestId) const;
    HttpResponse outgoingLogout(const corvane::OutgoingLogoutMessage& message,
                                corvane::LogoutBinding binding) const;

    std::string sessionIdOf(const HttpRequest& request) const;
    std::string setCookieValue(const std::string& sessionId) const;
    // A Set-Cookie value that makes the browser forget its session cookie.
    std::string expiredCookieValue() const;
    corvane::LoginExpectations expectationsFor(const std::string& pendingRequestId) const;
    long long now() const;
    void log(const std::string& line) const;

    const SpConfig m_config;
    SessionStore m_sessions;
};

}  // namespace sp_server

#endif
