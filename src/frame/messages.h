// The message texts that more than one part of the library reports, each
// once, beside the status it goes with. Texts used in one file only stay
// beside their code there.
#ifndef CORVANE_FRAME_MESSAGES_H
#define CORVANE_FRAME_MESSAGES_H

namespace corvane {
namespace internal {

// Unusable (-8): a document that libxml2 does not read.
inline constexpr char kMessageNotWellFormed[] = "XML document with SAML token is not well-formed";
// Unusable (-8): the screening's or TinyXML's report, with where it was.
inline constexpr char kMessageMalformed[] = "Malformed XML in SAML token: %s line: %d col: %d";
// Unusable (-8): the screening's report for a named kind of document
// ("SAML token" gives the text above).
inline constexpr char kMessageMalformedIn[] = "Malformed XML in %s: %s line: %d col: %d";
// Unusable (-8): libxml2 could not write a document out.
inline constexpr char kMessageCannotSerialize[] = "Can not serialize resulting XML document";
// Unusable (-8): the SP key did not load, or is not a private key.
inline constexpr char kMessageSpKeyNotLoaded[] = "Can not load SP private key and certificate";
inline constexpr char kMessageNoPrivateKey[] = "SP key holds no private key";
// Unusable (-8): the IdP certificate did not load.
inline constexpr char kMessageIdpKeyNotLoaded[] = "Can not load IDP public key";
// Unusable (-8): no time for an IssueInstant, no certificate for KeyInfo.
inline constexpr char kMessageNoClock[] = "Can not read the clock for IssueInstant";
inline constexpr char kMessageNoCertificateForKeyInfo[] = "SP key holds no certificate for KeyInfo";
// BadOptions (-9): the bindings carry at most 80 bytes of RelayState.
inline constexpr char kMessageRelayStateTooLong[] = "RelayState is longer than 80 bytes";

}  // namespace internal
}  // namespace corvane

#endif
