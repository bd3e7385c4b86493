// What the fuzz targets share: the library started once with counting
// callbacks, the test fixtures, and a check that stops the process (so that
// libFuzzer, or the replay in the test run, reports the input).
#ifndef CORVANE_FUZZ_SUPPORT_H
#define CORVANE_FUZZ_SUPPORT_H

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "Corvane.h"

namespace corvane_fuzz {

struct Calls {
    int errors = 0;
    int idCalls = 0;
    std::string lastError;
};

inline Calls& calls() {
    static Calls c;
    return c;
}

inline void onLog(int, const std::string&) {}
inline void onError(const std::string& message) {
    ++calls().errors;
    calls().lastError = message;
}
inline void onId(std::string& id) {
    ++calls().idCalls;
    id = "_f0a1b2c3d4e5f60718293a4b5c6d7e8f9";
}

// The helper, started on first use; the libraries stay up until exit.
inline corvane::CorvaneBase& library() {
    static boost::shared_ptr<corvane::CorvaneBase> helper = [] {
        boost::shared_ptr<corvane::CorvaneBase> h =
            corvane::CorvaneBase::getHelper(onLog, onError, onId);
        if (h->initHelper() != 0) {
            std::fprintf(stderr, "initHelper failed\n");
            std::abort();
        }
        return h;
    }();
    return *helper;
}

inline std::string fixture(const std::string& name) {
    std::ifstream in(std::string(CORVANE_FIXTURES_DIR) + "/" + name, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    if (text.str().empty()) {
        std::fprintf(stderr, "fixture %s missing\n", name.c_str());
        std::abort();
    }
    return text.str();
}

inline void require(bool condition, const char* what) {
    if (condition) return;
    std::fprintf(stderr, "corvane fuzz check failed: %s (last error: %s)\n", what,
                 calls().lastError.c_str());
    std::abort();
}

inline void resetCalls() { calls() = Calls(); }

}  // namespace corvane_fuzz

#endif
