// The texts of time_texts.hpp.
#include "table/time_texts.hpp"

#include <cstdio>

namespace kestrava::table {

namespace {

constexpr Nanoseconds per_microsecond = 1'000;
constexpr Nanoseconds per_second = 1'000'000'000;
constexpr Nanoseconds per_day = 86'400 * per_second;

// Floor division: an instant before 1970 still falls in the day it is in.
Nanoseconds floor_div(Nanoseconds value, Nanoseconds by) noexcept {
    const Nanoseconds quotient = value / by;
    return quotient * by > value ? quotient - 1 : quotient;
}

std::string formatted(const char* format, long long a, long long b, long long c) {
    char text[64];
    const int length = std::snprintf(text, sizeof text, format, a, b, c);
    return std::string(text, static_cast<std::size_t>(length));
}

// "H:MM:SS" and the fraction of a second as Python shows it, for 0 <= value < a day.
std::string clock_text(Nanoseconds value, const char* hours_format) {
    const auto seconds = static_cast<long long>(value / per_second);
    const auto fraction = static_cast<long long>(value % per_second);
    std::string text = formatted(hours_format, seconds / 3600, seconds / 60 % 60, seconds % 60);
    if (fraction % per_microsecond != 0) return text + formatted(".%09lld", fraction, 0, 0);
    if (fraction != 0) text += formatted(".%06lld", fraction / per_microsecond, 0, 0);
    return text;
}

struct CivilDate {
    long long year;
    long long month;
    long long day;
};

// The proleptic Gregorian date of a count of days since 1970-01-01.
CivilDate civil_date(long long days) noexcept {
    days += 719'468;  // days from 0000-03-01, the start of a 400-year era, to 1970-01-01
    const long long era = (days >= 0 ? days : days - 146'096) / 146'097;
    const long long day_of_era = days - era * 146'097;
    const long long year_of_era = (day_of_era - day_of_era / 1460 + day_of_era / 36'524 - day_of_era / 146'096) / 365;
    const long long day_of_year = day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
    const long long month_from_march = (5 * day_of_year + 2) / 153;
    const long long month = month_from_march < 10 ? month_from_march + 3 : month_from_march - 9;
    return {year_of_era + era * 400 + (month <= 2 ? 1 : 0), month, day_of_year - (153 * month_from_march + 2) / 5 + 1};
}

}  // namespace

std::string duration_text(Nanoseconds duration) {
    if (duration < 0) return "-" + duration_text(-duration);
    const auto days = static_cast<long long>(duration / per_day);
    const std::string clock = clock_text(duration % per_day, "%lld:%02lld:%02lld");
    if (days == 0) return clock;
    return std::to_string(days) + (days == 1 ? " day, " : " days, ") + clock;
}

std::string timedelta_text(Nanoseconds duration) {
    if (duration >= 0) return duration_text(duration);
    // Python keeps the seconds of a negative timedelta positive: -1 day, 23:45:00.
    const Nanoseconds days = floor_div(duration, per_day);
    const std::string clock = clock_text(duration - days * per_day, "%lld:%02lld:%02lld");
    return std::to_string(static_cast<long long>(days)) + (days == -1 ? " day, " : " days, ") + clock;
}

std::string iso_date(std::int64_t days) {
    const CivilDate date = civil_date(days);
    return formatted("%04lld-%02lld-%02lld", date.year, date.month, date.day);
}

std::string iso_time(Nanoseconds utc, Nanoseconds offset) {
    const Nanoseconds local = utc + offset;
    const Nanoseconds days = floor_div(local, per_day);
    const CivilDate date = civil_date(static_cast<long long>(days));
    std::string text = formatted("%04lld-%02lld-%02lld", date.year, date.month, date.day) + "T" +
                       clock_text(local - days * per_day, "%02lld:%02lld:%02lld");
    // Python writes an offset as +HH:MM, with seconds and a fraction only when present.
    std::string zone = clock_text(offset < 0 ? -offset : offset, "%02lld:%02lld:%02lld");
    if (zone.size() == 8 && zone.compare(5, 3, ":00") == 0) zone.resize(5);
    return text + (offset < 0 ? "-" : "+") + zone;
}

std::optional<Nanoseconds> fixed_offset(std::string_view zone) noexcept {
    if (zone == "UTC" || zone == "Z") return 0;
    const bool colon = zone.size() == 6 && zone[3] == ':';
    if ((zone.size() != 5 && !colon) || (zone[0] != '+' && zone[0] != '-')) return std::nullopt;
    const std::string_view minutes_text = zone.substr(colon ? 4 : 3, 2);
    const auto two_digits = [](std::string_view text) -> int {
        const bool digits = text[0] >= '0' && text[0] <= '9' && text[1] >= '0' && text[1] <= '9';
        return digits ? (text[0] - '0') * 10 + (text[1] - '0') : -1;
    };
    const int hours = two_digits(zone.substr(1, 2));
    const int minutes = two_digits(minutes_text);
    if (hours < 0 || minutes < 0) return std::nullopt;
    const Nanoseconds offset = (Nanoseconds{hours} * 60 + minutes) * 60 * per_second;
    return zone[0] == '-' ? -offset : offset;
}

}  // namespace kestrava::table
