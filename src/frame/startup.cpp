// Start-up and shutdown of libxml2, xmlsec1 and its OpenSSL back end,
// shared and counted between the documented initHelper/finiHelper and the
// extended interface's Library objects.
#include <atomic>
#include <mutex>

#include <libxml/parser.h>
#include <xmlsec/xmlsec.h>
#include <xmlsec/errors.h>
#include <xmlsec/openssl/app.h>
#include <xmlsec/openssl/crypto.h>

#include "Corvane.h"
#include "frame/call_scope.h"

namespace corvane {

namespace {

const int kLibxmlVersionRequired = 20614;  // 2.6.14

// One lock and one count for every holder of the start-up.
std::mutex& startupMutex() {
    static std::mutex mutex;
    return mutex;
}
// Written under the lock, read without it by every extended call.
std::atomic<int> g_holders(0);

void shutDownLibraries() {
    xmlSecOpenSSLShutdown();
    xmlSecOpenSSLAppShutdown();
    xmlSecShutdown();
    xmlCleanupParser();
}

// The documented start-up steps, with their log lines; -1 after the
// first that fails.
int startLibraries() {
    xmlInitParser();
    xmlCheckVersion(kLibxmlVersionRequired);
    xmlSubstituteEntitiesDefault(1);
    if (xmlSecInit() < 0) {
        CorvaneBase::writeToLog(1, "Error: xmlsec initialization failed.");
        return -1;
    }
    if (xmlSecCheckVersionExt(1, 2, 11, xmlSecCheckVersionABICompatible) != 1) {
        CorvaneBase::writeToLog(1, "loaded xmlsec library version is not compatible.");
        return -1;
    }
    xmlSecErrorsSetCallback(XmlsecError2Log);
    if (xmlSecOpenSSLAppInit(nullptr) < 0) {
        CorvaneBase::writeToLog(1, "crypto initialization failed.");
        return -1;
    }
    const int cryptoStatus = xmlSecOpenSSLInit();
    // The OpenSSL back end installs xmlsec1's default error callback, which
    // prints to stderr; route the reports to the host's log again.
    xmlSecErrorsSetCallback(XmlsecError2Log);
    if (cryptoStatus < 0) {
        CorvaneBase::writeToLog(1, "xmlsec-crypto initialization failed.");
        return -1;
    }
    return 0;
}

}  // namespace

namespace internal {

int acquireLibraries() {
    std::lock_guard<std::mutex> lock(startupMutex());
    if (g_holders == 0 && startLibraries() != 0) return -1;
    ++g_holders;
    return 0;
}

void releaseLibraries() {
    std::lock_guard<std::mutex> lock(startupMutex());
    if (g_holders > 0) --g_holders;
    if (g_holders == 0) shutDownLibraries();
}

bool librariesStarted() { return g_holders.load() > 0; }

}  // namespace internal

int Corvane::initHelper() { return internal::acquireLibraries(); }

int Corvane::finiHelper() {
    internal::releaseLibraries();
    return 0;
}

}  // namespace corvane
