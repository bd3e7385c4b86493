// What a call of the extended interface hands back is moved to the caller,
// never copied: a verified login of a 1 MB response carries thousands of
// attribute values.
#include <string>
#include <utility>

#include <gtest/gtest.h>

#include "corvane/status.h"
#include "frame/call_scope.h"

namespace {

using corvane::Result;
using corvane::Status;
using corvane::internal::runCall;

// Counts its copies and moves.
struct Counted {
    static int copies;
    static int moves;
    static void reset() { copies = moves = 0; }
    std::string text;
    Counted() = default;
    Counted(const Counted& other) : text(other.text) { ++copies; }
    Counted(Counted&& other) noexcept : text(std::move(other.text)) { ++moves; }
    Counted& operator=(const Counted& other) {
        text = other.text;
        ++copies;
        return *this;
    }
    Counted& operator=(Counted&& other) noexcept {
        text = std::move(other.text);
        ++moves;
        return *this;
    }
};
int Counted::copies = 0;
int Counted::moves = 0;

TEST(CallResults, ValueOfASuccessfulCallIsMovedToTheCallerNeverCopied) {
    Counted::reset();
    Result<Counted> result = runCall<Counted>([](Counted* value) {
        Counted local;
        local.text = "verified";
        *value = std::move(local);
        return 0;
    });
    ASSERT_TRUE(result.ok());
    Counted taken = std::move(result).value();
    EXPECT_EQ(taken.text, "verified");
    EXPECT_EQ(Counted::copies, 0);
    EXPECT_GT(Counted::moves, 0);
}

TEST(CallResults, FailedCallCarriesItsStatusAndNoCopy) {
    Counted::reset();
    const Result<Counted> result = runCall<Counted>([](Counted* value) {
        value->text = "never handed out";
        return -10;
    });
    EXPECT_FALSE(result.ok());
    EXPECT_EQ(result.status(), Status::ProfileRefused);
    EXPECT_EQ(Counted::copies, 0);
}

}  // namespace
