// SAML time stamps (xs:dateTime) as seconds since the epoch, in 64 bits
// whatever the width of time_t.
#ifndef CORVANE_SAML_TIME_H
#define CORVANE_SAML_TIME_H

#include <string>

namespace corvane {
namespace internal {

// "YYYY-MM-DDThh:mm:ss[.fraction](Z|+hh:mm|-hh:mm)", years 0001 to 9999,
// offsets up to 14:00 either way, "24:00:00" being the
// end of the day. *secondsSinceEpoch receives the whole seconds, and
// *fractional whether a non-zero fraction followed them (so that a caller
// can round towards the strict side). A time stamp without a time zone is
// refused, since it names no instant. False when the text is not such a
// time stamp.
bool parseDateTime(const std::string& text, long long* secondsSinceEpoch, bool* fractional);

// The instant, moved into the range of instants parseDateTime can yield
// (some 62 billion seconds either side of the epoch). A clock or a time
// given by a host is compared only after this, so a time check can add or
// subtract any skew of up to a day without overflow.
long long clampToReadableInstants(long long secondsSinceEpoch);

// A non-negative xs:duration, "PnYnMnDTnHnMnS" with any parts left out
// (at least one given, "T" only before a time part, a fraction on the
// seconds alone), as whole seconds: a year counts 365 days, a month 30, a
// fraction of a second is dropped. False for anything else, a negative
// duration included.
bool parseDuration(const std::string& text, long long* seconds);

}  // namespace internal
}  // namespace corvane

#endif
