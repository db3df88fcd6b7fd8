#pragma once

#include <string>
#include <string_view>
#include <vector>

// The helper functions a proxy auto-configuration script may call, as plain
// functions on byte strings so that they run in the script's sandbox process
// without any Qt state. Name resolution is not done here: the functions that
// need an address take it already resolved.
namespace PacFunctions {

// One reading of the clock, in local time and in UTC, taken before a script
// runs so that every call within one evaluation sees the same moment.
struct ClockFields {
    int year = 1970;
    int month = 1; // 1..12
    int day = 1; // 1..31
    int weekday = 4; // 0 = Sunday
    int secondOfDay = 0;
};

struct ClockReading {
    ClockFields local;
    ClockFields utc;
};

// An argument of weekdayRange, dateRange or timeRange: a number or a text.
struct Argument {
    bool isNumber = false;
    double number = 0;
    std::string text;
};

bool isPlainHostName(std::string_view host);
bool dnsDomainIs(std::string_view host, std::string_view domain);
bool localHostOrDomainIs(std::string_view host, std::string_view hostdom);
int dnsDomainLevels(std::string_view host);
// "*" matches any run of characters, "?" any one character; nothing else is
// special.
bool shExpMatch(std::string_view text, std::string_view pattern);
// Both addresses and the mask in dotted IPv4 form; false when one is not.
bool isInNet(std::string_view address, std::string_view pattern, std::string_view mask);
bool isIpv4Address(std::string_view text);

// A last argument "GMT" selects UTC instead of local time. A start later than
// the end wraps around (FRI to MON, DEC to FEB, 22 to 6 o'clock).
bool weekdayRange(const std::vector<Argument>& arguments, const ClockReading& now);
bool dateRange(const std::vector<Argument>& arguments, const ClockReading& now);
bool timeRange(const std::vector<Argument>& arguments, const ClockReading& now);

} // namespace PacFunctions
