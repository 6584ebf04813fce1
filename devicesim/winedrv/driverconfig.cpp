#include "driverconfig.h"

#include "decimal.h"
#include "devicesim.h"
#include "portsettings.h"

#include <windows.h>

#include <cctype>
#include <cstdlib>
#include <stdexcept>

namespace {

const char kListSeparator = '$';
const char* const kOwnPortMark = "*";
constexpr uint32_t kBitsPerByte = 10; // start bit, eight data bits, stop bit

std::string Quoted(const std::string& text) {
    return "'" + text + "'";
}

std::invalid_argument BadValue(const char* variable, const std::string& value,
                               const char* expected) {
    return std::invalid_argument(std::string(variable) + " takes " + expected + ", not " +
                                 Quoted(value));
}

// At most 18 digits, so that every count also fits a signed 64-bit time.
uint64_t ParseCount(const std::string& text, const char* variable, const char* expected) {
    constexpr size_t kMaxDigits = 18;
    constexpr uint64_t kMaxCount = 999999999999999999;
    uint64_t value = 0;
    if (text.size() > kMaxDigits || !ParseDecimal(text, kMaxCount, value))
        throw BadValue(variable, text, expected);
    return value;
}

int64_t ParseMilliseconds(const std::string& text, const char* variable) {
    return static_cast<int64_t>(ParseCount(text, variable, "a number of milliseconds"));
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Pairs of hexadecimal digits; blanks may stand between the pairs.
std::vector<uint8_t> ParseHexBytes(const std::string& text, const char* variable) {
    std::vector<uint8_t> bytes;
    for (size_t i = 0; i < text.size();) {
        if (text[i] == ' ') {
            ++i;
            continue;
        }
        if (i + 1 >= text.size() || HexDigit(text[i]) < 0 || HexDigit(text[i + 1]) < 0)
            throw BadValue(variable, text, "bytes in hexadecimal (F0 7E ... F7)");
        bytes.push_back(static_cast<uint8_t>(HexDigit(text[i]) * 16 + HexDigit(text[i + 1])));
        i += 2;
    }
    return bytes;
}

// The decoys of one direction with the device's own port in its place: where
// the list marks it with "*", or after the last decoy.
std::vector<std::string> PortList(const char* decoysVariable, const std::string& ownName,
                                  size_t& ownIndex) {
    std::string decoys = EnvironmentText(decoysVariable);
    if (decoys.empty())
        decoys = EnvironmentText("KESTRANE_SIM_DECOYS");
    std::vector<std::string> names;
    bool placed = false;
    for (const std::string& name : Split(decoys, kListSeparator)) {
        if (name == kOwnPortMark && !placed) {
            ownIndex = names.size();
            names.push_back(ownName);
            placed = true;
        } else if (!name.empty()) {
            names.push_back(name);
        }
    }
    if (!placed) {
        ownIndex = names.size();
        names.push_back(ownName);
    }
    return names;
}

} // namespace

std::string EnvironmentText(const char* name) {
    // The C runtime's copy of the environment is the one from the start of
    // the process; ask the system for the current one.
    DWORD size = GetEnvironmentVariableA(name, nullptr, 0);
    if (size == 0)
        return {};
    std::string value(size, '\0');
    DWORD length = GetEnvironmentVariableA(name, &value[0], size);
    value.resize(length < size ? length : 0);
    return value;
}

std::string WindowsPath(const std::string& path) {
    if (!path.empty() && path[0] == '/')
        return "Z:" + path;
    return path;
}

bool DeviceSettings::operator==(const DeviceSettings& other) const {
    return updatePath == other.updatePath && device == other.device &&
           byteMicros == other.byteMicros && session == other.session;
}

DeviceLayout ReadDeviceLayout() {
    DeviceLayout layout;
    std::string name = EnvironmentText("KESTRANE_SIM_NAME");
    if (name.empty())
        name = DeviceSim::kDefaultName;
    layout.outputName = EnvironmentText("KESTRANE_SIM_OUT_NAME");
    if (layout.outputName.empty())
        layout.outputName = name;
    layout.inputName = EnvironmentText("KESTRANE_SIM_IN_NAME");
    if (layout.inputName.empty())
        layout.inputName = name;
    std::string number = EnvironmentText("KESTRANE_SIM_NUMBER");
    if (!number.empty()) {
        layout.outputName = number + "- " + layout.outputName;
        layout.inputName = number + "- " + layout.inputName;
    }
    layout.outputs = PortList("KESTRANE_SIM_OUT_DECOYS", layout.outputName, layout.ownOutput);
    layout.inputs = PortList("KESTRANE_SIM_IN_DECOYS", layout.inputName, layout.ownInput);
    return layout;
}

DeviceSettings ReadDeviceSettings() {
    DeviceSettings settings;
    settings.updatePath = WindowsPath(EnvironmentText("KESTRANE_SIM_UPDATE"));
    SimOptions& device = settings.device;
    std::string script = EnvironmentText("KESTRANE_SIM_SCRIPT");
    if (!script.empty())
        device.script = script;
    std::string version = EnvironmentText("KESTRANE_SIM_VERSION");
    if (!version.empty())
        device.version = version;
    device.identity = !ParseBool(EnvironmentText("KESTRANE_SIM_NO_IDENTITY"));
    std::string appear = EnvironmentText("KESTRANE_SIM_APPEAR");
    if (!appear.empty())
        device.appearAfterMs = ParseMilliseconds(appear, "KESTRANE_SIM_APPEAR");
    std::string unplug = EnvironmentText("KESTRANE_SIM_UNPLUG");
    if (!unplug.empty()) {
        const char* const variable = "KESTRANE_SIM_UNPLUG";
        const char* const expected = "PORTION:BYTES:MS with PORTION from 1";
        std::vector<std::string> fields = Split(unplug, ':');
        if (fields.size() != 3)
            throw BadValue(variable, unplug, expected);
        uint64_t portion = ParseCount(fields[0], variable, expected);
        uint64_t bytes = ParseCount(fields[1], variable, expected);
        if (portion < 1 || bytes > UINT32_MAX)
            throw BadValue(variable, unplug, expected);
        device.unplug = true;
        device.unplugPortion = static_cast<size_t>(portion - 1);
        device.unplugAfterBytes = bytes;
        device.replugAfterMs = ParseMilliseconds(fields[2], variable);
    }
    device.recordPath = WindowsPath(EnvironmentText("KESTRANE_SIM_RECORD"));
    std::string baud = EnvironmentText("KESTRANE_SIM_BAUD");
    if (!baud.empty()) {
        uint64_t bitsPerSecond = ParseCount(baud, "KESTRANE_SIM_BAUD", "bits per second");
        if (bitsPerSecond > 0)
            settings.byteMicros =
                static_cast<uint32_t>((kBitsPerByte * 1000000 + bitsPerSecond - 1) / bitsPerSecond);
    }
    settings.session = EnvironmentText("KESTRANE_SIM_SESSION");
    return settings;
}

std::vector<StartMessage> ReadStartMessages() {
    const char* const variable = "KESTRANE_SIM_SEND";
    std::vector<StartMessage> messages;
    for (const std::string& item : Split(EnvironmentText(variable), kListSeparator)) {
        size_t colon = item.find(':');
        if (colon == std::string::npos)
            throw BadValue(variable, item, "MS:BYTES items");
        StartMessage message;
        message.delayMs = ParseMilliseconds(item.substr(0, colon), variable);
        message.bytes = ParseHexBytes(item.substr(colon + 1), variable);
        messages.push_back(std::move(message));
    }
    return messages;
}

int64_t ReadRequeueDelayMs() {
    const char* const variable = "KESTRANE_SIM_REQUEUE_DELAY";
    std::string delay = EnvironmentText(variable);
    return delay.empty() ? 0 : ParseMilliseconds(delay, variable);
}

OutputHabits ReadOutputHabits() {
    OutputHabits habits;
    habits.echo = ParseBool(EnvironmentText("KESTRANE_SIM_ECHO"));
    const char* const limitVariable = "KESTRANE_SIM_LONG_LIMIT";
    std::string limit = EnvironmentText(limitVariable);
    if (!limit.empty()) {
        uint64_t bytes = ParseCount(limit, limitVariable, "a number of bytes");
        if (bytes > UINT32_MAX)
            throw BadValue(limitVariable, limit, "a number of bytes");
        habits.longLimit = static_cast<uint32_t>(bytes);
    }
    const char* const delayVariable = "KESTRANE_SIM_DONE_DELAY";
    std::string delay = EnvironmentText(delayVariable);
    if (!delay.empty())
        habits.doneDelayMs = ParseMilliseconds(delay, delayVariable);
    return habits;
}

uint32_t ReadInputPieceBytes() {
    const char* const variable = "KESTRANE_SIM_IN_PIECE";
    std::string piece = EnvironmentText(variable);
    if (piece.empty())
        return 0;
    uint64_t bytes = ParseCount(piece, variable, "a number of bytes");
    if (bytes > UINT32_MAX)
        throw BadValue(variable, piece, "a number of bytes");
    return static_cast<uint32_t>(bytes);
}
