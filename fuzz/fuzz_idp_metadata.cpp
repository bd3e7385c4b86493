// loadIdpMetadata on arbitrary text. The first byte chooses the trust: bit
// 0 set, trustUnsignedMetadata (no signature checked); clear, the test IdP
// certificate pinned as the metadata signer (the seeds are signed with its
// key). The rest is the metadata text. Whatever the text:
// - the load ends with Ok, NotAuthentic, Unusable, ProfileRefused or
//   TooLarge, with a message exactly when it failed;
// - on Ok, every listed IdP is found by its own entity ID and by nothing
//   else: idp() ends with Ok (the descriptor names exactly that entity and
//   holds a signing key), Unusable or ProfileRefused;
// - an entity ID the document does not hold is BadOptions, with its message;
// - the MDQ paths of every listed entity ID start with "/entities/".
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <corvane/corvane.h>

#include "fuzz_support.h"

namespace {

using corvane::Result;
using corvane::Status;

void check(bool condition, const char* what, const std::string& message = std::string()) {
    if (condition) return;
    std::fprintf(stderr, "corvane fuzz check failed: %s (message: %s)\n", what, message.c_str());
    std::abort();
}

// The libraries started once, and the pinned signer loaded once.
const corvane::KeyPtr& pinnedSigner() {
    static const Result<corvane::Library> library = corvane::Library::start();
    check(library.ok(), "Library::start", library.message());
    static const corvane::KeyPtr signer = [] {
        const Result<corvane::KeyPtr> key =
            corvane::Key::loadCertificate(corvane_fuzz::fixture("test-idp-cert.pem"));
        check(key.ok(), "the test IdP certificate loads", key.message());
        return key.value();
    }();
    return signer;
}

void checkIdp(const corvane::IdpMetadata& metadata, const std::string& entityId) {
    const Result<corvane::IdpDescriptor> idp = metadata.idp(entityId);
    const Status s = idp.status();
    check(s == Status::Ok || s == Status::Unusable || s == Status::ProfileRefused, "idp() status",
          idp.message());
    check(idp.ok() == idp.message().empty(), "a message exactly when idp() failed", idp.message());
    if (idp.ok()) {
        check(idp.value().entityId == entityId, "the IdP found is the one asked for");
        check(!idp.value().signingKeys.empty(), "a found IdP holds a signing key");
    }
    check(corvane::mdqEntityPath(entityId).compare(0, 10, "/entities/") == 0, "MDQ path");
    check(corvane::mdqSha1Path(entityId).size() == 10 + 10 + 40, "MDQ sha1 path");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    corvane::IdpMetadataOptions options;
    if (data[0] & 1) {
        options.trustUnsignedMetadata = true;
    } else {
        options.signerKeys = {pinnedSigner()};
    }
    pinnedSigner();
    options.now = 1748736000;  // 2025-06-01T00:00:00Z
    const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
    const Result<corvane::IdpMetadataPtr> loaded = corvane::loadIdpMetadata(text, options);
    const Status s = loaded.status();
    check(s == Status::Ok || s == Status::NotAuthentic || s == Status::Unusable ||
              s == Status::ProfileRefused || s == Status::TooLarge,
          "loadIdpMetadata status", loaded.message());
    check(loaded.ok() == loaded.message().empty(), "a message exactly when the load failed",
          loaded.message());
    if (!loaded.ok()) return 0;
    const corvane::IdpMetadata& metadata = *loaded.value();
    check(metadata.idpEntityIds().size() <= metadata.entityCount(), "IdPs are entities");
    for (const std::string& entityId : metadata.idpEntityIds()) checkIdp(metadata, entityId);
    // An entity ID the text may or may not hold: found as itself, or
    // refused as absent with exactly that message.
    const std::string other = "urn:corvane:fuzz:other";
    const Result<corvane::IdpDescriptor> absent = metadata.idp(other);
    if (absent.status() == Status::BadOptions) {
        check(absent.message() == "IdP metadata holds no entity \"" + other + "\"",
              "the absent entity's message", absent.message());
    } else if (absent.ok()) {
        check(absent.value().entityId == other, "the entity found is the one asked for");
    }
    return 0;
}
