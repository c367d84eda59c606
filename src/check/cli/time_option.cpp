#include "check/cli/time_option.h"

#include <cstdint>
#include <limits>

namespace quorbix {

namespace {

// The days of month m (1 to 12) of year y of the Gregorian calendar.
unsigned days_in_month(unsigned y, unsigned m) {
    constexpr unsigned kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
    return m == 2 && leap ? 29 : kDays[m - 1];
}

// Days from 1970-01-01 to the given date of the proleptic Gregorian calendar.
std::int64_t days_from_civil(std::int64_t y, unsigned m, unsigned d) {
    y -= m <= 2 ? 1 : 0;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const auto yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? static_cast<unsigned>(-3) : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

// Reads n decimal digits at text[*i]; false when they are not there.
bool digits(std::string_view text, std::size_t* i, std::size_t n, unsigned* out) {
    unsigned v = 0;
    for (std::size_t k = 0; k < n; ++k, ++*i) {
        if (*i >= text.size() || text[*i] < '0' || text[*i] > '9') {
            return false;
        }
        v = v * 10 + static_cast<unsigned>(text[*i] - '0');
    }
    *out = v;
    return true;
}

// The time, when this build's time_t holds it (a 32-bit one ends in 2038).
std::optional<std::time_t> in_time_range(std::int64_t seconds) {
    if (seconds < std::numeric_limits<std::time_t>::min() ||
        seconds > std::numeric_limits<std::time_t>::max()) {
        return std::nullopt;
    }
    return static_cast<std::time_t>(seconds);
}

}  // namespace

std::optional<std::time_t> parse_time(std::string_view text) {
    if (!text.empty() && text.front() == '@') {
        std::int64_t v = 0;
        bool negative = text.size() > 1 && text[1] == '-';
        std::size_t i = negative ? 2 : 1;
        if (i == text.size()) {
            return std::nullopt;
        }
        for (; i < text.size(); ++i) {
            if (text[i] < '0' || text[i] > '9' || v > INT64_MAX / 10 - 9) {
                return std::nullopt;
            }
            v = v * 10 + (text[i] - '0');
        }
        return in_time_range(negative ? -v : v);
    }
    std::size_t i = 0;
    unsigned y = 0;
    unsigned mo = 0;
    unsigned d = 0;
    unsigned h = 0;
    unsigned mi = 0;
    unsigned s = 0;
    if (!digits(text, &i, 4, &y) || i >= text.size() || text[i++] != '-' ||
        !digits(text, &i, 2, &mo) || i >= text.size() || text[i++] != '-' ||
        !digits(text, &i, 2, &d)) {
        return std::nullopt;
    }
    if (i < text.size() && (text[i] == 'T' || text[i] == ' ')) {
        ++i;
        if (!digits(text, &i, 2, &h) || i >= text.size() || text[i++] != ':' ||
            !digits(text, &i, 2, &mi)) {
            return std::nullopt;
        }
        if (i < text.size() && text[i] == ':') {
            ++i;
            if (!digits(text, &i, 2, &s)) {
                return std::nullopt;
            }
        }
    }
    if (i < text.size() && text[i] == 'Z') {
        ++i;
    }
    if (i != text.size() || mo < 1 || mo > 12 || d < 1 || d > days_in_month(y, mo) || h > 23 ||
        mi > 59 || s > 60) {
        return std::nullopt;
    }
    const std::int64_t seconds =
        days_from_civil(y, mo, d) * 86400 + std::int64_t{h} * 3600 + std::int64_t{mi} * 60 + s;
    return in_time_range(seconds);
}

}  // namespace quorbix
