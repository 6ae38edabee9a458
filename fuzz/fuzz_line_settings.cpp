// The line settings of a serial port and the keys of a serial profile. The
// first byte chooses: even, the rest is a line settings text ("9600,N,8,1");
// odd, the rest is the values of the profile keys, one a line in a fixed
// order, the keys after the last line left to their defaults. What is
// accepted lies in the documented ranges: a positive baud rate made of
// digits, one of the five parities, 5 to 8 data bits, 1, 1.5 or 2 stop bits
// (1.5 only with 5 data bits, 2 never with 5), and it reads back the same
// from its own text. A refused profile names the key at fault.

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "modbus/Transaction.h"
#include "modbus/LineSettingsText.h"
#include "modbus/SerialProfile.h"
#include "settings/Number.h"

namespace {

using tarvel::Parity;
using tarvel::StopBits;

void require(bool holds) {
    if (!holds) std::abort();
}

bool allDigits(std::string_view text) {
    if (text.empty()) return false;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
    }
    return true;
}

void checkLineSettings(std::string_view text) {
    const auto settings = tarvel::ParseLineSettings(text);
    if (!settings) return;
    require(allDigits(tarvel::Trim(text.substr(0, text.find(',')))));
    require(settings->baud > 0);
    const int parity = static_cast<int>(settings->parity);
    require(parity >= static_cast<int>(Parity::None) && parity <= static_cast<int>(Parity::Space));
    require(settings->dataBits >= 5 && settings->dataBits <= 8);
    switch (settings->stopBits) {
        case StopBits::One:
            break;
        case StopBits::OneAndHalf:
            require(settings->dataBits == 5);
            break;
        case StopBits::Two:
            require(settings->dataBits != 5);
            break;
        default:
            std::abort();
    }
    const std::string own = tarvel::LineSettingsText(*settings);
    const auto again = tarvel::ParseLineSettings(own);
    require(again && *again == *settings);
    require(tarvel::LineSettingsText(*again) == own);
}

const char* const Keys[] = {"COM",   "Settings", "Handshaking", "NullDiscard", "DTR",
                            "RTS",   "TimeOut",  "Retry",       "Pause",       "Skip",
                            "Block", "Gap",      "Echo"};
constexpr std::size_t KeyCount = sizeof Keys / sizeof Keys[0];

std::vector<std::string> linesOf(std::string_view text) {
    std::vector<std::string> lines;
    while (!text.empty() && lines.size() < KeyCount) {
        const auto end = text.find('\n');
        lines.emplace_back(text.substr(0, end));
        if (end == std::string_view::npos) break;
        text.remove_prefix(end + 1);
    }
    return lines;
}

void checkProfile(std::string_view text) {
    const std::vector<std::string> values = linesOf(text);
    const auto read = tarvel::ReadProfile([&](const char* key, const char* fallback) {
        for (std::size_t i = 0; i < values.size(); ++i) {
            if (std::strcmp(Keys[i], key) == 0) return values[i];
        }
        return std::string(fallback);
    });
    if (!read.profile) {
        const auto& error = read.error;
        require(error.cause == tarvel::ProfileErrorCause::MissingKey ||
                error.cause == tarvel::ProfileErrorCause::InvalidValue);
        bool known = false;
        for (const char* key : Keys) known = known || error.key == key;
        require(known);
        const std::string message = tarvel::DescribeProfileError("Serial_1", error);
        require(message.find("[Serial_1] " + error.key) == 0);
        return;
    }
    const tarvel::SerialProfile& p = *read.profile;
    require(!p.com.empty() && p.com != "*");
    require(!p.settings.empty() && p.settings != "*");
    require(p.com == tarvel::ToUpper(p.com) && p.settings == tarvel::ToUpper(p.settings));
    require(p.handshaking >= 0 && p.handshaking <= 3);
    require(p.timeOutMs >= 0 && p.timeOutMs <= 10000);
    require(p.retry >= 1);
    require(p.pauseMs >= 0 && p.pauseMs <= 60000);
    require(p.skipAfter >= 0);
    require(p.block == 0 || (p.block >= 2 && p.block <= tarvel::MaxBlockBits));
    require(p.gap >= 0 && p.gap <= tarvel::MaxBlockBits - 2);
    // Echo: 0 or 1 (or empty), nothing else.
    const std::string echo(values.size() == KeyCount ? tarvel::Trim(values.back()) : "");
    require(p.echo == (!echo.empty() && tarvel::LeadingNumber(echo) == 1));
    require(echo.empty() || tarvel::LeadingNumber(echo) <= 1);
    for (const std::string& panel : tarvel::ProfilePanels(p)) require(!panel.empty());
    checkLineSettings(p.settings);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::string_view rest(reinterpret_cast<const char*>(data) + 1, size - 1);
    if (data[0] % 2 == 0)
        checkLineSettings(rest);
    else
        checkProfile(rest);
    return 0;
}
