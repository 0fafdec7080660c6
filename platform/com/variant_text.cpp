#include "platform/com/variant_text.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>

#include "platform/com/civil_date.h"

namespace platform::com {

namespace {

// Day 0 of DATE (30 Dec 1899) counted from 1 Jan 1970.
constexpr std::int64_t kDate0FromUnix = -25569;

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    return text;
}

bool readNumber(std::string_view& text, int* value) {
    std::size_t i = 0;
    int result = 0;
    while (i < text.size() && i < 6 && text[i] >= '0' && text[i] <= '9')
        result = result * 10 + (text[i++] - '0');
    if (i == 0 || (i < text.size() && text[i] >= '0' && text[i] <= '9')) return false;
    text.remove_prefix(i);
    *value = result;
    return true;
}

bool readChar(std::string_view& text, char c) {
    if (text.empty() || text.front() != c) return false;
    text.remove_prefix(1);
    return true;
}

// Where a plain decimal number's first significant digit stands: d in 0.x * 10^d (0 for zero). Only
// its sign is used, to tell a number too large for a double from one too small, so it saturates.
long long decimalExponent(std::string_view number) {
    const std::size_t e = number.find_first_of("eE");
    const std::string_view mantissa = number.substr(0, e);
    const std::size_t point = std::min(mantissa.find('.'), mantissa.size());
    const std::size_t first = mantissa.find_first_of("123456789");
    if (first == std::string_view::npos) return 0;
    long long position =
        first < point ? static_cast<long long>(point - first) : -static_cast<long long>(first - point - 1);
    if (e != std::string_view::npos) {
        long long exponent = 0;
        for (char c : number.substr(e + 1))
            if (c >= '0' && c <= '9') exponent = std::min(exponent * 10 + (c - '0'), 1'000'000'000LL);
        position += number[e + 1] == '-' ? -exponent : exponent;
    }
    return position;
}

}  // namespace

std::string formatReal(double value, int digits) {
    if (std::isnan(value)) return "NaN";
    if (std::isinf(value)) return value < 0 ? "-Infinity" : "Infinity";
    if (value == 0.0) return "0";
    // Rounded half away from zero at the last shown digit, as the platform's conversion does
    // (654322.25f shows as 654322.3); the exact expansion comes from a wider scientific form.
    char wide[64];
    const auto res =
        std::to_chars(wide, wide + sizeof wide, std::fabs(value), std::chars_format::scientific, digits + 20);
    std::string mantissa;
    const char* p = wide;
    for (; p < res.ptr && *p != 'e'; ++p)
        if (*p != '.') mantissa += *p;
    int exponent = 0;
    std::from_chars(p + 1 + (p[1] == '+'), res.ptr, exponent);
    std::string kept = mantissa.substr(0, static_cast<std::size_t>(digits));
    if (mantissa[static_cast<std::size_t>(digits)] >= '5') {
        int i = digits - 1;
        for (; i >= 0 && kept[static_cast<std::size_t>(i)] == '9'; --i)
            kept[static_cast<std::size_t>(i)] = '0';
        if (i >= 0) {
            ++kept[static_cast<std::size_t>(i)];
        } else {
            kept.insert(kept.begin(), '1');
            kept.pop_back();
            ++exponent;
        }
    }
    while (kept.size() > 1 && kept.back() == '0') kept.pop_back();
    std::string text = value < 0 ? "-" : "";
    if (exponent < -4 || exponent >= digits) {
        text += kept[0];
        if (kept.size() > 1) {
            text += '.';
            text.append(kept, 1);
        }
        char e[16];
        std::snprintf(e, sizeof e, "E%c%02d", exponent < 0 ? '-' : '+', std::abs(exponent));
        return text + e;
    }
    if (exponent < 0) return text + "0." + std::string(static_cast<std::size_t>(-exponent - 1), '0') + kept;
    const auto whole = static_cast<std::size_t>(exponent) + 1;
    if (kept.size() <= whole) return text + kept + std::string(whole - kept.size(), '0');
    return text + kept.substr(0, whole) + "." + kept.substr(whole);
}

std::optional<double> parseReal(std::string_view text) {
    text = trimmed(text);
    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    // Only plain decimal forms: "inf", "nan" and hex floats are not numbers here.
    std::size_t i = 0, digits = 0;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i, ++digits;
    if (i < text.size() && text[i] == '.') {
        ++i;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i, ++digits;
    }
    if (digits == 0) return std::nullopt;
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        std::size_t j = i + 1;
        if (j < text.size() && (text[j] == '+' || text[j] == '-')) ++j;
        const std::size_t start = j;
        while (j < text.size() && text[j] >= '0' && text[j] <= '9') ++j;
        if (j == start) return std::nullopt;
        i = j;
    }
    if (i != text.size()) return std::nullopt;
    double value = 0;
    const auto res = std::from_chars(text.data(), text.data() + text.size(), value);
    if (res.ec == std::errc::result_out_of_range)
        value = decimalExponent(text) > 0 ? HUGE_VAL : 0.0;
    else if (res.ptr != text.data() + text.size())
        return std::nullopt;
    return negative ? -value : value;
}

bool isValidDate(double value) { return value > kMinDate - 1.0 && value < kMaxDate + 1.0; }

std::string formatDate(DATE date) {
    if (!isValidDate(date)) return {};
    std::int64_t day = static_cast<std::int64_t>(std::trunc(date));
    auto seconds =
        static_cast<std::int64_t>(std::llround(std::fabs(date - static_cast<double>(day)) * 86400.0));
    if (seconds >= 86400) {
        seconds -= 86400;
        ++day;
    }
    std::string text;
    if (day != 0) {
        std::int64_t year;
        unsigned month, mday;
        civilFromDays(day + kDate0FromUnix, &year, &month, &mday);
        text = std::to_string(month) + "/" + std::to_string(mday) + "/" + std::to_string(year);
    }
    if (seconds != 0 || day == 0) {
        const auto hour = static_cast<int>(seconds / 3600);
        char time[32];
        std::snprintf(time, sizeof time, "%d:%02d:%02d %s", hour % 12 == 0 ? 12 : hour % 12,
                      static_cast<int>(seconds / 60 % 60), static_cast<int>(seconds % 60),
                      hour < 12 ? "AM" : "PM");
        if (!text.empty()) text += ' ';
        text += time;
    }
    return text;
}

std::optional<DATE> parseDate(std::string_view text) {
    text = trimmed(text);
    if (text.empty()) return std::nullopt;
    std::int64_t day = 0;
    bool any = false;
    if (text.find('/') != std::string_view::npos) {
        int month, mday, year;
        if (!readNumber(text, &month) || !readChar(text, '/') || !readNumber(text, &mday) ||
            !readChar(text, '/') || !readNumber(text, &year))
            return std::nullopt;
        if (year < 100 || year > 9999 || month < 1 || month > 12 || mday < 1) return std::nullopt;
        day = daysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(mday)) - kDate0FromUnix;
        std::int64_t y;
        unsigned m, d;
        civilFromDays(day + kDate0FromUnix, &y, &m, &d);
        if (static_cast<int>(d) != mday) return std::nullopt;  // 2/30 and the like
        text = trimmed(text);
        any = true;
    }
    double fraction = 0;
    if (!text.empty()) {
        int hour, minute, second = 0;
        if (!readNumber(text, &hour) || !readChar(text, ':') || !readNumber(text, &minute))
            return std::nullopt;
        if (readChar(text, ':') && !readNumber(text, &second)) return std::nullopt;
        text = trimmed(text);
        if (!text.empty()) {
            if (text.size() != 2 || (text[1] != 'M' && text[1] != 'm') || hour < 1 || hour > 12)
                return std::nullopt;
            const bool pm = text[0] == 'P' || text[0] == 'p';
            if (!pm && text[0] != 'A' && text[0] != 'a') return std::nullopt;
            hour = hour % 12 + (pm ? 12 : 0);
        }
        if (hour > 23 || minute > 59 || second > 59) return std::nullopt;
        fraction = (hour * 3600 + minute * 60 + second) / 86400.0;
        any = true;
    }
    if (!any) return std::nullopt;
    return day >= 0 ? static_cast<double>(day) + fraction : static_cast<double>(day) - fraction;
}

}  // namespace platform::com
