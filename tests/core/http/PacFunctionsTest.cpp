#include "http/PacFunctions.h"

#include <gtest/gtest.h>

#include <functional>

using namespace PacFunctions;

namespace {

struct Case {
    const char* what;
    std::function<bool()> call;
    bool expected;
};

void runCases(const std::vector<Case>& cases)
{
    for (const Case& row : cases)
        EXPECT_EQ(row.call(), row.expected) << row.what;
}

Argument n(double value)
{
    return { true, value, {} };
}
Argument s(const char* text)
{
    return { false, 0, text };
}

// Saturday 2026-12-05, 23:30:15 local; already Sunday 2026-12-06 04:30:15 in UTC.
const ClockReading kNow { { 2026, 12, 5, 6, 23 * 3600 + 30 * 60 + 15 },
    { 2026, 12, 6, 0, 4 * 3600 + 30 * 60 + 15 } };

} // namespace

TEST(PacFunctions, HostAndAddressTests)
{
    runCases({
        { "plain name", [] { return isPlainHostName("www"); }, true },
        { "dotted name", [] { return isPlainHostName("www.example.org"); }, false },
        { "IPv6 literal", [] { return isPlainHostName("::1"); }, false },
        { "domain suffix", [] { return dnsDomainIs("www.Example.org", ".example.org"); }, true },
        { "other domain", [] { return dnsDomainIs("www.example.com", ".example.org"); }, false },
        { "shorter than domain", [] { return dnsDomainIs("org", ".example.org"); }, false },
        { "exact host", [] { return localHostOrDomainIs("www.example.org", "www.example.org"); },
            true },
        { "plain host of it", [] { return localHostOrDomainIs("www", "www.example.org"); }, true },
        { "other full host", [] { return localHostOrDomainIs("www.other.org", "www.example.org"); },
            false },
        { "prefix but no dot", [] { return localHostOrDomainIs("ww", "www.example.org"); }, false },
        { "address in net", [] { return isInNet("10.1.2.3", "10.0.0.0", "255.0.0.0"); }, true },
        { "address outside", [] { return isInNet("11.1.2.3", "10.0.0.0", "255.0.0.0"); }, false },
        { "exact mask", [] { return isInNet("192.168.1.7", "192.168.1.7", "255.255.255.255"); },
            true },
        { "unresolved name", [] { return isInNet("", "10.0.0.0", "255.0.0.0"); }, false },
        { "octet over 255", [] { return isIpv4Address("1.2.3.256"); }, false },
        { "three parts", [] { return isIpv4Address("1.2.3"); }, false },
        { "trailing dot", [] { return isIpv4Address("1.2.3.4."); }, false },
    });
    EXPECT_EQ(dnsDomainLevels("www.example.org"), 2);
    EXPECT_EQ(dnsDomainLevels("www"), 0);
}

TEST(PacFunctions, ShellExpressions)
{
    runCases({
        { "star in middle", [] { return shExpMatch("http://a.example.org/x", "*.example.org/*"); },
            true },
        { "question mark", [] { return shExpMatch("ab", "a?"); }, true },
        { "question needs a char", [] { return shExpMatch("a", "a?"); }, false },
        { "star matches nothing", [] { return shExpMatch("abc", "abc*"); }, true },
        { "backtracking", [] { return shExpMatch("aXbXc", "*X*c"); }, true },
        { "no match", [] { return shExpMatch("abc", "*d*"); }, false },
        { "dot is literal", [] { return shExpMatch("aXc", "a.c"); }, false },
        { "case matters", [] { return shExpMatch("ABC", "abc"); }, false },
        { "hostile pattern stays quick",
            [] { return shExpMatch(std::string(5000, 'a'), std::string(60, '*') + "b"); }, false },
    });
}

TEST(PacFunctions, DayDateAndTimeRanges)
{
    using Range = bool (*)(const std::vector<Argument>&, const ClockReading&);
    struct RangeCase {
        const char* what;
        Range range;
        std::vector<Argument> arguments;
        bool expected;
    };
    const RangeCase cases[] = {
        { "weekday today", weekdayRange, { s("SAT") }, true },
        { "weekday in GMT", weekdayRange, { s("SUN"), s("GMT") }, true },
        { "weekday range", weekdayRange, { s("MON"), s("FRI") }, false },
        { "wrapping range", weekdayRange, { s("FRI"), s("MON") }, true },
        { "unknown day", weekdayRange, { s("XYZ") }, false },
        { "day of month", dateRange, { n(5) }, true },
        { "day in GMT", dateRange, { n(6), s("GMT") }, true },
        { "month", dateRange, { s("DEC") }, true },
        { "year", dateRange, { n(2026) }, true },
        { "month range wraps", dateRange, { s("NOV"), s("FEB") }, true },
        { "month range", dateRange, { s("JAN"), s("NOV") }, false },
        { "day month range", dateRange, { n(1), s("DEC"), n(5), s("DEC") }, true },
        { "full dates", dateRange, { n(6), s("DEC"), n(2026), n(1), s("JAN"), n(2027) }, false },
        { "years do not wrap", dateRange, { n(2027), n(2025) }, false },
        { "mixed halves", dateRange, { n(1), s("DEC") }, false },
        { "hour", timeRange, { n(23) }, true },
        { "hours include the last", timeRange, { n(20), n(23) }, true },
        { "hours wrap midnight", timeRange, { n(22), n(6) }, true },
        { "hours in GMT", timeRange, { n(9), n(17), s("GMT") }, false },
        { "minutes include the last", timeRange, { n(23), n(0), n(23), n(30) }, true },
        { "seconds end exactly", timeRange, { n(23), n(0), n(0), n(23), n(30), n(14) }, false },
        { "odd argument count", timeRange, { n(1), n(2), n(3) }, false },
        { "hour out of range", timeRange, { n(24) }, false },
    };
    for (const RangeCase& c : cases)
        EXPECT_EQ(c.range(c.arguments, kNow), c.expected) << c.what;
}
