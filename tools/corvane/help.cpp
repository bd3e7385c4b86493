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
    "  8  the document is unusable or the signature work failed (library status -8)\n";

const char kOverview[] =
    "Usage: corvane [-v|-vv] COMMAND [OPTIONS]\n"
    "\n"
    "Build signed SAML 2.0 AuthnRequests and verify SAML Responses with libcorvane,\n"
    "for debugging single sign-on from a shell and for scripts.\n"
    "\n"
    "Commands:\n"
    "  request   build and sign a samlp:AuthnRequest\n"
    "  verify    verify a signed SAML Response and print its NameID\n"
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
    "The request's ID is \"_\" and 32 random hexadecimal digits.\n"
    "\n";

const char kVerifyHelp[] =
    "Usage: corvane verify --cert IDP.pem [RESPONSE.xml|-] [--base64] [-v|-vv]\n"
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
    "\n";

}  // namespace

std::string helpText(Command command) {
    switch (command) {
        case Command::Request:
            return std::string(kRequestHelp) + kExitStatusText;
        case Command::Verify:
            return std::string(kVerifyHelp) + kExitStatusText;
        case Command::None:
            break;
    }
    return std::string(kOverview) + kExitStatusText;
}

std::string versionText() { return "corvane " CORVANE_VERSION "\n"; }

}  // namespace corvane_cli
