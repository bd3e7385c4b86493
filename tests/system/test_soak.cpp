// Long runs that show the library releases what it takes: 10,000 request
// creations, and 10,000 response verifications (honest and failing, each
// result checked), each with the heap in use measured after a warm-up and
// at the end. scripts/leakcheck runs the two under valgrind memcheck side by
// side, where the heap is measured through memcheck itself and any block
// definitely or indirectly lost fails the run.
//
// CORVANE_SOAK_ITERATIONS lowers the 10,000 (for slow instrumented builds).
#include <malloc.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <valgrind/memcheck.h>
#include <valgrind/valgrind.h>

#include "corvane_test_support.h"
#include "idp_samples.h"

#if defined(__SANITIZE_ADDRESS__)
#define CORVANE_SOAK_UNDER_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define CORVANE_SOAK_UNDER_ASAN 1
#endif
#endif
#ifdef CORVANE_SOAK_UNDER_ASAN
// From the sanitizer runtime (GCC ships no header for it): bytes of heap
// allocated and not yet freed.
extern "C" size_t __sanitizer_get_current_allocated_bytes();
#endif

namespace {

using namespace corvane_test;

// The heap may grow this much between the end of the warm-up and the end of
// the run (one-time caches of the libraries that fill late); a leak of a
// few bytes per call over 7,500 calls exceeds it.
const long kAllowedGrowthBytes = 48 * 1024;

int iterations() {
    const char* text = std::getenv("CORVANE_SOAK_ITERATIONS");
    const int n = text ? std::atoi(text) : 0;
    return n > 0 ? n : 10000;
}

// Bytes of heap in use now: memcheck's own count of live blocks under
// valgrind, AddressSanitizer's under it, glibc's otherwise.
long heapInUse() {
#ifdef CORVANE_SOAK_UNDER_ASAN
    return static_cast<long>(__sanitizer_get_current_allocated_bytes());
#else
    if (RUNNING_ON_VALGRIND) {
        unsigned long leaked = 0, dubious = 0, reachable = 0, suppressed = 0;
        VALGRIND_DO_QUICK_LEAK_CHECK;
        VALGRIND_COUNT_LEAKS(leaked, dubious, reachable, suppressed);
        return static_cast<long>(leaked + dubious + reachable + suppressed);
    }
    const struct mallinfo2 info = mallinfo2();
    return static_cast<long>(info.uordblks + info.hblkhd);
#endif
}

class Soak : public RecordingTest {
protected:
    void SetUp() override {
        RecordingTest::SetUp();
        helper_ = corvane::CorvaneBase::getHelper(recordLog, recordError, supplyId);
    }

    // Runs round(i) iterations() times, a quarter of them as warm-up (the
    // 32-bit heap settles later than the 64-bit one), and
    // expects the heap in use at the end to be where it was after the
    // warm-up. The recorder is emptied after every round so that it holds
    // nothing across rounds.
    template <typename Round>
    void expectFlatHeap(Round round) {
        const int total = iterations();
        const int warmUp = total / 4;
        for (int i = 0; i < warmUp; ++i) {
            ASSERT_NO_FATAL_FAILURE(round(i));
            Recorder::reset();
        }
        const long afterWarmUp = heapInUse();
        for (int i = warmUp; i < total; ++i) {
            ASSERT_NO_FATAL_FAILURE(round(i));
            Recorder::reset();
        }
        const long atEnd = heapInUse();
        std::printf("heap in use after %d warm-up rounds: %ld bytes; after %d rounds: %ld bytes\n",
                    warmUp, afterWarmUp, total, atEnd);
        EXPECT_LE(atEnd - afterWarmUp, kAllowedGrowthBytes)
            << "heap in use grew over " << total - warmUp << " rounds";
    }

    boost::shared_ptr<corvane::CorvaneBase> helper_;
};

TEST_F(Soak, TenThousandRequestCreationsLeaveTheHeapWhereItWas) {
    const std::string key = spKeyAndCert();
    expectFlatHeap([&](int i) {
        std::string request;
        ASSERT_EQ(helper_->createAuthnRequest(&request, "https://idp.example.test/sso",
                                              "https://sp.example.test/metadata", key),
                  0)
            << "round " << i;
        ASSERT_TRUE(Recorder::errors().empty()) << "round " << i;
        ASSERT_NE(request.find("<ds:SignatureValue>"), std::string::npos) << "round " << i;
    });
}

// Honest and failing responses in turn, each result checked exactly.
TEST_F(Soak, TenThousandVerificationsHonestAndFailingLeaveTheHeapWhereItWas) {
    const std::vector<corvane_samples::Case> cases = corvane_samples::responseCases();
    const std::string cert = idpCert();
    expectFlatHeap([&](int i) {
        const corvane_samples::Case& c = cases[i % cases.size()];
        std::string nameId = "untouched";
        ASSERT_EQ(helper_->verifySamlResponse(nameId, c.text, cert), c.status) << c.name;
        ASSERT_EQ(nameId, c.status == 0 ? c.nameId : "untouched") << c.name;
        ASSERT_EQ(Recorder::errors().empty() ? "" : Recorder::errors().back(), c.lastError)
            << c.name;
    });
}

}  // namespace
