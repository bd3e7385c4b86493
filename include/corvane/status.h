// corvane: the status of every operation, named once.
//
// The numbers are those the documented interface (Corvane.h) returns as
// int, so a host may compare either form; the extended interface adds
// the ones it alone returns.
#ifndef CORVANE_STATUS_H
#define CORVANE_STATUS_H

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
};

// The status as the documented interface returns it.
inline int toInt(Status status) { return static_cast<int>(status); }

// A few words for people: "success", "not authentic", "not usable", ...
const char* describeStatus(Status status);

}  // namespace corvane

#endif
