// The one check of how strong a key is, for every path that loads or
// uses one.
#ifndef CORVANE_XMLDSIG_KEY_STRENGTH_H
#define CORVANE_XMLDSIG_KEY_STRENGTH_H

#include <string>

#include <xmlsec/keys.h>

#include "corvane/key.h"

namespace corvane {
namespace internal {

// Empty when key is strong enough for strength; otherwise why not, naming
// the size found ("RSA key of 512 bits, at least 1024 required"). RSA
// needs 2048 bits (1024 with KeyStrength::AllowRsa1024), EC a curve of at
// least 256 bits; a key without a value is described as such. Other key
// types pass here: no allowed signature method uses them.
std::string weakKeyReason(xmlSecKey* key, KeyStrength strength);

// The documented operations take keys as PEM per call and keep accepting
// what they accepted down to the floor no path goes below (RSA of 1024
// bits, EC P-256). True when key reaches it; otherwise false after the
// level-1 log line "<whose> refused: <reason>", so the caller's own
// message and status stay those of a key that did not load.
bool keyReachesFloorOrLogged(xmlSecKey* key, const char* whose);

}  // namespace internal
}  // namespace corvane

#endif
