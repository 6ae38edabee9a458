#include "acquisition/CyclePrediction.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <set>

#include "acquisition/Executor.h"
#include "acquisition/Groups.h"
#include "modbus/Frame.h"
#include "modbus/LineSettingsText.h"

namespace tarvel {
namespace {

constexpr int RequestBytes = 8;  // node, function, address, quantity, CRC
constexpr double PortSettleMs = 100;

int answerBytes(int function, int quantity) {
    return 5 + (function <= 2 ? (quantity + 7) / 8 : 2 * quantity);
}

bool oneRequest(ValueType kind) {
    return kind == ValueType::Float32 || kind == ValueType::Float64 || kind == ValueType::Int64;
}

// What one line costs on the port in force after it.
struct LineCost {
    std::size_t port = 0;
    double ms = 0;
    double wireMs = 0;  // the part in which the line carries bytes
};

// One pass over the list, every device answering at once or every device
// silent.
class Walk {
  public:
    Walk(const CycleSettings& s, bool silent, std::vector<std::string>& ports)
        : s_(s), silent_(silent), ports_(ports), state_(s.lines.size(), Fresh) {}

    // False when profile 0 cannot be used.
    bool run(std::vector<LineCost>& costs) {
        if (!use(0)) return false;
        bool lineRan = false;
        for (std::size_t i = 0; i < s_.lines.size(); ++i) {
            const RequestLine& line = s_.lines[i];
            cost_ = {port_, 0, 0};
            if (lineRan && line.kind != LineKind::Every) pass(profile_->pauseMs);
            if (line.kind == LineKind::Serial && line.profile && use(*line.profile)) {
                cost_.port = port_;
                pass(PortSettleMs);
            } else if (line.kind == LineKind::Wait) {
                pass(static_cast<double>(line.wait.count()));
            } else if (line.kind == LineKind::Read && line.reading) {
                readLine(i, *line.reading);
            }
            lineRan = lineRan || line.kind != LineKind::Every;
            costs.push_back(cost_);
        }
        return true;
    }

  private:
    enum State : std::uint8_t { Fresh, Served, Alone };

    // A profile that cannot be applied leaves the one in force.
    bool use(std::int16_t number) {
        const SerialProfile* p = s_.profile(number);
        const std::optional<LineSettings> line = p ? ParseLineSettings(p->settings) : std::nullopt;
        if (!line) return false;
        profile_ = p;
        const auto it = std::find(ports_.begin(), ports_.end(), p->com);
        port_ = static_cast<std::size_t>(it - ports_.begin());
        if (it == ports_.end()) ports_.push_back(p->com);
        network_ = s_.network(p->com);
        baud_ = line->baud;
        bitsPerByte_ = BitsPerByte(*line);
        return true;
    }

    void pass(double ms) {
        cost_.ms += ms;
        sinceExchangeUs_ += ms * 1000;
    }

    double wireMs(int bytes) const {
        return network_ || baud_ <= 0 ? 0.0 : bytes * bitsPerByte_ * 1000.0 / baud_;
    }

    // One request with its attempts; true when it is answered.
    bool request(int function, int quantity) {
        const int attempts = silent_ ? std::max(1, profile_->retry) : 1;
        for (int a = 0; a < attempts; ++a) {
            const double silenceUs =
                profile_->pauseSet && !network_
                    ? static_cast<double>(InterFrameSilence(baud_).count())
                    : 0.0;
            if (sinceExchangeUs_ < silenceUs) pass(std::ceil((silenceUs - sinceExchangeUs_) / 1000));
            const double wire =
                wireMs(RequestBytes + (silent_ ? 0 : answerBytes(function, quantity)));
            cost_.ms += wire + (silent_ ? profile_->timeOutMs : 0);
            cost_.wireMs += wire;
            sinceExchangeUs_ = 0;
        }
        return !silent_;
    }

    void readBlock(std::size_t i, const ReadParameters& p) {
        const auto planned = PlanBlock(s_.lines, i, *profile_, [this](const ScaleKey& key) {
            return scales_.contains(key);
        });
        if (!planned) return;
        const bool ok = request(p.function, planned->quantity);
        for (std::size_t l : planned->lines) {
            state_[l] = ok ? Served : Alone;
            const auto& q = *s_.lines[l].reading;
            if (ok && q.scaleRegister && *q.scaleRegister >= planned->start &&
                *q.scaleRegister - planned->start < planned->quantity)
                scales_.insert(ScaleKey(static_cast<std::uint8_t>(q.node),
                                        static_cast<std::uint8_t>(q.function), *q.scaleRegister));
        }
    }

    void readLine(std::size_t i, const ReadParameters& p) {
        if (p.node < 0 || p.node > 255 || p.function < 1 || p.function > 4) return;
        if (oneRequest(p.format.kind) && p.function <= 2) return;
        int& failed = failed_[static_cast<std::size_t>(p.node)];
        if (silent_ && profile_->skipAfter > 0 && failed >= profile_->skipAfter) return;
        if (state_[i] == Fresh && profile_->block > 0) readBlock(i, p);
        bool ok = true;
        if (p.scaleRegister) {
            const ScaleKey key(static_cast<std::uint8_t>(p.node),
                               static_cast<std::uint8_t>(p.function), *p.scaleRegister);
            if (scales_.insert(key).second) ok = request(p.function, 1);
            else ok = !silent_;
        }
        const int words = WordsOf(p.format.kind);
        if (ok && state_[i] != Served) {
            if (oneRequest(p.format.kind))
                ok = request(p.function, words);
            else
                for (int w = 0; w < words; ++w) ok = request(p.function, 1);
        }
        failed = silent_ ? failed + 1 : 0;
    }

    const CycleSettings& s_;
    bool silent_;
    std::vector<std::string>& ports_;
    std::vector<State> state_;
    const SerialProfile* profile_ = nullptr;
    std::size_t port_ = 0;
    bool network_ = false;
    int baud_ = 0;
    double bitsPerByte_ = 0;
    double sinceExchangeUs_ = std::numeric_limits<double>::infinity();
    LineCost cost_;
    std::set<ScaleKey> scales_;
    std::array<int, 256> failed_{};
};

// Each port's total over the cycles: a line of a group with a period
// counts once in k cycles.
std::vector<std::pair<double, double>> shares(const std::vector<LineCost>& costs,
                                              const std::vector<Millis>& periods,
                                              std::size_t portCount, Millis interval) {
    double everyCycle = 0;
    for (std::size_t i = 0; i < costs.size(); ++i)
        if (periods[i].count() == 0) everyCycle += costs[i].ms;
    const double cycle = everyCycle + static_cast<double>(interval.count());
    std::vector<std::pair<double, double>> totals(portCount);
    for (std::size_t i = 0; i < costs.size(); ++i) {
        const double k =
            cycle > 0 ? std::max(1.0, std::ceil(static_cast<double>(periods[i].count()) / cycle))
                      : 1.0;
        totals[costs[i].port].first += costs[i].ms / k;
        totals[costs[i].port].second += costs[i].wireMs / k;
    }
    return totals;
}

}  // namespace

std::vector<PortForecast> PredictCycle(const CycleSettings& settings) {
    std::vector<std::string> ports;
    std::vector<LineCost> best, worst;
    if (!Walk(settings, false, ports).run(best)) return {};
    Walk(settings, true, ports).run(worst);
    const std::vector<Millis> periods = PeriodsOfLines(settings.lines);
    const auto bestTotals = shares(best, periods, ports.size(), settings.interval);
    const auto worstTotals = shares(worst, periods, ports.size(), settings.interval);
    std::vector<PortForecast> forecasts;
    for (std::size_t p = 0; p < ports.size(); ++p) {
        PortForecast f{ports[p], bestTotals[p].first, worstTotals[p].first, 0};
        if (f.bestMs > 0) f.busyPercent = 100.0 * bestTotals[p].second / f.bestMs;
        forecasts.push_back(std::move(f));
    }
    return forecasts;
}

std::string FormatTenths(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", value);
    return text;
}

}  // namespace tarvel
