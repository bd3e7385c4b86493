// The one signer: an enveloped XML Signature template filled in, and the
// signature of an HTTP-Redirect query over its octets. Every path that
// signs (the documented request, the standard request, the Redirect
// binding, and what comes) goes through these functions.
#ifndef CORVANE_XMLDSIG_SIGNER_H
#define CORVANE_XMLDSIG_SIGNER_H

#include <string>

#include <libxml/tree.h>
#include <xmlsec/transforms.h>
#include <xmlsec/xmldsig.h>

namespace corvane {

class Key;

namespace internal {

// The algorithms of a signature the library makes: RSA with SHA-256, or
// with SHA-1 for IdPs that know nothing newer. The one place that maps
// that choice to xmlsec1's transforms and to the SigAlg URI.
struct SignatureAlgorithm {
    xmlSecTransformId signatureMethod;
    xmlSecTransformId digestMethod;
    const char* signatureMethodUri;
};
SignatureAlgorithm rsaSignatureAlgorithm(bool useSha1);

// Fills in the enveloped signature template signature (a ds:Signature in
// its document) with the key that ctx holds: xmlsec1 computes the
// References' digests and the signature value and writes them in. 0, or
// -8 after "Can not digitally sign resulting XML document" (also for a
// null signature).
int fillSignatureTemplate(xmlSecDSigCtx* ctx, xmlNode* signature);

// The same with a loaded key: a signing context restricted as
// restrictToAllowedAlgorithms says, holding a per-use copy of the key.
// -8 after "Can not create signing context" when it cannot be made.
int signTemplateWithKey(xmlNode* signature, const Key& key);

// The signature of algorithm over exactly octets with key's private key
// (raw signature bytes, as the Signature parameter carries them before
// base64), made by xmlsec1's signature transform. False when it could not
// be made; *signature is changed only on success.
bool signOctets(const std::string& octets, const Key& key, const SignatureAlgorithm& algorithm,
                std::string* signature);

}  // namespace internal
}  // namespace corvane

#endif
