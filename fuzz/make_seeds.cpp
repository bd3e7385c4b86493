// Writes the seed corpora of the fuzz targets into the directory given
// (normally fuzz/corpus): for verify_response the honest responses signed
// with the test IdP key and every hostile rewriting of them, for
// sign_document documents with signature templates, for authn_request
// destination/issuer pairs, for posted_response posted SAMLResponse values,
// for idp_metadata signed and unsigned aggregates.
// Signing with PKCS#1 v1.5 is deterministic, so a rerun writes the same
// files.
#include <sys/stat.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include <corvane/request.h>
#include "Corvane.h"
#include "idp_samples.h"

namespace {

void onLog(int, const std::string&) {}
void onError(const std::string&) {}
void onId(std::string& id) { id = "_seed"; }

bool write(const std::string& dir, const std::string& name, const std::string& bytes) {
    mkdir(dir.c_str(), 0755);
    std::ofstream out(dir + "/" + name, std::ios::binary | std::ios::trunc);
    out << bytes;
    return static_cast<bool>(out);
}

std::string replaceFirst(std::string text, const std::string& from, const std::string& to) {
    const std::string::size_type at = text.find(from);
    if (at != std::string::npos) text.replace(at, from.size(), to);
    return text;
}

std::string dsTemplate(const std::string& uri, bool sha256) {
    return std::string("<ds:Signature xmlns:ds=\"http://www.w3.org/2000/09/xmldsig#\"><ds:SignedInfo>"
           "<ds:CanonicalizationMethod Algorithm=\"http://www.w3.org/2001/10/xml-exc-c14n#\"/>"
           "<ds:SignatureMethod Algorithm=\"") +
           (sha256 ? "http://www.w3.org/2001/04/xmldsig-more#rsa-sha256"
                   : "http://www.w3.org/2000/09/xmldsig#rsa-sha1") +
           "\"/><ds:Reference URI=\"" + uri + "\"><ds:Transforms>"
           "<ds:Transform Algorithm=\"http://www.w3.org/2000/09/xmldsig#enveloped-signature\"/>"
           "<ds:Transform Algorithm=\"http://www.w3.org/2001/10/xml-exc-c14n#\"/></ds:Transforms>"
           "<ds:DigestMethod Algorithm=\"" +
           (sha256 ? "http://www.w3.org/2001/04/xmlenc#sha256" : "http://www.w3.org/2000/09/xmldsig#sha1") +
           "\"/><ds:DigestValue></ds:DigestValue></ds:Reference></ds:SignedInfo>"
           "<ds:SignatureValue></ds:SignatureValue></ds:Signature>";
}

bool writeVerifySeeds(const std::string& dir) {
    bool ok = true;
    for (const corvane_samples::Case& c : corvane_samples::responseCases()) {
        ok = !c.text.empty() && write(dir, c.name + ".xml", c.text) && ok;
    }
    return ok;
}

bool writeSignSeeds(const std::string& dir) {
    TiXmlDocument request;
    request.LinkEndChild(new TiXmlDeclaration("1.0", "", ""));
    request.LinkEndChild(corvane::createAuthnRequestElement("https://idp.example.test/sso",
                                                            "https://sp.example.test/metadata"));
    std::string requestText;
    requestText << request;
    // A fixed time keeps the seed the same from run to run.
    const std::string::size_type instant = requestText.find("IssueInstant=\"") + 14;
    requestText.replace(instant, requestText.find('"', instant) - instant, "1700000000");
    corvane_samples::ResponseShape shape;
    shape.keyInfo = false;
    const std::string response = corvane_samples::unsignedResponse(shape);
    return write(dir, "authn-request.xml", requestText) &&
           write(dir, "response-root-id-reference.xml", response) &&
           write(dir, "response-empty-reference-sha256.xml",
                 replaceFirst(response, "URI=\"#" + shape.rootId + "\"", "URI=\"\"")) &&
           write(dir, "template-in-child.xml",
                 "<r ID=\"_r1\"><a><v>value</v>" + dsTemplate("", false) + "</a></r>") &&
           write(dir, "two-templates.xml",
                 "<r><v>value</v>" + dsTemplate("", true) + "<w>" + dsTemplate("", false) + "</w></r>") &&
           write(dir, "no-template.xml", "<r><Signature/></r>") &&
           write(dir, "not-well-formed.xml", "<r><ds:Signature></r>");
}

bool writeRequestSeeds(const std::string& dir) {
    const std::string nul(1, '\0');
    return write(dir, "urls", "https://idp.example.test/saml2/sso" + nul +
                                  "https://sp.example.test/saml2/metadata") &&
           write(dir, "markup-characters", "https://idp.example.test/sso?a=1&b=\"2\"<x>" + nul +
                                               "sp & <co> 'quoted' ]]> &amp; &#x41;") &&
           write(dir, "utf8-and-white-space", "https://idp.example.test/\xC3\xA9t\xC3\xA9\t\n" + nul +
                                                  "  sp \r\n issuer \xF0\x9F\x94\x91  ") &&
           write(dir, "empty", nul);
}

// Lines of 76 characters, each ended by CR LF, as IdPs post them.
std::string wrapped(const std::string& text) {
    std::string out;
    for (std::string::size_type at = 0; at < text.size(); at += 76) out += text.substr(at, 76) + "\r\n";
    return out;
}

// Each seed starts with the flags byte (bit 0 form encoding, bit 1 the next
// byte is the size limit), then the value.
bool writePostedSeeds(const std::string& dir) {
    const std::string plain(1, '\0');
    const std::string form(1, '\1');
    const std::string limit16("\x02\x10", 2);
    const std::string response =
        wrapped(corvane::base64Encode(corvane_samples::signedResponse(corvane_samples::ResponseShape())));
    return !response.empty() && write(dir, "plain-wrapped-response", plain + response) &&
           write(dir, "form-encoded-response", form + corvane_samples::formEncoded(response)) &&
           write(dir, "form-with-pluses", form + "PHIv+Pg%3D%3D+") &&
           write(dir, "limit-16-at", limit16 + corvane::base64Encode("<r>012345678</r>")) &&
           write(dir, "limit-16-over", limit16 + corvane::base64Encode("<r>0123456789ab</r>")) &&
           write(dir, "bad-escape", form + "PHIv%3") &&
           write(dir, "escaped-percent", form + "PHIvPg%253D%253D") &&
           write(dir, "non-canonical-bits", plain + "Zh==") &&
           write(dir, "padding-then-data", plain + "Zg==Zg==") &&
           write(dir, "foreign-characters", plain + "Zm9v\x0cYm-y_\xc3\xa9") &&
           write(dir, "empty-after-white-space", plain + "\r\n \t");
}

// An IdP entity whose signing and encryption certificate is the test IdP's.
std::string metadataIdp(const std::string& host, const std::string& certificate) {
    return "<md:EntityDescriptor entityID=\"https://" + host +
           "/idp\"><md:IDPSSODescriptor "
           "WantAuthnRequestsSigned=\"true\" validUntil=\"2025-06-07T00:00:00Z\" "
           "protocolSupportEnumeration=\"urn:oasis:names:tc:SAML:2.0:protocol\"><md:KeyDescriptor>"
           "<ds:KeyInfo><ds:X509Data><ds:X509Certificate>" +
           certificate +
           "</ds:X509Certificate></ds:X509Data></ds:KeyInfo><md:EncryptionMethod Algorithm=\""
           "http://www.w3.org/2009/xmlenc11#aes128-gcm\"/></md:KeyDescriptor>"
           "<md:SingleLogoutService Binding=\"urn:oasis:names:tc:SAML:2.0:bindings:HTTP-Redirect\" "
           "Location=\"https://" +
           host + "/slo\" ResponseLocation=\"https://" + host +
           "/slo/response\"/><md:NameIDFormat>urn:oasis:names:tc:SAML:2.0:nameid-format:"
           "transient</md:NameIDFormat><md:SingleSignOnService Binding=\"urn:oasis:names:tc:SAML:"
           "2.0:bindings:HTTP-Redirect\" Location=\"https://" +
           host +
           "/sso\"/>"
           "</md:IDPSSODescriptor></md:EntityDescriptor>";
}

// Each seed starts with the trust byte (0: the test IdP certificate pinned,
// 1: trustUnsignedMetadata), then the metadata.
bool writeMetadataSeeds(const std::string& dir) {
    std::string certificate;
    for (const char c : corvane_samples::idpCert())
        if (c != '\n' && c != '\r') certificate += c;
    certificate = replaceFirst(certificate, "-----BEGIN CERTIFICATE-----", "");
    certificate = replaceFirst(certificate, "-----END CERTIFICATE-----", "");
    const std::string aggregate =
        "<md:EntitiesDescriptor xmlns:md=\"urn:oasis:names:tc:SAML:2.0:metadata\" "
        "xmlns:ds=\"http://www.w3.org/2000/09/xmldsig#\" ID=\"_seed-aggregate\" "
        "validUntil=\"2025-06-10T00:00:00Z\" cacheDuration=\"PT6H\">{{SIGNATURE}}"
        "<md:EntityDescriptor entityID=\"https://sp.example.test/sp\"><md:SPSSODescriptor "
        "protocolSupportEnumeration=\"urn:oasis:names:tc:SAML:2.0:protocol\"/></"
        "md:EntityDescriptor>" +
        metadataIdp("idp-a.example.test", certificate) + "<md:EntitiesDescriptor Name=\"group\">" +
        metadataIdp("idp-b.example.test", certificate) +
        "</md:EntitiesDescriptor></md:EntitiesDescriptor>";
    std::string signedAggregate;
    if (!corvane_samples::signWithRootIdReference(
            replaceFirst(aggregate, "{{SIGNATURE}}", dsTemplate("#_seed-aggregate", true)),
            corvane_samples::idpKey(), &signedAggregate))
        return false;
    const std::string pinned(1, '\0');
    const std::string trusted(1, '\1');
    const std::string unsignedAggregate = replaceFirst(aggregate, "{{SIGNATURE}}", "");
    return write(dir, "signed-aggregate", pinned + signedAggregate) &&
           write(dir, "unsigned-aggregate-trusted", trusted + unsignedAggregate) &&
           write(dir, "unsigned-aggregate-pinned", pinned + unsignedAggregate) &&
           write(
               dir, "tampered-aggregate",
               pinned + replaceFirst(signedAggregate, "idp-b.example.test/sso", "evil.test/sso")) &&
           write(dir, "expired-trusted",
                 trusted + replaceFirst(unsignedAggregate, "2025-06-10", "2025-05-10")) &&
           write(dir, "duplicate-entity-trusted",
                 trusted + replaceFirst(unsignedAggregate, "idp-b.example.test/idp",
                                        "idp-a.example.test/idp"));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s CORPUS_DIR\n", argv[0]);
        return 2;
    }
    boost::shared_ptr<corvane::CorvaneBase> saml = corvane::CorvaneBase::getHelper(onLog, onError, onId);
    if (saml->initHelper() != 0) return 1;
    const std::string root = argv[1];
    mkdir(root.c_str(), 0755);
    const bool ok =
        writeVerifySeeds(root + "/verify_response") && writeSignSeeds(root + "/sign_document") &&
        writeRequestSeeds(root + "/authn_request") && writePostedSeeds(root + "/posted_response") &&
        writeMetadataSeeds(root + "/idp_metadata");
    saml->finiHelper();
    if (!ok) std::fprintf(stderr, "could not write every seed\n");
    return ok ? 0 : 1;
}
