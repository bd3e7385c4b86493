#include "sessions.h"

#include <sys/random.h>

#include <cstdio>
#include <utility>

namespace sp_server {

std::string newSessionId() {
    unsigned char bytes[32];
    std::size_t filled = 0;
    while (filled < sizeof bytes) {
        const ssize_t got = getrandom(bytes + filled, sizeof bytes - filled, 0);
        if (got <= 0) return std::string();
        filled += static_cast<std::size_t>(got);
    }
    std::string hex;
    for (const unsigned char byte : bytes) {
        char digits[3];
        std::snprintf(digits, sizeof digits, "%02x", byte);
        hex += digits;
    }
    return hex;
}

SessionStore::SessionStore(std::size_t maxSessions, long long lifetimeSeconds)
    : m_maxSessions(maxSessions), m_lifetimeSeconds(lifetimeSeconds) {}

bool SessionStore::isLive(const Session& session, long long now) const {
    return now < session.createdAt + m_lifetimeSeconds;
}

void SessionStore::dropExpired(long long now) {
    for (auto it = m_sessions.begin(); it != m_sessions.end();) {
        it = isLive(it->second, now) ? std::next(it) : m_sessions.erase(it);
    }
}

std::string SessionStore::create(Session session, long long now) {
    const std::string id = newSessionId();
    if (id.empty()) return std::string();
    session.createdAt = now;
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_sessions.size() >= m_maxSessions) dropExpired(now);
    if (m_sessions.size() >= m_maxSessions) return std::string();
    m_sessions[id] = std::move(session);
    return id;
}

std::optional<Session> SessionStore::find(const std::string& id, long long now) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto it = m_sessions.find(id);
    if (it == m_sessions.end() || !isLive(it->second, now)) return std::nullopt;
    return it->second;
}

bool SessionStore::update(const std::string& id, const Session& session, long long now) {
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto it = m_sessions.find(id);
    if (it == m_sessions.end() || !isLive(it->second, now)) return false;
    const long long createdAt = it->second.createdAt;
    it->second = session;
    it->second.createdAt = createdAt;
    return true;
}

void SessionStore::remove(const std::string& id) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_sessions.erase(id);
}

std::size_t SessionStore::removeIf(const std::function<bool(const Session&)>& matches) {
    std::lock_guard<std::mutex> lock(m_mutex);
    std::size_t removed = 0;
    for (auto it = m_sessions.begin(); it != m_sessions.end();) {
        if (matches(it->second)) {
            it = m_sessions.erase(it);
            ++removed;
        } else {
            ++it;
        }
    }
    return removed;
}

std::size_t SessionStore::size() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_sessions.size();
}

}  // namespace sp_server
