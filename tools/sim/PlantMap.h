#pragma once
// The register map of the simulated plant: which nodes answer, the value of
// each coil, input and register, the live value generators and the faults.
// The text format is described at the top of PlantMap.cpp and in --help.

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace tarvel::sim {

enum class Table { Coil, Discrete, Holding, Input };

// The table a function code works on; nothing for codes without one.
std::optional<Table> TableOfFunction(int function);
const char* TableName(Table table);

enum class LiveKind { Voltage, Power, EnergyHigh, EnergyLow, Status };

struct LiveRegister {
    Table table = Table::Holding;
    std::uint16_t address = 0;
    LiveKind kind = LiveKind::Voltage;
    double centre = 2300;  // voltage
    double spread = 20;    // voltage
};

// The node's 32-bit counter: Wh growing with the power curve, or at a fixed
// rate in units per second.
struct CounterSpec {
    bool solar = true;
    double rate = 0;
    std::optional<std::uint32_t> start;
};

struct FixedValue {
    Table table = Table::Holding;
    std::uint16_t address = 0;
    std::uint16_t value = 0;
};

struct NodeMap {
    std::vector<FixedValue> fixed;
    std::vector<LiveRegister> live;
    double peakPower = 3000;  // W, for live:power, live:status and a solar counter
    CounterSpec counter;
    // Device identification objects 0 (vendor), 1 (product), 2 (revision);
    // empty: the node does not know function 43.
    std::vector<std::string> identity;
};

enum class FaultKind {
    Silent,
    Exception,
    BadCrc,
    WrongNode,
    Partial,
    Delay,
    Stray,
    WrongTid,
    NoDiag
};

struct Fault {
    int node = 0;
    std::optional<Table> table;  // none: every request to the node
    std::uint16_t address = 0;
    FaultKind kind = FaultKind::Silent;
    int argument = 0;
    int every = 1;  // only every n-th request the line covers
    int seen = 0;   // requests it covered so far
};

struct PlantMap {
    std::map<int, NodeMap> nodes;
    std::vector<Fault> faults;
};

// What happens to the answer of one request; for each kind the last matching
// fault line wins, delays add up.
struct FaultSet {
    bool silent = false;
    std::optional<int> exception;
    bool badCrc = false;
    std::optional<int> wrongNode;
    bool wrongTid = false;       // Modbus TCP answers only
    bool noDiagnostics = false;  // function 8 refused as an unknown function
    std::optional<int> partial;
    std::optional<int> stray;
    int delayMs = 0;
};

// Counts the request for the fault lines with "every".
FaultSet FaultsFor(PlantMap& map, int node, std::optional<Table> table, std::uint16_t address,
                   int quantity);

// Parses the text of a map file; on failure `error` names the line and the
// cause, and `map` is left unchanged.
bool ParsePlantMap(const std::string& text, PlantMap& map, std::string& error);
bool LoadPlantMap(const std::string& path, PlantMap& map, std::string& error);

}  // namespace tarvel::sim
