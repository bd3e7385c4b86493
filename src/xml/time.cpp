#include "xml/time.h"

namespace corvane {
namespace internal {

namespace {

const int kFirstYear = 1;  // xs:dateTime has no year 0000
const int kLastYear = 9999;
const long long kMaxZoneOffsetSeconds = 14 * 3600;

// Reads exactly count digits at pos.
bool readDigits(const std::string& text, std::string::size_type& pos, int count, int* value) {
    int result = 0;
    for (int i = 0; i < count; ++i, ++pos) {
        if (pos >= text.size() || text[pos] < '0' || text[pos] > '9') return false;
        result = result * 10 + (text[pos] - '0');
    }
    *value = result;
    return true;
}

bool expect(const std::string& text, std::string::size_type& pos, char c) {
    if (pos >= text.size() || text[pos] != c) return false;
    ++pos;
    return true;
}

bool isLeapYear(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int daysInMonth(int year, int month) {
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && isLeapYear(year) ? 29 : days[month - 1];
}

// Days from 1970-01-01 to the civil date (proleptic Gregorian calendar).
long long daysFromCivil(long long y, int m, int d) {
    y -= m <= 2;
    const long long era = (y >= 0 ? y : y - 399) / 400;
    const long long yoe = y - era * 400;
    const long long doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const long long doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

// xs:dateTime allows offsets from -14:00 to +14:00.
bool zoneOffsetAllowed(int hours, int minutes) {
    return minutes <= 59 && (hours < 14 || (hours == 14 && minutes == 0));
}

// "Z", or "+hh:mm" / "-hh:mm" as seconds east of UTC, ending the text.
bool readZone(const std::string& text, std::string::size_type pos, long long* offset) {
    if (pos < text.size() && text[pos] == 'Z') {
        *offset = 0;
        return pos + 1 == text.size();
    }
    if (pos >= text.size() || (text[pos] != '+' && text[pos] != '-')) return false;
    const int sign = text[pos++] == '-' ? -1 : 1;
    int hours = 0;
    int minutes = 0;
    if (!readDigits(text, pos, 2, &hours) || !expect(text, pos, ':') ||
        !readDigits(text, pos, 2, &minutes) || !zoneOffsetAllowed(hours, minutes)) {
        return false;
    }
    *offset = sign * (hours * 3600LL + minutes * 60LL);
    return pos == text.size();
}

}  // namespace

bool parseDateTime(const std::string& text, long long* secondsSinceEpoch, bool* fractional) {
    std::string::size_type pos = 0;
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    if (!readDigits(text, pos, 4, &year) || !expect(text, pos, '-') ||
        !readDigits(text, pos, 2, &month) || !expect(text, pos, '-') ||
        !readDigits(text, pos, 2, &day) || !expect(text, pos, 'T') ||
        !readDigits(text, pos, 2, &hour) || !expect(text, pos, ':') ||
        !readDigits(text, pos, 2, &minute) || !expect(text, pos, ':') ||
        !readDigits(text, pos, 2, &second)) {
        return false;
    }
    const bool endOfDay = hour == 24 && minute == 0 && second == 0;
    if (year < kFirstYear || month < 1 || month > 12 || day < 1 || day > daysInMonth(year, month) ||
        (hour > 23 && !endOfDay) || minute > 59 || second > 59) {
        return false;
    }
    *fractional = false;
    if (pos < text.size() && text[pos] == '.') {
        const std::string::size_type fractionStart = ++pos;
        while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9') {
            if (text[pos] != '0') *fractional = true;
            ++pos;
        }
        if (pos == fractionStart || (endOfDay && *fractional)) return false;
    }
    long long offset = 0;
    if (!readZone(text, pos, &offset)) return false;
    *secondsSinceEpoch =
        daysFromCivil(year, month, day) * 86400LL + hour * 3600LL + minute * 60LL + second - offset;
    return true;
}

long long clampToReadableInstants(long long secondsSinceEpoch) {
    // The first and last instants a time stamp can name: 0001-01-01T00:00:00
    // at +14:00, and 9999-12-31T24:00:00 at -14:00.
    const long long earliest = daysFromCivil(kFirstYear, 1, 1) * 86400LL - kMaxZoneOffsetSeconds;
    const long long latest = daysFromCivil(kLastYear + 1, 1, 1) * 86400LL + kMaxZoneOffsetSeconds;
    if (secondsSinceEpoch < earliest) return earliest;
    if (secondsSinceEpoch > latest) return latest;
    return secondsSinceEpoch;
}

namespace {

// A duration's parts may each count at most this many seconds (some
// 30,000 years), so the sum never overflows.
const long long kMaxDurationPart = 1000000000000LL;

// Digits at pos as a number of at most kMaxDurationPart; false when there
// are none or too many.
bool readDurationNumber(const std::string& text, std::string::size_type& pos, long long* value) {
    const std::string::size_type start = pos;
    long long result = 0;
    while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9') {
        result = result * 10 + (text[pos++] - '0');
        if (result > kMaxDurationPart) return false;
    }
    *value = result;
    return pos > start;
}

}  // namespace

bool parseDuration(const std::string& text, long long* seconds) {
    // Designators in the order they must come, with their seconds; a year
    // counts 365 days and a month 30.
    static const struct {
        char designator;
        bool afterT;
        long long seconds;
    } kParts[] = {{'Y', false, 365 * 86400LL},
                  {'M', false, 30 * 86400LL},
                  {'D', false, 86400},
                  {'H', true, 3600},
                  {'M', true, 60},
                  {'S', true, 1}};
    std::string::size_type pos = 0;
    if (!expect(text, pos, 'P')) return false;
    bool inTime = false;
    bool anyPart = false;
    bool timePart = false;
    long long total = 0;
    std::size_t next = 0;
    while (pos < text.size()) {
        if (!inTime && text[pos] == 'T') {
            inTime = true;
            ++pos;
            continue;
        }
        long long value = 0;
        if (!readDurationNumber(text, pos, &value)) return false;
        bool fraction = false;
        if (pos < text.size() && text[pos] == '.') {  // seconds only; the fraction is dropped
            long long ignored = 0;
            ++pos;
            if (!readDurationNumber(text, pos, &ignored)) return false;
            fraction = true;
        }
        if (pos >= text.size()) return false;
        const char designator = text[pos++];
        while (next < sizeof kParts / sizeof kParts[0] &&
               (kParts[next].designator != designator || kParts[next].afterT != inTime)) {
            ++next;
        }
        if (next == sizeof kParts / sizeof kParts[0]) return false;
        if (fraction && designator != 'S') return false;
        if (value > kMaxDurationPart / kParts[next].seconds) return false;
        total += value * kParts[next].seconds;
        anyPart = true;
        timePart = timePart || inTime;
        ++next;
    }
    if (!anyPart || (inTime && !timePart)) return false;
    *seconds = total;
    return true;
}

}  // namespace internal
}  // namespace corvane
