// Values quoted in messages: every character that could break a log line
// or steer a terminal is escaped, everything else kept.
#include <string>
#include <vector>

#include "corvane_test_support.h"
#include "frame/escape.h"

namespace {

using corvane::internal::escapedForMessage;

TEST(EscapedForMessage, ControlCharactersAndLineSeparatorsAreEscaped) {
    const std::vector<std::pair<std::string, std::string>> rows = {
        {"admin@example.test", "admin@example.test"},
        {"", ""},
        {"line\ninjected", "line\\ninjected"},
        {"a\r\nb\tc", "a\\r\\nb\\tc"},
        {"back\\slash", "back\\\\slash"},
        {std::string("nul\0x", 5), "nul\\x00x"},
        {"\x1b[31mred\x7f", "\\x1B[31mred\\x7F"},
        {"next\xC2\x85line", "next\\u0085line"},      // U+0085 NEL
        {"sep\xE2\x80\xA8" "ara\xE2\x80\xA9" "tor", "sep\\u2028ara\\u2029tor"},
        {"jos\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80", "jos\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80"},
        {"\xC2", "\xC2"},  // a lone lead byte is kept as it is
    };
    for (const auto& row : rows) EXPECT_EQ(escapedForMessage(row.first), row.second) << row.second;
    EXPECT_EQ(escapedForMessage(static_cast<const char*>(nullptr)), "");
}

}  // namespace
