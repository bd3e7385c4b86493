#include "help.h"

namespace corvane_cli {

namespace {

const char kExitStatusText[] =
    "Exit status:\n"
    "  0  success\n"
    "  1  any other failure (an unexpected library status, an internal error)\n"
    "  2  usage error, or an input or output that cannot be used\n"
    "  3  the XML security libraries could not be started (library status -1)\n"
    "  7  the response is well-formed but not acceptable (library status -7)\n"
    "  8  the document is unusable or the signature work failed (library status -8)\n"
    "  9  the options or expectations are incomplete or not usable (library status -9)\n"
    " 10  verify --idp: authentic, but the login is refused (library status -10)\n";

const char kOverview[] =
    "Usage: corvane [-v|-vv] COMMAND [OPTIONS]\n"
    "\n"
    "Build signed SAML 2.0 AuthnRequests and verify SAML Responses with libcorvane,\n"
    "for debugging single sign-on from a shell and for scripts.\n"
    "\n"
    "Commands:\n"
    "  request   build and sign a samlp:AuthnRequest, or an HTTP-Redirect URL\n"
    "  verify    verify a signed SAML Response and print its NameID or login\n"
    "  metadata  print the SP's metadata\n"
    "  help      show the help of a command: corvane help COMMAND\n"
    "\n"
    "Options:\n"
    "  -v, -vv, --verbose  print the library's log lines on standard error:\n"
    "                      -v levels 1 (errors) and 2 (warnings), -vv also 3 (detail)\n"
    "  -h, --help          show this help; corvane COMMAND --help shows a command's\n"
    "      --version       print the version\n"
    "\n"
    "The library's error messages go to standard error in the order they arrive,\n"
    "each line starting with \"corvane: error: \"; log lines start with\n"
    "\"corvane: log N: \" where N is the level.\n"
    "\n";

const char kRequestHelp[] =
    "Usage: corvane request --destination URL --issuer ENTITY --key SP.pem\n"
    "                       [--out FILE] [--base64] [-v|-vv]\n"
    "       corvane request --standard --destination URL --issuer ENTITY --key SP.pem\n"
    "                       --acs URL [--sha1] [--key-info] [--name-id-format URI]\n"
    "                       [--out FILE] [--base64] [-v|-vv]\n"
    "       corvane request --standard --redirect SSO_URL --issuer ENTITY [--key SP.pem]\n"
    "                       [--acs URL] [--relay-state STATE] [--sha1]\n"
    "                       [--name-id-format URI] [--out FILE] [-v|-vv]\n"
    "\n"
    "Build a samlp:AuthnRequest for the identity provider's single sign-on URL,\n"
    "sign it with the service provider's key and print it.\n"
    "\n"
    "Options:\n"
    "  --destination URL  the IdP's single sign-on URL (the request's Destination)\n"
    "  --issuer ENTITY    the SP's entity ID (the request's saml:Issuer)\n"
    "  --key SP.pem       the SP's unencrypted PEM private key; its certificate may\n"
    "                     follow it in the same file\n"
    "  --out FILE         write the request to FILE instead of standard output\n"
    "                     (\"-\": standard output)\n"
    "  --base64           base64-encode the request, as the HTTP-POST binding's\n"
    "                     SAMLRequest form value carries it\n"
    "  -v, -vv            print the library's log lines (-vv: with level 3, which\n"
    "                     shows the key text with every private key withheld)\n"
    "  -h, --help         show this help\n"
    "\n"
    "With --standard the request is the schema-valid one for standard IdPs\n"
    "(RSA-SHA256, responses by HTTP-POST):\n"
    "  --acs URL             the AssertionConsumerServiceURL (required unless\n"
    "                        --redirect is given)\n"
    "  --sha1                RSA-SHA1 and SHA-1 instead of RSA-SHA256 and SHA-256\n"
    "  --key-info            include the SP certificate from the key file\n"
    "  --name-id-format URI  the samlp:NameIDPolicy Format\n"
    "  --redirect SSO_URL    print the IdP's SSO_URL with the HTTP-Redirect query\n"
    "                        (SAMLRequest, RelayState, and with --key SigAlg and\n"
    "                        Signature) instead of the request; unsigned without --key\n"
    "  --relay-state STATE   the RelayState of the redirect (80 bytes at most)\n"
    "\n"
    "The request's ID is \"_\" and 32 random hexadecimal digits.\n"
    "\n";

const char kVerifyHelp[] =
    "Usage: corvane verify --cert IDP.pem [RESPONSE.xml|-] [--base64] [-v|-vv]\n"
    "       corvane verify --cert IDP.pem [--cert OLD.pem ...] --idp ENTITY\n"
    "                      --audience SP_ENTITY --acs URL [--request-id ID]\n"
    "                      [--allow-unsolicited] [--skew SECONDS] [--now UNIX_TIME]\n"
    "                      [--json] [--base64] [RESPONSE.xml|-] [-v|-vv]\n"
    "\n"
    "Verify a signed SAML Response with the identity provider's certificate and\n"
    "print the NameID of its assertion on standard output.\n"
    "\n"
    "The response is read from RESPONSE.xml, or from standard input when it is \"-\"\n"
    "(or not given, and standard input is not a terminal). It is either the XML\n"
    "text or the base64 SAMLResponse form value that a browser posts (line breaks\n"
    "and percent-escapes are allowed); base64 is assumed when the input does not\n"
    "start with '<' after white space.\n"
    "\n"
    "Options:\n"
    "  --cert IDP.pem  the IdP's X.509 certificate (PEM)\n"
    "  --base64        decode the input as base64 even if it starts with '<'\n"
    "  -v, -vv         print the library's log lines\n"
    "  -h, --help      show this help\n"
    "\n"
    "With --idp the response is checked against the Web Browser SSO profile and\n"
    "the verified login is printed, one \"name: value\" line per field and one\n"
    "\"attribute NAME (FRIENDLY): value\" line per attribute value:\n"
    "  --cert IDP.pem         may be given again: any of the certificates may sign\n"
    "  --idp ENTITY           the IdP's entity ID, the assertion's Issuer\n"
    "  --audience SP_ENTITY   the SP's entity ID, which the audience must name\n"
    "  --acs URL              the SP's assertion consumer service URL\n"
    "  --request-id ID        the ID of the request this response answers\n"
    "  --allow-unsolicited    accept a response that names a request without --request-id\n"
    "  --skew SECONDS         tolerated clock difference (default 180, at most 86400)\n"
    "  --now UNIX_TIME        check the times at this instant instead of the clock\n"
    "  --json                 print the login as one JSON object\n"
    "\n";

const char kMetadataHelp[] =
    "Usage: corvane metadata --entity-id ID --acs URL --cert SP.crt\n"
    "                        [--name-id-format URI] [--out FILE] [-v|-vv]\n"
    "\n"
    "Print the SP's metadata: an md:EntityDescriptor with the signing certificate\n"
    "and the HTTP-POST assertion consumer service.\n"
    "\n"
    "Options:\n"
    "  --entity-id ID        the SP's entity ID\n"
    "  --acs URL             the assertion consumer service URL\n"
    "  --cert SP.crt         the SP's X.509 certificate (PEM)\n"
    "  --name-id-format URI  the md:NameIDFormat\n"
    "  --out FILE            write the metadata to FILE instead of standard output\n"
    "  -h, --help            show this help\n"
    "\n";

}  // namespace

std::string helpText(Command command) {
    switch (command) {
        case Command::Request:
            return std::string(kRequestHelp) + kExitStatusText;
        case Command::Verify:
            return std::string(kVerifyHelp) + kExitStatusText;
        case Command::Metadata:
            return std::string(kMetadataHelp) + kExitStatusText;
        case Command::None:
            break;
    }
    return std::string(kOverview) + kExitStatusText;
}

std::string versionText() { return "corvane " CORVANE_VERSION "\n"; }

}  // namespace corvane_cli
