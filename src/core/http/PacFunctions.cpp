#include "http/PacFunctions.h"

#include <array>
#include <cstdint>
#include <optional>

namespace PacFunctions {
namespace {

char lower(char c)
{
    return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
}

bool equalsIgnoringCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (lower(a[i]) != lower(b[i]))
            return false;
    }
    return true;
}

std::optional<uint32_t> parseIpv4(std::string_view text)
{
    uint32_t address = 0;
    int parts = 0;
    size_t i = 0;
    while (parts < 4) {
        const size_t start = i;
        unsigned value = 0;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9' && i - start < 3)
            value = value * 10 + unsigned(text[i++] - '0');
        if (i == start || value > 255)
            return std::nullopt;
        address = (address << 8) | value;
        if (++parts < 4 && (i >= text.size() || text[i++] != '.'))
            return std::nullopt;
    }
    if (i != text.size())
        return std::nullopt;
    return address;
}

// The arguments without a trailing "GMT", and which clock they ask for.
struct TimedArguments {
    std::vector<Argument> values;
    const ClockFields* clock;
};

TimedArguments splitZone(const std::vector<Argument>& arguments, const ClockReading& now)
{
    TimedArguments split { arguments, &now.local };
    if (!split.values.empty() && !split.values.back().isNumber
        && equalsIgnoringCase(split.values.back().text, "GMT")) {
        split.values.pop_back();
        split.clock = &now.utc;
    }
    return split;
}

bool inRange(int value, int start, int end)
{
    return start <= end ? value >= start && value <= end : value >= start || value <= end;
}

int nameIndex(const Argument& argument, const std::array<std::string_view, 12>& names, size_t count)
{
    if (argument.isNumber)
        return -1;
    for (size_t i = 0; i < count; ++i) {
        if (equalsIgnoringCase(argument.text, names[i]))
            return int(i);
    }
    return -1;
}

constexpr std::array<std::string_view, 12> kWeekdays
    = { "SUN", "MON", "TUE", "WED", "THU", "FRI", "SAT" };
constexpr std::array<std::string_view, 12> kMonths
    = { "JAN", "FEB", "MAR", "APR", "MAY", "JUN", "JUL", "AUG", "SEP", "OCT", "NOV", "DEC" };

// A date argument: a day of the month, a month name or a year.
enum class DateField { Year = 0, Month = 1, Day = 2 };
struct DateItem {
    DateField field;
    int value;
};

std::optional<DateItem> dateItem(const Argument& argument)
{
    if (!argument.isNumber) {
        const int month = nameIndex(argument, kMonths, kMonths.size());
        if (month < 0)
            return std::nullopt;
        return DateItem { DateField::Month, month + 1 };
    }
    const int value = int(argument.number);
    if (value != argument.number || value < 1)
        return std::nullopt;
    return DateItem { value <= 31 ? DateField::Day : DateField::Year, value };
}

int fieldOf(const ClockFields& clock, DateField field)
{
    switch (field) {
    case DateField::Year:
        return clock.year;
    case DateField::Month:
        return clock.month;
    case DateField::Day:
        return clock.day;
    }
    return 0;
}

// One end of a date range as a number that orders like the date, made of
// the fields the end names; `mask` says which fields that were.
struct DateKey {
    long long key = 0;
    unsigned mask = 0;
    bool valid = true;
};

DateKey dateKey(const std::vector<DateItem>& items)
{
    std::array<int, 3> values {};
    DateKey result;
    for (const DateItem& item : items) {
        const unsigned bit = 1u << unsigned(item.field);
        result.valid = result.valid && !(result.mask & bit);
        result.mask |= bit;
        values[size_t(item.field)] = item.value;
    }
    result.key = (values[0] * 13LL + values[1]) * 32 + values[2];
    return result;
}

DateKey nowKey(const ClockFields& clock, unsigned mask)
{
    std::vector<DateItem> items;
    for (const DateField field : { DateField::Year, DateField::Month, DateField::Day }) {
        if (mask & (1u << unsigned(field)))
            items.push_back({ field, fieldOf(clock, field) });
    }
    return dateKey(items);
}

std::optional<int> wholeNumber(const Argument& argument, int limit)
{
    const int value = int(argument.number);
    if (!argument.isNumber || value != argument.number || value < 0 || value > limit)
        return std::nullopt;
    return value;
}

// Seconds of the day for the hour, minute and second arguments from
// `first`; `count` of them (1, 2 or 3). The end of a range covers its
// whole last hour or minute.
std::optional<int> secondsFrom(
    const std::vector<Argument>& values, size_t first, size_t count, bool isEnd)
{
    static constexpr std::array<int, 3> limits = { 23, 59, 59 };
    static constexpr std::array<int, 3> weights = { 3600, 60, 1 };
    int seconds = 0;
    for (size_t i = 0; i < count; ++i) {
        const auto value = wholeNumber(values[first + i], limits[i]);
        if (!value)
            return std::nullopt;
        seconds += *value * weights[i];
    }
    return isEnd ? seconds + weights[count - 1] - 1 : seconds;
}

} // namespace

bool isIpv4Address(std::string_view text)
{
    return parseIpv4(text).has_value();
}

bool isPlainHostName(std::string_view host)
{
    return !host.empty() && host.find_first_of(".:") == std::string_view::npos;
}

bool dnsDomainIs(std::string_view host, std::string_view domain)
{
    return host.size() >= domain.size()
        && equalsIgnoringCase(host.substr(host.size() - domain.size()), domain);
}

bool localHostOrDomainIs(std::string_view host, std::string_view hostdom)
{
    if (equalsIgnoringCase(host, hostdom))
        return true;
    return isPlainHostName(host) && hostdom.size() > host.size() && hostdom[host.size()] == '.'
        && equalsIgnoringCase(hostdom.substr(0, host.size()), host);
}

int dnsDomainLevels(std::string_view host)
{
    int dots = 0;
    for (const char c : host)
        dots += c == '.' ? 1 : 0;
    return dots;
}

bool shExpMatch(std::string_view text, std::string_view pattern)
{
    // Greedy matching with one remembered star: linear in practice, and no
    // recursion that a hostile pattern could make explode.
    size_t t = 0, p = 0;
    size_t starAt = std::string_view::npos, resumeAt = 0;
    while (t < text.size()) {
        if (p < pattern.size() && (pattern[p] == '?' || pattern[p] == text[t])) {
            ++t;
            ++p;
        } else if (p < pattern.size() && pattern[p] == '*') {
            starAt = p++;
            resumeAt = t;
        } else if (starAt != std::string_view::npos) {
            p = starAt + 1;
            t = ++resumeAt;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*')
        ++p;
    return p == pattern.size();
}

bool isInNet(std::string_view address, std::string_view pattern, std::string_view mask)
{
    const auto a = parseIpv4(address);
    const auto n = parseIpv4(pattern);
    const auto m = parseIpv4(mask);
    return a && n && m && (*a & *m) == (*n & *m);
}

bool weekdayRange(const std::vector<Argument>& arguments, const ClockReading& now)
{
    const TimedArguments split = splitZone(arguments, now);
    if (split.values.empty() || split.values.size() > 2)
        return false;
    const int first = nameIndex(split.values.front(), kWeekdays, 7);
    const int last = nameIndex(split.values.back(), kWeekdays, 7);
    if (first < 0 || last < 0)
        return false;
    return inRange(split.clock->weekday, first, last);
}

bool dateRange(const std::vector<Argument>& arguments, const ClockReading& now)
{
    const TimedArguments split = splitZone(arguments, now);
    std::vector<DateItem> items;
    for (const Argument& argument : split.values) {
        const auto item = dateItem(argument);
        if (!item)
            return false;
        items.push_back(*item);
    }
    if (items.size() == 1)
        return fieldOf(*split.clock, items.front().field) == items.front().value;
    if (items.empty() || items.size() % 2 != 0 || items.size() > 6)
        return false;
    const auto middle = items.begin() + std::ptrdiff_t(items.size() / 2);
    const DateKey start = dateKey({ items.begin(), middle });
    const DateKey end = dateKey({ middle, items.end() });
    if (!start.valid || !end.valid || start.mask != end.mask)
        return false;
    const long long current = nowKey(*split.clock, start.mask).key;
    const bool hasYear = start.mask & (1u << unsigned(DateField::Year));
    if (hasYear)
        return current >= start.key && current <= end.key;
    return start.key <= end.key ? current >= start.key && current <= end.key
                                : current >= start.key || current <= end.key;
}

bool timeRange(const std::vector<Argument>& arguments, const ClockReading& now)
{
    const TimedArguments split = splitZone(arguments, now);
    const size_t count = split.values.size();
    const int current = split.clock->secondOfDay;
    if (count == 1) {
        const auto hour = wholeNumber(split.values.front(), 23);
        return hour && current / 3600 == *hour;
    }
    if (count != 2 && count != 4 && count != 6)
        return false;
    const auto start = secondsFrom(split.values, 0, count / 2, false);
    const auto end = secondsFrom(split.values, count / 2, count / 2, true);
    return start && end && inRange(current, *start, *end);
}

} // namespace PacFunctions
