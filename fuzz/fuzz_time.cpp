// The times typed for --from and --to. What is accepted is the text itself
// in the stored form (a blank for the "T", the parts not given zero, a "Z"
// at the end), and a time that the C library's calendar (timegm, gmtime_r)
// keeps as it is: no month 13, no 30 February, no 25:61 or leap second. A
// full time of that shape that the C library keeps is accepted.

#include <time.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

#include "history/UtcTime.h"

namespace {

void require(bool holds) {
    if (!holds) std::abort();
}

// Year, month, day, hour, minute, second and millisecond of the stored form
// "2026-12-07T12:04:37.120Z", read with sscanf.
bool fields(const std::string& t, int (&f)[7]) {
    char tail = 0;
    return t.size() == 24 && t[23] == 'Z' &&
           std::sscanf(t.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d.%3d%c", &f[0], &f[1], &f[2], &f[3],
                       &f[4], &f[5], &f[6], &tail) == 8;
}

// Whether glibc's calendar keeps the time as it is.
bool calendarKeeps(const int (&f)[7]) {
    std::tm tm{};
    tm.tm_year = f[0] - 1900;
    tm.tm_mon = f[1] - 1;
    tm.tm_mday = f[2];
    tm.tm_hour = f[3];
    tm.tm_min = f[4];
    tm.tm_sec = f[5];
    // timegm normalises tm in place: the fields are compared with f.
    const time_t t = ::timegm(&tm);
    std::tm back{};
    if (::gmtime_r(&t, &back) == nullptr) return false;
    return back.tm_year == f[0] - 1900 && back.tm_mon == f[1] - 1 && back.tm_mday == f[2] &&
           back.tm_hour == f[3] && back.tm_min == f[4] && back.tm_sec == f[5];
}

// A full time of the accepted shape: digits where they go.
bool fullShape(std::string_view t) {
    constexpr std::string_view shape = "0000-00-00T00:00:00.000";
    if (t.ends_with('Z')) t.remove_suffix(1);
    if (t.size() != shape.size()) return false;
    for (std::size_t i = 0; i < t.size(); ++i) {
        const bool digit = t[i] >= '0' && t[i] <= '9';
        if (shape[i] == '0' ? !digit : t[i] != shape[i] && !(i == 10 && t[i] == ' ')) return false;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const std::optional<std::string> time = tarvel::UtcTime(text);
    int f[7] = {};
    if (!time) {
        if (fullShape(text)) {
            std::string t(text.substr(0, 23));
            t[10] = 'T';
            require(!fields(t + "Z", f) || !calendarKeeps(f));
        }
        return 0;
    }
    require(fields(*time, f) && calendarKeeps(f));
    std::string given(text.ends_with('Z') ? text.substr(0, size - 1) : text);
    if (given.size() > 10) given[10] = 'T';
    require(time->starts_with(given));
    require(time->substr(given.size()) ==
            std::string("0000-01-01T00:00:00.000Z").substr(given.size()));
    return 0;
}
