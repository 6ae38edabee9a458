#include "acquisition/Executor.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <span>

#include "modbus/Value.h"

namespace tarvel {
namespace {

// A value's items, and room for its scale register, kept in place.
class Elements {
  public:
    void push_back(std::uint32_t address) { at_[count_++] = address; }
    const std::uint32_t* begin() const { return at_.data(); }
    const std::uint32_t* end() const { return at_.data() + count_; }
    std::size_t size() const { return count_; }

  private:
    std::array<std::uint32_t, 5> at_{};  // the widest value has 4 items
    std::size_t count_ = 0;
};

// The items a read line asks for, the most significant first. Those of a
// value that would run past either end of the address space come out
// beyond 0xFFFF.
[[gnu::hot]] Elements ElementsOf(const ReadParameters& p) {
    Elements addresses;
    for (std::uint32_t i = 0; i < static_cast<std::uint32_t>(WordsOf(p.format.kind)); ++i)
        addresses.push_back(p.lowWordNext ? p.address + i : p.address - i);
    return addresses;
}

// Floats and 64-bit integers are read with one request for the whole value.
[[gnu::hot]] bool OneRequest(ValueType kind) {
    return kind == ValueType::Float32 || kind == ValueType::Float64 ||
           kind == ValueType::Int64;
}

ScaleKey scaleKey(const ReadParameters& p) {
    return {static_cast<std::uint8_t>(p.node), static_cast<std::uint8_t>(p.function),
            *p.scaleRegister};
}

// Such a value needs registers (functions 3 and 4), inside the address space.
[[gnu::hot]] bool Readable(const ReadParameters& p) {
    if (!OneRequest(p.format.kind)) return true;
    const auto addresses = ElementsOf(p);
    return (p.function == 3 || p.function == 4) &&
           std::all_of(addresses.begin(), addresses.end(),
                       [](std::uint32_t a) { return a <= 0xFFFF; });
}

// The decimals a scale register holds: minus its signed contents; nothing
// for its "no value" pattern 0x8000. A coil or input has no sign.
std::optional<std::int16_t> DecimalsFromScale(std::uint16_t element, bool address) {
    if (!address) return static_cast<std::int16_t>(-element);
    if (element == 0x8000) return std::nullopt;
    return static_cast<std::int16_t>(-static_cast<std::int16_t>(element));
}

// What a failed read met; nothing when no request was sent.
[[gnu::hot]] std::optional<TransactionResult> ResultOf(const Transaction& t) {
    if (t.sent.empty()) return std::nullopt;
    return t.outcome;
}

// The one request that reads the line's value by itself; nothing for a
// value of several requests, a line with a scale register, or one that
// cannot be read.
std::optional<MBus::ReadRequest> OwnRequest(const ReadParameters& p) {
    if (p.scaleRegister || p.node < 0 || p.node > 255 || p.function < 1 || p.function > 4 ||
        !Readable(p))
        return std::nullopt;
    const Elements addresses = ElementsOf(p);
    if (!OneRequest(p.format.kind) && addresses.size() != 1) return std::nullopt;
    return MBus::ReadRequest{static_cast<std::uint8_t>(p.node),
                             static_cast<std::uint8_t>(p.function),
                             static_cast<std::uint16_t>(
                                 *std::min_element(addresses.begin(), addresses.end())),
                             static_cast<std::uint16_t>(addresses.size())};
}

// The items of a line from its own request, as a read of the line alone
// takes them; on a failure, what it met goes into the reading.
std::optional<ValueItems> ItemsOf(const ReadParameters& p, const Transaction& t, Reading& reading) {
    if (!t.ok()) {
        reading.outcome = ResultOf(t);
        return std::nullopt;
    }
    ValueItems items;
    if (!OneRequest(p.format.kind))
        items.push_back(t.single());
    else
        for (std::uint32_t a : ElementsOf(p)) items.push_back(*t.item(a));
    return items;
}

// The window of a block being grouped: the items asked for, inside at most
// `highest` items with no run of more than `gap` items nobody asks for.
class BlockWindow {
  public:
    BlockWindow(int highest, int gap) : max_(highest), gap_(gap) {}

    // Takes the line's items in when the window still holds; false (and
    // nothing changes) otherwise. A value that would wrap around the
    // address space never joins.
    bool add(const Elements& addresses) {
        std::vector<std::uint32_t> requested = requested_;
        for (std::uint32_t a : addresses) {
            if (a > 0xFFFF) return false;
            requested.push_back(a);
        }
        std::sort(requested.begin(), requested.end());
        requested.erase(std::unique(requested.begin(), requested.end()), requested.end());
        if (requested.back() - requested.front() + 1 > static_cast<std::uint32_t>(max_))
            return false;
        for (std::size_t i = 1; i < requested.size(); ++i)
            if (requested[i] - requested[i - 1] - 1 > static_cast<std::uint32_t>(gap_)) return false;
        requested_ = std::move(requested);
        return true;
    }
    std::uint16_t start() const { return static_cast<std::uint16_t>(requested_.front()); }
    std::uint16_t quantity() const {
        return static_cast<std::uint16_t>(requested_.back() - requested_.front() + 1);
    }

  private:
    int max_;
    int gap_;
    std::vector<std::uint32_t> requested_;
};

}  // namespace

Executor::Executor(SerialLine& linea, Clock& clock, CycleObserver& observer,
                       const std::atomic<bool>& acquiring)
    : mbus_(linea.mbus()),
      clock_(clock),
      context_(linea),
      observer_(observer),
      acquiring_(acquiring) {}

[[gnu::hot]] void Executor::showResult(const Risposta& result) { observer_.resultShown(result); }

void Executor::NewCycle() {
    failedInARow_.fill(0);
    block_.reset();
    servedByBlock_.clear();
    readAlone_.clear();
    inFlight_.clear();
    scale_.clear();
}

Risposta Executor::Run(const RequestLine& line) {
    Risposta answer;
    run(line, nullptr, 0, answer);
    return answer;
}

Risposta Executor::Run(const std::vector<RequestLine>& lines, std::size_t index) {
    Risposta answer;
    Run(lines, index, answer);
    return answer;
}

[[gnu::hot]] void Executor::Run(const std::vector<RequestLine>& lines, std::size_t index,
                                Risposta& answer) {
    run(lines[index], &lines, index, answer);
}

[[gnu::hot]] void Executor::run(const RequestLine& line, const std::vector<RequestLine>* lines,
                                std::size_t index, Risposta& answer) {
    static const Risposta nothingYet;
    showResult(nothingYet);
    answer.kind = line.kind;
    switch (line.kind) {
        case LineKind::Serial: {
            // A profile that cannot be applied stops the acquisition: the
            // cycle sees it refused.
            const bool ok = context_.applyLine(line.profile, line.text);
            answer.text = "Serial_" + (ok ? line.fields.Codice : std::string("_0"));
            break;
        }
        case LineKind::Wait:
            answer.text = runWait(line);
            break;
        case LineKind::Next:
            answer.text = "%Next device";
            break;
        case LineKind::Empty:
            answer.text = "#Empty line";
            break;
        case LineKind::Invalid:
            answer.text = "#Invalid line";
            break;
        case LineKind::Every:
            answer.text = "#Every " + line.fields.Codice;
            break;
        case LineKind::Read:
        case LineKind::Constant:
            runRead(line, lines, index, answer.reading.emplace());
            break;
    }
    showResult(answer);
}

std::string Executor::runWait(const RequestLine& line) {
    std::string text = "#Sleep " + line.fields.Codice;
    if (acquiring_) observer_.lampChanged(Lamp::Yellow);
    showResult(Risposta{LineKind::Wait, text, std::nullopt});
    clock_.sleep(line.wait);
    if (acquiring_) observer_.lampChanged(Lamp::Green);
    return text;
}

[[gnu::hot]] void Executor::runRead(const RequestLine& line, const std::vector<RequestLine>* lines,
                                    std::size_t index, Reading& reading) {
    const Chiamata& c = line.shownFields;
    observer_.fieldsShown(c);
    reading.line = index;
    reading.name = c.Descrizione;
    reading.unit = line.unit;
    if (line.kind == LineKind::Constant) {
        reading.quality = Quality::Good;
        reading.constant = c.Registro;
    } else if (line.reading) {
        readRow(*line.reading, lines, index, reading);
    }
}

[[gnu::hot]] void Executor::readRow(const ReadParameters& p, const std::vector<RequestLine>* lines,
                                    std::size_t index, Reading& reading) {
    reading.quality = Quality::Failed;
    // A node beyond one byte would go on the line as another node.
    if (p.node < 0 || p.node > 255) return;
    int& failed = failedInARow_[static_cast<std::uint8_t>(p.node)];
    const int skip = context_.profileInUse().skipAfter;
    if (skip > 0 && failed >= skip) {
        mbus_.RecordSkipped(static_cast<std::uint8_t>(p.node));
        reading.quality = Quality::Skipped;
        return;
    }
    read(p, lines, index, reading);
    failed = reading.quality == Quality::Failed ? failed + 1 : 0;
}

[[gnu::hot]] void Executor::read(const ReadParameters& p, const std::vector<RequestLine>* lines,
                                 std::size_t index, Reading& reading) {
    if (!Readable(p)) return;
    auto serve = [](const std::vector<std::size_t>& list, std::size_t i) {
        return std::find(list.begin(), list.end(), i) != list.end();
    };
    if (lines && !serve(servedByBlock_, index) && !serve(readAlone_, index))
        prepareBlock(*lines, index);
    if (lines && !inFlight_.contains(index)) prepareInFlight(*lines, index);
    const auto own = lines ? inFlight_.find(index) : inFlight_.end();
    std::int16_t decimals = p.decimals;
    const bool registers = p.function >= 3;
    if (p.scaleRegister) {
        const std::optional<std::uint16_t> scale = readScale(p, lines != nullptr, reading);
        if (!scale) return;
        const std::optional<std::int16_t> d = DecimalsFromScale(*scale, registers);
        reading.quality = Quality::NoValue;
        if (!d) return;
        decimals = *d;
    }
    reading.quality = Quality::Failed;
    const auto addresses =
        own != inFlight_.end()
            ? ItemsOf(p, own->second, reading)
            : readElements(p, block_ && lines && serve(servedByBlock_, index), reading);
    if (!addresses) return;
    reading.number = DecodeValue(*addresses, registers, p.format);
    const bool isReal =
        p.format.kind == ValueType::Float32 || p.format.kind == ValueType::Float64;
    if (!reading.number) {
        reading.quality = isReal ? Quality::NotFinite : Quality::NoValue;
        return;
    }
    reading.decimals = decimals;
    reading.quality =
        std::isfinite(Scale(reading.number->value, decimals)) ? Quality::Good : Quality::NotFinite;
}

// The items of the line, from the block that holds them, one request for
// the whole value, or one request an item; on a failure, what it met goes
// into the reading.
[[gnu::hot]] std::optional<ValueItems> Executor::readElements(const ReadParameters& p,
                                                              bool fromBlock, Reading& reading) {
    const Elements addresses = ElementsOf(p);
    Transaction single;
    if (!fromBlock && OneRequest(p.format.kind)) {
        const std::uint32_t start = *std::min_element(addresses.begin(), addresses.end());
        single = mbus_.ReadBlock(
            static_cast<std::uint8_t>(p.function), static_cast<std::uint16_t>(start),
            static_cast<std::uint16_t>(addresses.size()), static_cast<std::uint8_t>(p.node));
        if (!single.ok()) {
            reading.outcome = ResultOf(single);
            mbus_.Recycle(std::move(single));
            return std::nullopt;
        }
    } else if (!fromBlock) {
        // One request an item, the addresses wrapping at 16 bits.
        std::array<std::uint16_t, ValueItems::Capacity> addrs{};
        std::size_t count = 0;
        for (std::uint32_t a : addresses) addrs[count++] = static_cast<std::uint16_t>(a);
        MBus::ItemsRead readResult =
            mbus_.ReadItems(p.function, std::span(addrs.data(), count), p.node);
        if (!readResult.items) reading.outcome = ResultOf(readResult.last);
        mbus_.Recycle(std::move(readResult.last));
        return readResult.items;
    }
    const Transaction& block = fromBlock ? *block_ : single;
    ValueItems items;
    for (std::uint32_t a : addresses) items.push_back(*block.item(a));
    if (!fromBlock) mbus_.Recycle(std::move(single));
    return items;
}

// The scale register of the line: once a cycle and node, from the block
// that holds it or read alone; a line run by hand reads it again.
std::optional<std::uint16_t> Executor::readScale(const ReadParameters& p, bool ciclo,
                                                    Reading& reading) {
    const auto key = scaleKey(p);
    ScaleRead scaleRead;
    if (auto it = scale_.find(key); ciclo && it != scale_.end()) {
        scaleRead = it->second;
    } else {
        if (ciclo && block_ && block_->node == p.node && block_->function == p.function)
            scaleRead.item = block_->item(*p.scaleRegister);
        if (!scaleRead.item) {
            const MBus::ItemsRead readResult =
                mbus_.ReadItems(p.function, {*p.scaleRegister}, p.node);
            if (readResult.items)
                scaleRead.item = readResult.items->front();
            else
                scaleRead.outcome = ResultOf(readResult.last);
        }
        if (ciclo) scale_[key] = scaleRead;
    }
    if (!scaleRead.item) reading.outcome = scaleRead.outcome;
    return scaleRead.item;
}

// The group of the read line at `index`: the read lines after it of the
// same node and function whose items, with it, fit one window of at most
// Block items with no run of more than Gap items that no line asks for.
// Next-device and constant lines may stand between them; any other line
// (an EVERY line too: a block never spans two groups) ends the group. A
// line's scale register joins the window when it fits and was not read yet
// in this cycle. A group of two items or more (a 32-bit line alone is one)
// is read with one request.
std::optional<PlannedBlock> PlanBlock(const std::vector<RequestLine>& lines, std::size_t index,
                                      const SerialProfile& profile,
                                      const std::function<bool(const ScaleKey&)>& scaleRead) {
    const ReadParameters& p = *lines[index].reading;
    if (profile.block == 0 || p.function < 1 || p.function > 4) return std::nullopt;
    const int highest =
        p.function <= 2 ? profile.block : std::min(profile.block, MaxBlockRegisters);
    BlockWindow window(highest, profile.gap);
    auto add = [&](const ReadParameters& q) {
        const Elements addresses = ElementsOf(q);
        if (q.scaleRegister && !scaleRead(scaleKey(q))) {
            Elements withScale = addresses;
            withScale.push_back(*q.scaleRegister);
            if (window.add(withScale)) return true;
        }
        return window.add(addresses);
    };
    PlannedBlock block;
    for (std::size_t i = index; i < lines.size(); ++i) {
        const RequestLine& r = lines[i];
        if (r.kind == LineKind::Next || r.kind == LineKind::Constant) continue;
        if (r.kind != LineKind::Read || !r.reading || r.reading->node != p.node ||
            r.reading->function != p.function || !Readable(*r.reading) || !add(*r.reading))
            break;
        block.lines.push_back(i);
    }
    if (block.lines.empty() || window.quantity() < 2) return std::nullopt;
    block.start = window.start();
    block.quantity = window.quantity();
    return block;
}

// The block of the line, read with its attempts; when it fails, its lines
// read on their own.
[[gnu::hot]] void Executor::prepareBlock(const std::vector<RequestLine>& lines, std::size_t index) {
    const SerialProfile& profile = context_.profileInUse();
    if (profile.block == 0) return;
    const ReadParameters& p = *lines[index].reading;
    std::optional<PlannedBlock> planned = PlanBlock(
        lines, index, profile, [this](const ScaleKey& key) { return scale_.contains(key); });
    if (!planned) return;
    Transaction block = mbus_.ReadBlock(static_cast<std::uint8_t>(p.function), planned->start,
                                           planned->quantity, static_cast<std::uint8_t>(p.node));
    block_.reset();
    if (block.ok()) block_ = std::move(block);
    (block_ ? servedByBlock_ : readAlone_) = std::move(planned->lines);
}

// The read lines from `index` on that take one request each, up to the
// first other line (next-device and constant lines may stand between
// them), when the line at `index` is one: their requests go out together,
// up to the profile's Window at once, on Modbus TCP without block reads.
// Lines of a node skipped by now are left out, as they send nothing.
[[gnu::hot]] void Executor::prepareInFlight(const std::vector<RequestLine>& lines,
                                            std::size_t index) {
    const SerialProfile& profile = context_.profileInUse();
    if (mbus_.window() <= 1 || profile.block != 0) return;
    std::vector<std::size_t> group;
    std::vector<MBus::ReadRequest> requests;
    for (std::size_t i = index; i < lines.size(); ++i) {
        const RequestLine& r = lines[i];
        if (r.kind == LineKind::Next || r.kind == LineKind::Constant) continue;
        const auto request = r.kind == LineKind::Read && r.reading ? OwnRequest(*r.reading)
                                                                   : std::nullopt;
        if (!request) break;
        if (profile.skipAfter > 0 && failedInARow_[request->node] >= profile.skipAfter) continue;
        group.push_back(i);
        requests.push_back(*request);
    }
    if (group.size() < 2 || group.front() != index) return;
    std::vector<Transaction> results = mbus_.ReadInFlight(requests);
    for (std::size_t k = 0; k < group.size(); ++k) inFlight_[group[k]] = std::move(results[k]);
}

}  // namespace tarvel
