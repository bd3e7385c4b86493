// Values quoted in messages, made safe for a host's log.
#ifndef CORVANE_FRAME_ESCAPE_H
#define CORVANE_FRAME_ESCAPE_H

#include <string>

namespace corvane {
namespace internal {

// The value with every character that could start a new line or steer a
// terminal written as an escape: "\n", "\r", "\t", "\\" for a backslash,
// "\xHH" for any other C0 control or DEL, "\uHHHH" for the C1 controls
// and the line and paragraph separators U+2028 and U+2029. Everything else
// (printable ASCII, other UTF-8) is kept as it is. Every value a message
// quotes goes through here, so a message is always a single line.
std::string escapedForMessage(const std::string& value);
std::string escapedForMessage(const char* value);

}  // namespace internal
}  // namespace corvane

#endif
