// The update model and its two readers: update files ("VeskUpdateFile",
// format 4) and plain SysEx files, told apart by their content.
#pragma once

#include "portsettings.h"

#include <cstdint>
#include <istream>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

// A fault in an input file, or a cancelled port choice; what() is a finished
// sentence for the user.
class ParseError : public std::exception {
public:
    explicit ParseError(std::string message) : message(std::move(message)) {}
    ~ParseError() override = default;
    const char* what() const noexcept override { return message.c_str(); }

private:
    std::string message;
};

struct FirmwareVersion {
    uint16_t major = 0;
    uint16_t minor = 0;

    std::string ToString() const; // "%u.%02u"
    bool IsKnown() const { return major != 0 || minor != 0; }
};

// Replaces a message stored as "<sysex>" and is the message of every plain
// SysEx file.
extern const std::string sysExInstructions;

class Update {
public:
    class SysExPortion {
    public:
        SysExPortion() = default;
        SysExPortion(std::vector<uint8_t> data, uint32_t delay)
            : data(std::move(data)), delay(delay) {}

        const std::vector<uint8_t>& GetData() const { return data; }
        uint32_t GetDelay() const { return delay; }

    private:
        std::vector<uint8_t> data;
        uint32_t delay = 0; // ms the device needs after this portion
    };

    // Reads from the beginning of a seekable binary stream; throws ParseError.
    explicit Update(std::istream& stream);

    bool IsSysEx() const { return isSysEx; }
    const std::string& GetProductName() const { return productName; }
    const std::string& GetMessage() const { return message; }
    FirmwareVersion GetVersion() const { return version; }
    const std::set<std::string>& GetMacPortNames() const { return macPortNames; }
    const PortSettings& GetPortSettings() const { return portSettings; }
    const uint16_t (&GetHeaderValues() const)[3] { return headerValues; }
    const std::vector<uint8_t>& GetImage() const { return image; }
    size_t GetPortionCount() const { return portions.size(); }
    const SysExPortion& GetPortion(size_t index) const { return portions[index]; }
    // Never beyond 32 bits: the readers refuse larger updates.
    uint32_t GetTotalSysExSize() const;

private:
    // Both read from the beginning of a stream of `size` bytes.
    void ReadUpdateFile(std::istream& stream, uint64_t size);
    void ReadSysExFile(std::istream& stream, uint64_t size);

    bool isSysEx = false;
    std::string productName;
    std::string message;
    FirmwareVersion version;
    std::set<std::string> macPortNames;
    PortSettings portSettings = defaultPortSettings;
    uint16_t headerValues[3] = {0, 0, 0};
    std::vector<uint8_t> image;
    std::vector<SysExPortion> portions;
};
