// corvane example SP server: the server-side sessions a random, HttpOnly
// cookie names. A session holds the ID of the AuthnRequest its browser was
// sent to the IdP with, and after the login the verified login itself.
//
// Bounded: at most maxSessions live sessions, each for at most lifetime
// seconds from its creation; a full store first drops expired sessions and
// then refuses new ones (rather than dropping live logins).
// Threads: every member may be called by any number of threads at once.
#ifndef CORVANE_SP_SERVER_SESSIONS_H
#define CORVANE_SP_SERVER_SESSIONS_H

#include <cstddef>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>

#include <corvane/corvane.h>

namespace sp_server {

struct Session {
    // The AuthnRequest this browser was sent with, until its answer is
    // accepted; empty when no login is under way.
    std::string pendingRequestId;
    // The verified login, once there is one.
    std::optional<corvane::VerifiedLogin> login;
    // The LogoutRequest this browser was sent to the IdP with, until the
    // IdP's answer is accepted; empty when no logout is under way.
    std::string pendingLogoutRequestId;
    long long createdAt = 0;
};

// 32 random bytes from the kernel (getrandom) in hex; empty when the kernel
// gave none, which callers treat as a failure.
std::string newSessionId();

class SessionStore {
public:
    SessionStore(std::size_t maxSessions, long long lifetimeSeconds);

    // A new session holding session, under a fresh random ID; empty when
    // the store is full of live sessions or no random ID could be made.
    std::string create(Session session, long long now);

    // A copy of the live session called id, or nothing.
    std::optional<Session> find(const std::string& id, long long now) const;

    // Replaces the live session called id; false when there is none.
    bool update(const std::string& id, const Session& session, long long now);

    void remove(const std::string& id);

    // Removes every session, live or not, for which matches is true (it
    // runs under the store's lock: it must not call the store); returns
    // how many went.
    std::size_t removeIf(const std::function<bool(const Session&)>& matches);

    std::size_t size() const;

private:
    bool isLive(const Session& session, long long now) const;
    void dropExpired(long long now);

    const std::size_t m_maxSessions;
    const long long m_lifetimeSeconds;
    mutable std::mutex m_mutex;
    std::map<std::string, Session> m_sessions;
};

}  // namespace sp_server

#endif
