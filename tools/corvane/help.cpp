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
    "\n";

const char kVerifyHelp[] =
    "Usage: corvane verify --cert IDP.pem [--cert OLD.pem ...] --idp ENTITY\n"
    "                      --audience SP_ENTITY --acs URL\n"
    "                      (--request-id ID | --allow-unsolicited)\n"
    "                      [--allow-sha1] [--skew SECONDS] [--now UNIX_TIME]\n"
    "                      [--max-size BYTES] [--replay-cache redis://HOST:PORT[/DB]]\n"
    "                      [--json] [--base64] [RESPONSE.xml|-] [-v|-vv]\n"
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
    "  --cert IDP.pem         The IdP's X.509 certificate (PEM); give it again for\n"
    "                         more: a signature by any of them is accepted.\n"
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
    "  --json                 Print the login as one JSON object.\n"
    "  --base64               Decode the input as base64 even if it starts with '<'.\n"
    "  -v, -vv                Print the library's log lines.\n"
    "  -h, --help             Show this help.\n"
    "\n"
    "With --nameid-only the documented NameID-only check runs instead and the\n"
    "NameID is printed as it is. WARNING: it checks the signature alone, no\n"
    "audience, time, destination or request; use it only to debug a signature.\n"
    "\n";

const char kMetadataHelp[] =
    "Usage: corvane metadata --entity-id ID --acs URL --cert SP.crt\n"
    "                        [--name-id-format URI] [--want-assertions-signed=false]\n"
    "                        [--out FILE] [-v|-vv]\n"
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
    "  --out FILE            Write the metadata to FILE instead of standard output.\n"
    "  -h, --help            Show this help.\n"
    "\n";

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
        case Command::Logout:
            return kLogoutHelp + exitStatus({kExit0, kExit1, kExit2, kExit3, kExit7, kExit8, kExit9,
                                             kExit10, kExit11, kExit12});
        case Command::None:
            break;
    }
    return kOverview +
           exitStatus({kExit0, kExit1, kExit2, kExit3, kExit7, kExit8, kExit9, kExit10, kExit11,
                       kExit12});
}

std::string versionText() { return "corvane " CORVANE_VERSION "\n"; }

}  // namespace corvane_cli
