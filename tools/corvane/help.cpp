#include "help.h"

#include <initializer_list>

namespace corvane_cli {

namespace {

// One line per exit status; each command lists the ones it can return.
const char kExit0[] = "  0  Success.\n";
const char kExit1[] =
    "  1  Any other failure: an unexpected library status or an internal error.\n";
const char kExit2[] = "  2  The command line, an input or the output cannot be used.\n";
const char kExit3[] = "  3  The XML security libraries could not be started (library status -1).\n";
const char kExit7[] = "  7  The response is not authentic or not acceptable (library status -7).\n";
const char kExit8[] =
    "  8  A document or key is unusable, or the signature work failed (library status -8).\n";
const char kExit9[] =
    "  9  The options or expectations are incomplete or not usable (library status -9).\n";
const char kExit10[] =
    " 10  The response is authentic, but the profile refuses the login (library status -10).\n";
const char kExit11[] =
    " 11  The response is larger than the size limit and was not read (library status -11).\n";
const char kExit12[] =
    " 12  The replay cache could not record the login, which is refused (library status -12).\n";

std::string exitStatus(std::initializer_list<const char*> lines) {
    std::string text = "Exit status:\n";
    for (const char* line : lines) text += line;
    return text;
}

const char kOverview[] =
    "Usage: corvane [-v|-vv] COMMAND [OPTIONS]\n"
    "\n"
    "Build signed SAML 2.0 AuthnRequests and verify SAML Responses with libcorvane,\n"
    "for debugging single sign-on from a shell and for scripts.\n"
    "\n"
    "Commands:\n"
    "  request   Build and sign a samlp:AuthnRequest, or an HTTP-Redirect URL.\n"
    "  verify    Verify a SAML Response against the SSO profile and print the login.\n"
    "  metadata  Print the SP's metadata.\n"
    "  idp-metadata  Verify an IdP's or a federation's metadata and print its IdPs.\n"
    "  logout    Single logout: make a LogoutRequest or LogoutResponse, or verify\n"
    "            the IdP's.\n"
    "  help      Show the help of a command: corvane help COMMAND.\n"
    "\n"
    "Options:\n"
    "  -v, -vv, --verbose  Print the library's log lines on standard error: -v\n"
    "                      levels 1 (errors) and 2 (warnings), -vv also 3 (detail).\n"
    "  -h, --help          Show this help; corvane COMMAND --help shows a command's.\n"
    "      --version       Print the version.\n"
    "\n"
    "The library's error messages go to standard error, each line starting with\n"
    "\"corvane: error: \"; log lines start with \"corvane: log N: \", where N is the\n"
    "level.\n"
    "\n";

const char kRequestHelp[] =
    "Usage: corvane request --destination URL --issuer ENTITY --key SP.pem\n"
    "                       [--out FILE] [--id-out FILE] [--json] [--base64] [-v|-vv]\n"
    "       corvane request --standard --destination URL --issuer ENTITY --key SP.pem\n"
    "                       --acs URL [--sha1] [--key-info] [--name-id-format URI]\n"
    "                       [--out FILE] [--id-out FILE] [--json] [--base64] [-v|-vv]\n"
    "       corvane request --standard --redirect SSO_URL --issuer ENTITY [--key SP.pem]\n"
    "                       [--acs URL] [--relay-state STATE] [--sha1]\n"
    "                       [--name-id-format URI] [--out FILE] [--id-out FILE]\n"
    "                       [--json] [-v|-vv]\n"
    "       corvane request --standard --idp-metadata FILE\n"
    "                       (--metadata-signer CERT.pem | --trust-unsigned-metadata)\n"
    "                       [--entity ID] [--http-redirect] --issuer ENTITY ...\n"
    "\n"
    "Build a samlp:AuthnRequest for the identity provider's single sign-on URL,\n"
    "sign it with the service provider's key and print it.\n"
    "\n"
    "Options:\n"
    "  --destination URL  The IdP's single sign-on URL (the request's Destination).\n"
    "  --issuer ENTITY    The SP's entity ID (the request's saml:Issuer).\n"
    "  --key SP.pem       The SP's unencrypted PEM private key; its certificate may\n"
    "                     follow it in the same file.\n"
    "  --out FILE         Write the request to FILE instead of standard output\n"
    "                     (\"-\" is standard output).\n"
    "  --id-out FILE      Write the request's ID to FILE: verify --request-id needs it.\n"
    "  --json             Print one JSON object with the members \"id\" and \"request\"\n"
    "                     (\"url\" with --redirect).\n"
    "  --base64           Base64-encode the request, as the HTTP-POST binding's\n"
    "                     SAMLRequest form value carries it.\n"
    "  -v, -vv            Print the library's log lines (-vv adds level 3, which\n"
    "                     shows the key text with every private key withheld).\n"
    "  -h, --help         Show this help.\n"
    "\n"
    "With --standard the request is the schema-valid one for standard IdPs\n"
    "(RSA-SHA256, responses by HTTP-POST):\n"
    "  --acs URL             The AssertionConsumerServiceURL (required unless\n"
    "                        --redirect is given).\n"
    "  --sha1                Sign with RSA-SHA1 and SHA-1 instead of RSA-SHA256 and\n"
    "                        SHA-256, for IdPs that know nothing newer.\n"
    "  --key-info            Include the SP certificate from the key file.\n"
    "  --name-id-format URI  The samlp:NameIDPolicy Format.\n"
    "  --redirect SSO_URL    Print the IdP's SSO_URL with the HTTP-Redirect query\n"
    "                        (SAMLRequest, RelayState, and with --key SigAlg and\n"
    "                        Signature) instead of the request; it is unsigned\n"
    "                        without --key.\n"
    "  --relay-state STATE   The RelayState of the redirect (80 bytes at most).\n"
    "\n"
    "The request's ID is \"_\" and 32 random hexadecimal digits.\n"
    "\n"
    "With --idp-metadata the IdP's single sign-on URL comes from its verified\n"
    "metadata (see corvane help idp-metadata) instead of --destination or\n"
    "--redirect:\n"
    "  --idp-metadata FILE      The IdP's (or the federation's) metadata.\n"
    "  --metadata-signer CERT.pem  The certificate that signs the metadata.\n"
    "  --trust-unsigned-metadata   Read the metadata unsigned (an IdP's own\n"
    "                        metadata fetched over TLS). WARNING: whoever can\n"
    "                        change the file chooses the IdP's endpoints.\n"
    "  --entity ID           The IdP's entity ID; needed when the metadata holds\n"
    "                        several IdPs.\n"
    "  --http-redirect       The HTTP-Redirect URL to the IdP's HTTP-Redirect SSO\n"
    "                        URL instead of the HTTP-POST request; signed with\n"
    "                        --key, which the IdP's WantAuthnRequestsSigned makes\n"
    "                        necessary.\n"
    "\n";

const char kVerifyHelp[] =
    "Usage: corvane verify --cert IDP.pem [--cert OLD.pem ...] --idp ENTITY\n"
    "                      --audience SP_ENTITY --acs URL\n"
    "                      (--request-id ID | --allow-unsolicited)\n"
    "                      [--allow-sha1] [--skew SECONDS] [--now UNIX_TIME]\n"
    "                      [--max-size BYTES] [--replay-cache redis://HOST:PORT[/DB]]\n"
    "                      [--decrypt-key SP_KEY.pem ...]\n"
    "                      [--allow-cbc-without-response-signature]\n"
    "                      [--json] [--base64] [RESPONSE.xml|-] [-v|-vv]\n"
    "       corvane verify --idp-metadata FILE\n"
    "                      (--metadata-signer CERT.pem | --trust-unsigned-metadata)\n"
    "                      [--entity ID] --audience SP_ENTITY --acs URL ...\n"
    "       corvane verify --nameid-only --cert IDP.pem [--base64] [RESPONSE.xml|-]\n"
    "                      [-v|-vv]\n"
    "\n"
    "Verify a SAML Response against the Web Browser SSO profile (signature,\n"
    "issuer, audience, recipient, request and time) and print the verified login:\n"
    "one \"name: value\" line per field and one \"attribute NAME (FRIENDLY): value\"\n"
    "line per attribute value. Backslashes and control characters in the values\n"
    "are printed as \\\\, \\n, \\r, \\t or \\xNN.\n"
    "\n"
    "The response is read from RESPONSE.xml, or from standard input when it is \"-\"\n"
    "(or not given, and standard input is not a terminal). It is either the XML\n"
    "text or the base64 SAMLResponse form value that a browser posts (line breaks\n"
    "are allowed; a value with percent-escapes is read as a form body gives it,\n"
    "with \"+\" for a space); base64 is assumed when the input does not start with\n"
    "'<' after white space.\n"
    "\n"
    "Options:\n"
    "  --cert IDP.pem         The IdP's X.509 certificate (PEM, or the bare base64\n"
    "                         of its DER as metadata carries it); give it again\n"
    "                         for more: a signature by any of them is accepted.\n"
    "  --idp ENTITY           The IdP's entity ID, the assertion's Issuer.\n"
    "  --audience SP_ENTITY   The SP's entity ID, which the audience must name.\n"
    "  --acs URL              The SP's assertion consumer service URL.\n"
    "  --request-id ID        The ID of the request this response answers (request\n"
    "                         --id-out gives it); it must not be empty.\n"
    "  --allow-unsolicited    Accept a login the IdP started, one that answers no\n"
    "                         request; beside --request-id, an answer must still\n"
    "                         name that request.\n"
    "  --allow-sha1           Accept a signature made with SHA-1 (RSA-SHA1, or a SHA-1\n"
    "                         digest), which is refused otherwise.\n"
    "  --skew SECONDS         The tolerated clock difference (default 180, at most\n"
    "                         86400).\n"
    "  --now UNIX_TIME        Check the times at this instant instead of the clock.\n"
    "  --max-size BYTES       Refuse a response larger than BYTES (default 2097152).\n"
    "  --replay-cache URL     Record the login on this Redis server (redis://HOST:PORT\n"
    "                         with an optional /DB, or redis://:PASSWORD@HOST:PORT)\n"
    "                         and refuse an assertion or an answer to a request that\n"
    "                         was recorded before; when the server cannot answer,\n"
    "                         the login is refused. Without it, a run records only\n"
    "                         in its own memory.\n"
    "  --decrypt-key SP_KEY.pem\n"
    "                         The SP's private key (PEM) that decrypts an encrypted\n"
    "                         assertion, NameID or attribute; give it again for more\n"
    "                         (the one the IdP names is used, else each in turn).\n"
    "                         AES-GCM and AES-CBC with RSA-OAEP are accepted; RSA-1.5\n"
    "                         and 3DES never.\n"
    "  --allow-cbc-without-response-signature\n"
    "                         Accept an assertion encrypted with AES-CBC in a\n"
    "                         response whose Response is not signed. WARNING: the\n"
    "                         cipher text is then open to a padding oracle attack;\n"
    "                         ask the IdP to sign the Response or use AES-GCM.\n"
    "  --json                 Print the login as one JSON object.\n"
    "  --base64               Decode the input as base64 even if it starts with '<'.\n"
    "  -v, -vv                Print the library's log lines.\n"
    "  -h, --help             Show this help.\n"
    "\n"
    "With --idp-metadata FILE the IdP's entity ID and signing certificates come\n"
    "from its verified metadata instead of --idp and --cert: --metadata-signer\n"
    "CERT.pem (the certificate that signs the metadata) or\n"
    "--trust-unsigned-metadata, and --entity ID when it holds several IdPs (see\n"
    "corvane help idp-metadata).\n"
    "\n"
    "With --nameid-only the documented NameID-only check runs instead and the\n"
    "NameID is printed as it is. WARNING: it checks the signature alone, no\n"
    "audience, time, destination or request; use it only to debug a signature.\n"
    "\n";

const char kMetadataHelp[] =
    "Usage: corvane metadata --entity-id ID --acs URL --cert SP.crt\n"
    "                        [--name-id-format URI] [--want-assertions-signed=false]\n"
    "                        [--encryption-cert CERT.pem] [--out FILE] [-v|-vv]\n"
    "\n"
    "Print the SP's metadata: an md:EntityDescriptor with the signing certificate\n"
    "and the HTTP-POST assertion consumer service.\n"
    "\n"
    "Options:\n"
    "  --entity-id ID        The SP's entity ID.\n"
    "  --acs URL             The assertion consumer service URL.\n"
    "  --cert SP.crt         The SP's X.509 certificate (PEM).\n"
    "  --name-id-format URI  The md:NameIDFormat.\n"
    "  --want-assertions-signed=true|false\n"
    "                        The WantAssertionsSigned attribute (default true).\n"
    "  --encryption-cert CERT.pem\n"
    "                        Offer this certificate (PEM) for encrypting assertions\n"
    "                        to the SP, with the encryption methods it decrypts;\n"
    "                        its key goes to verify --decrypt-key.\n"
    "  --out FILE            Write the metadata to FILE instead of standard output.\n"
    "  -h, --help            Show this help.\n"
    "\n";

const char kIdpMetadataHelp[] =
    "Usage: corvane idp-metadata FILE (--metadata-signer CERT.pem |\n"
    "                                  --trust-unsigned-metadata)\n"
    "                            [--entity ID] [--json] [-v|-vv]\n"
    "\n"
    "Verify an IdP's metadata (an md:EntityDescriptor), a federation's aggregate\n"
    "(an md:EntitiesDescriptor) or the answer of a metadata query service, and\n"
    "print the entity ID of every IdP in it, one a line; with --entity, that\n"
    "IdP's settings as \"name: value\" lines: entityId, singleSignOnService\n"
    "BINDING, singleLogoutService BINDING, singleLogoutResponse BINDING,\n"
    "signingCertificate, encryptionCertificate, encryptionMethod, nameIdFormat,\n"
    "wantAuthnRequestsSigned, validUntil, cacheDurationSeconds.\n"
    "\n"
    "The metadata must be signed over its root element by the certificate given\n"
    "with --metadata-signer; its validUntil must not have passed, and every\n"
    "entity ID must appear once.\n"
    "\n"
    "Options:\n"
    "  --metadata-signer CERT.pem  The certificate that signs the metadata (PEM).\n"
    "  --trust-unsigned-metadata   Read the metadata without checking a signature,\n"
    "                        for an IdP's own metadata fetched over TLS. WARNING:\n"
    "                        whoever can change the file chooses the IdP's keys.\n"
    "  --entity ID           Print this IdP's settings.\n"
    "  --json                Print one JSON object: {\"idpEntityIds\": [...],\n"
    "                        \"entityCount\": N, \"validUntil\": ...}, or with --entity\n"
    "                        {\"idp\": [[name, value], ...]}.\n"
    "  -v, -vv               Print the library's log lines.\n"
    "  -h, --help            Show this help.\n"
    "\n";

const char kExit7Metadata[] =
    "  7  The metadata is not authentic: unsigned, or not signed by the signer\n"
    "     (library status -7).\n";
const char kExit10Metadata[] =
    " 10  The metadata or the IdP is refused: expired, an entity ID twice, no IdP\n"
    "     role or signing certificate (library status -10).\n";
const char kExit11Metadata[] =
    " 11  The metadata is larger than 128 MiB and was not read (library status -11).\n";

const char kLogoutHelp[] =
    "Usage: corvane logout request --destination IDP_SLO_URL --issuer SP_ENTITY\n"
    "                      --key SP.pem --name-id VALUE [--name-id-format URI]\n"
    "                      [--name-qualifier Q] [--sp-name-qualifier Q]\n"
    "                      [--session-index INDEX] [--binding redirect|post]\n"
    "                      [--relay-state STATE] [--sha1] [--id-out FILE] [--json]\n"
    "                      [--out FILE] [-v|-vv]\n"
    "       corvane logout verify (--query RAW_QUERY | --post FILE) --cert IDP.pem\n"
    "                      [--cert OLD.pem ...] --idp ENTITY --destination SP_SLO_URL\n"
    "                      [--request-id ID [--allow-unsigned-response]]\n"
    "                      [--allow-sha1] [--skew SECONDS] [--now UNIX_TIME]\n"
    "                      [--max-size BYTES] [--json] [-v|-vv]\n"
    "       corvane logout verify (--query RAW_QUERY | --post FILE) --idp-metadata FILE\n"
    "                      (--metadata-signer CERT.pem | --trust-unsigned-metadata)\n"
    "                      [--entity ID] --destination SP_SLO_URL [--request-id ID ...]\n"
    "       corvane logout response --destination IDP_SLO_URL --issuer SP_ENTITY\n"
    "                      --key SP.pem --in-response-to ID\n"
    "                      [--status success|requester|responder]\n"
    "                      [--status-message TEXT] [--binding redirect|post]\n"
    "                      [--relay-state STATE] [--sha1] [--json] [--out FILE] [-v|-vv]\n"
    "\n"
    "request: the signed LogoutRequest for a login's NameID (with its Format and\n"
    "qualifiers) and session, printed as the HTTP-Redirect URL (default) or the\n"
    "HTTP-POST page; --id-out writes its ID, which the IdP's answer must name\n"
    "(verify --request-id).\n"
    "\n"
    "verify: the IdP's signed message checked: with --request-id its\n"
    "LogoutResponse to that request (the outcome Success, PartialLogout or\n"
    "Failure is printed with the IdP's status; the exit status is 0 for any\n"
    "authentic answer), without it an IdP-initiated LogoutRequest (its NameID,\n"
    "qualifiers and session indexes are printed). --query takes the query\n"
    "string exactly as the browser sent it (everything after '?'): the\n"
    "signature covers those octets. --post takes a file holding the posted\n"
    "SAMLResponse or SAMLRequest value (base64, percent-escaped as a form body\n"
    "holds it or not) or its XML. --destination is the\n"
    "SP's logout URL where the message arrived. A run records the message ID\n"
    "only in its own memory.\n"
    "  --allow-unsigned-response  Accept an unsigned LogoutResponse (never a\n"
    "                             request). WARNING: anyone can forge one.\n"
    "  --allow-sha1               Accept SHA-1 signatures.\n"
    "With --idp-metadata FILE the IdP's entity ID and signing certificates come\n"
    "from its verified metadata instead of --idp and --cert, as for verify.\n"
    "\n"
    "response: the signed LogoutResponse to the IdP's request --in-response-to\n"
    "ID, with --status (default success) and an optional --status-message.\n"
    "\n"
    "The RelayState printed is the sender's text: never redirect a browser to it.\n"
    "\n";

}  // namespace

std::string helpText(Command command) {
    switch (command) {
        case Command::Request:
            return kRequestHelp + exitStatus({kExit0, kExit1, kExit2, kExit3, kExit8, kExit9});
        case Command::Verify:
            return kVerifyHelp + exitStatus({kExit0, kExit1, kExit2, kExit3, kExit7, kExit8, kExit9,
                                             kExit10, kExit11, kExit12});
        case Command::Metadata:
            return kMetadataHelp + exitStatus({kExit0, kExit1, kExit2, kExit3, kExit8, kExit9});
        case Command::IdpMetadata:
            return kIdpMetadataHelp +
                   exitStatus({kExit0, kExit1, kExit2, kExit3, kExit7Metadata, kExit8, kExit9,
                               kExit10Metadata, kExit11Metadata});
        case Command::Logout:
            return kLogoutHelp + exitStatus({kExit0, kExit1, kExit2, kExit3, kExit7, kExit8, kExit9,
                                             kExit10, kExit11, kExit12});
        case Command::None:
            break;
    }
    return kOverview + exitStatus({kExit0, kExit1, kExit2, kExit3, kExit7, kExit8, kExit9, kExit10,
                                   kExit11, kExit12});
}

std::string versionText() { return "corvane " CORVANE_VERSION "\n"; }

}  // namespace corvane_cli
