// corvane: the status of every operation, named once, and the result of
// every call of the extended interface.
//
// The numbers are those the documented interface (Corvane.h) returns as
// int, so a host may compare either form; the extended interface adds
// the ones it alone returns.
//
// Includes only the standard library.
#ifndef CORVANE_STATUS_H
#define CORVANE_STATUS_H

#include <optional>
#include <string>
#include <utility>

namespace corvane {

enum class Status : int {
    // Success.
    Ok = 0,
    // verifySignature only: the signature was processed and is not valid.
    SignatureInvalid = 1,
    // Start-up of libxml2, xmlsec1 or its OpenSSL back end failed.
    StartupFailed = -1,
    // Not authentic: no signature, a signature that does not verify, or one
    // that does not cover what is handed out.
    NotAuthentic = -7,
    // Not a usable document or key, or the signature work failed.
    Unusable = -8,
    // The caller's options or expectations are incomplete or not usable.
    BadOptions = -9,
    // Authentic, but the profile refuses it (issuer, audience, time, ...).
    ProfileRefused = -10,
    // The message is larger than the size limit; nothing was parsed.
    TooLarge = -11,
    // The replay cache could not record the login (unavailable, or full
    // of live entries); the login is refused, since its one-time use is
    // not assured.
    ReplayCacheFailed = -12,
};

// The status as the documented interface returns it.
inline int toInt(Status status) { return static_cast<int>(status); }

// A few words for people: "success", "not authentic", "not usable", ...
const char* describeStatus(Status status);

namespace internal {
// Stops the process with an assertion report: value() of a failed result.
[[noreturn]] void resultHasNoValue();
}  // namespace internal

// What one call of the extended interface gives back: its status, the one
// message describing its failure (empty on success), and on success its
// value. Results are plain values: copy or move them to any thread.
//
// WARNING: value() of a failed result is a programming error that stops
// the process (an assertion, in every build); test ok() first.
template <typename T>
class Result {
public:
    static Result success(T value) { return Result(Status::Ok, std::string(), std::move(value)); }
    // status must not be Status::Ok.
    static Result failure(Status status, std::string message) {
        return Result(status, std::move(message), std::nullopt);
    }

    bool ok() const { return m_status == Status::Ok; }
    Status status() const { return m_status; }
    // The failure's description, for logs and people; empty on success.
    const std::string& message() const { return m_message; }

    const T& value() const& {
        requireValue();
        return *m_value;
    }
    T& value() & {
        requireValue();
        return *m_value;
    }
    T&& value() && {
        requireValue();
        return std::move(*m_value);
    }

private:
    Result(Status status, std::string message, std::optional<T> value)
        : m_status(status), m_message(std::move(message)), m_value(std::move(value)) {}
    void requireValue() const {
        if (!m_value) internal::resultHasNoValue();
    }

    Status m_status;
    std::string m_message;
    std::optional<T> m_value;
};

// The result of an operation that has nothing to give back but success.
template <>
class Result<void> {
public:
    static Result success() { return Result(Status::Ok, std::string()); }
    static Result failure(Status status, std::string message) {
        return Result(status, std::move(message));
    }
    bool ok() const { return m_status == Status::Ok; }
    Status status() const { return m_status; }
    const std::string& message() const { return m_message; }

private:
    Result(Status status, std::string message) : m_status(status), m_message(std::move(message)) {}
    Status m_status;
    std::string m_message;
};

}  // namespace corvane

#endif
