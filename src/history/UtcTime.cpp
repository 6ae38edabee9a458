#include "history/UtcTime.h"

#include <charconv>
#include <cstdio>

namespace tarvel {
namespace {

int Campo(std::string_view testo, std::size_t da, std::size_t quanti) {
    int valore = 0;
    std::from_chars(testo.data() + da, testo.data() + da + quanti, valore);
    return valore;
}

}  // namespace

std::string TestoUTC(WallTime quando) {
    return TestoUTC(std::chrono::floor<std::chrono::milliseconds>(quando));
}

std::string TestoUTC(TimeMs quando) {
    using namespace std::chrono;
    const auto giorno = floor<days>(quando);
    const year_month_day data{giorno};
    const hh_mm_ss ora{quando - giorno};
    char testo[40];
    std::snprintf(testo, sizeof testo, "%04d-%02u-%02uT%02d:%02d:%02d.%03dZ",
                  static_cast<int>(data.year()), static_cast<unsigned>(data.month()),
                  static_cast<unsigned>(data.day()), static_cast<int>(ora.hours().count()),
                  static_cast<int>(ora.minutes().count()), static_cast<int>(ora.seconds().count()),
                  static_cast<int>(ora.subseconds().count()));
    return testo;
}

WallTime DaTestoUTC(std::string_view t) {
    using namespace std::chrono;
    if (t.size() < 23) return {};
    const year_month_day data{year(Campo(t, 0, 4)), month(static_cast<unsigned>(Campo(t, 5, 2))),
                              day(static_cast<unsigned>(Campo(t, 8, 2)))};
    return sys_days(data) + hours(Campo(t, 11, 2)) + minutes(Campo(t, 14, 2)) +
           seconds(Campo(t, 17, 2)) + milliseconds(Campo(t, 20, 3));
}

std::optional<std::string> TempoUTC(std::string_view testo) {
    static constexpr std::string_view Forma = "0000-00-00T00:00:00.000";
    static constexpr std::string_view Zeri = "0000-01-01T00:00:00.000";
    if (testo.ends_with('Z')) testo.remove_suffix(1);
    const std::size_t n = testo.size();
    if (n != 10 && n != 16 && n != 19 && n != 23) return std::nullopt;
    std::string tempo(testo);
    if (tempo.size() > 10 && tempo[10] == ' ') tempo[10] = 'T';
    for (std::size_t i = 0; i < n; ++i) {
        const bool cifra = tempo[i] >= '0' && tempo[i] <= '9';
        if (Forma[i] == '0' ? !cifra : tempo[i] != Forma[i]) return std::nullopt;
    }
    tempo += Zeri.substr(n);
    // A day of the calendar (leap years counted) and a time of the day, no
    // leap second.
    using namespace std::chrono;
    const year_month_day data{year(Campo(tempo, 0, 4)),
                              month(static_cast<unsigned>(Campo(tempo, 5, 2))),
                              day(static_cast<unsigned>(Campo(tempo, 8, 2)))};
    if (!data.ok() || Campo(tempo, 11, 2) > 23 || Campo(tempo, 14, 2) > 59 ||
        Campo(tempo, 17, 2) > 59)
        return std::nullopt;
    return tempo + "Z";
}

}  // namespace tarvel
