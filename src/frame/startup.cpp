// Start-up and shutdown of libxml2, xmlsec1 and its OpenSSL back end.
#include <libxml/parser.h>
#include <xmlsec/xmlsec.h>
#include <xmlsec/errors.h>
#include <xmlsec/openssl/app.h>
#include <xmlsec/openssl/crypto.h>
#include <xmlsec/xmlsec.h>

#include "Corvane.h"

namespace corvane {

namespace {
const int kLibxmlVersionRequired = 20614;  // 2.6.14
}

int Corvane::initHelper() {
    xmlInitParser();
    xmlCheckVersion(kLibxmlVersionRequired);
    xmlSubstituteEntitiesDefault(1);
    if (xmlSecInit() < 0) {
        writeToLog(1, "Error: xmlsec initialization failed.");
        return -1;
    }
    if (xmlSecCheckVersionExt(1, 2, 11, xmlSecCheckVersionABICompatible) != 1) {
        writeToLog(1, "loaded xmlsec library version is not compatible.");
        return -1;
    }
    xmlSecErrorsSetCallback(XmlsecError2Log);
    if (xmlSecOpenSSLAppInit(nullptr) < 0) {
        writeToLog(1, "crypto initialization failed.");
        return -1;
    }
    const int cryptoStatus = xmlSecOpenSSLInit();
    // The OpenSSL back end installs xmlsec1's default error callback, which
    // prints to stderr; route the reports to the host's log again.
    xmlSecErrorsSetCallback(XmlsecError2Log);
    if (cryptoStatus < 0) {
        writeToLog(1, "xmlsec-crypto initialization failed.");
        return -1;
    }
    return 0;
}

int Corvane::finiHelper() {
    xmlSecOpenSSLShutdown();
    xmlSecOpenSSLAppShutdown();
    xmlSecShutdown();
    xmlCleanupParser();
    return 0;
}

}  // namespace corvane
