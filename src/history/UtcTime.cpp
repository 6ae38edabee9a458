#include "history/UtcTime.h"

#include <charconv>
#include <cstdio>

namespace tarvel {
namespace {

int Field(std::string_view text, std::size_t from, std::size_t howMany) {
    int value = 0;
    std::from_chars(text.data() + from, text.data() + from + howMany, value);
    return value;
}

}  // namespace

std::string UtcText(WallTime when) {
    return UtcText(std::chrono::floor<std::chrono::milliseconds>(when));
}

std::string UtcText(TimeMs when) {
    using namespace std::chrono;
    const auto dayStart = floor<days>(when);
    const year_month_day data{dayStart};
    const hh_mm_ss timeOfDay{when - dayStart};
    char text[40];
    std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02d.%03dZ",
                  static_cast<int>(data.year()), static_cast<unsigned>(data.month()),
                  static_cast<unsigned>(data.day()), static_cast<int>(timeOfDay.hours().count()),
                  static_cast<int>(timeOfDay.minutes().count()), static_cast<int>(timeOfDay.seconds().count()),
                  static_cast<int>(timeOfDay.subseconds().count()));
    return text;
}

WallTime FromUtcText(std::string_view t) {
    using namespace std::chrono;
    if (t.size() < 23) return {};
    const year_month_day data{year(Field(t, 0, 4)), month(static_cast<unsigned>(Field(t, 5, 2))),
                              day(static_cast<unsigned>(Field(t, 8, 2)))};
    return sys_days(data) + hours(Field(t, 11, 2)) + minutes(Field(t, 14, 2)) +
           seconds(Field(t, 17, 2)) + milliseconds(Field(t, 20, 3));
}

std::optional<std::string> UtcTime(std::string_view text) {
    static constexpr std::string_view Pattern = "0000-00-00T00:00:00.000";
    static constexpr std::string_view Zeros = "0000-01-01T00:00:00.000";
    if (text.ends_with('Z')) text.remove_suffix(1);
    const std::size_t n = text.size();
    if (n != 10 && n != 16 && n != 19 && n != 23) return std::nullopt;
    std::string tempo(text);
    if (tempo.size() > 10 && tempo[10] == ' ') tempo[10] = 'T';
    for (std::size_t i = 0; i < n; ++i) {
        const bool digit = tempo[i] >= '0' && tempo[i] <= '9';
        if (Pattern[i] == '0' ? !digit : tempo[i] != Pattern[i]) return std::nullopt;
    }
    tempo += Zeros.substr(n);
    // A day of the calendar (leap years counted) and a time of the day, no
    // leap second.
    using namespace std::chrono;
    const year_month_day data{year(Field(tempo, 0, 4)),
                              month(static_cast<unsigned>(Field(tempo, 5, 2))),
                              day(static_cast<unsigned>(Field(tempo, 8, 2)))};
    if (!data.ok() || Field(tempo, 11, 2) > 23 || Field(tempo, 14, 2) > 59 ||
        Field(tempo, 17, 2) > 59)
        return std::nullopt;
    return tempo + "Z";
}

}  // namespace tarvel
