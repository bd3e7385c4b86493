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

}  // namespace internal
}  // namespace corvane
