// The emulated device as a WebAssembly module of its own, for the browser
// tests of the page: a stand-in for Web MIDI hands it what the page sends
// and passes its answers back to the page. devicesim-api.js wraps these
// functions in a JavaScript object.
//
// The module has no threads: the device is driven by its caller, so its
// answers wait until JavaScript pumps it (kestrane_device_pump) and are then
// handed over one message at a time, after the device has been unlocked, so
// that a message handler may deliver to the device again at once.
#include "decimal.h"
#include "devicelink.h"
#include "devicesim.h"
#include "portionwire.h"
#include "portsettings.h"
#include "simoptions.h"
#include "simreport.h"
#include "update.h"
#include "utils.h"

#include <emscripten.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

// The longest time an option may name: a day.
constexpr uint64_t kMaxOptionMs = 86400000;
// The device's log kept for kestrane_device_log, at most; older text goes.
constexpr size_t kKeptLogChars = 1024 * 1024;

// A refused option text; what() tells why.
class OptionError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

uint64_t ReadNumber(const std::string& key, const std::string& text, uint64_t max) {
    uint64_t value = 0;
    if (!ParseDecimal(text, max, value))
        throw OptionError(key + " takes a whole number from 0 to " + std::to_string(max) +
                          ", not '" + text + "'");
    return value;
}

bool ReadFlag(const std::string& key, const std::string& text) {
    if (text != "0" && text != "1")
        throw OptionError(key + " takes 0 or 1, not '" + text + "'");
    return text == "1";
}

// PORTION:BYTES:MS, the portion counted from 1 and BYTES counted on the wire
// (framing included), at most the portion's wire size.
void ReadUnplug(SimOptions& options, const Update& update, const std::string& text) {
    const std::string form = "unplug takes PORTION:BYTES:MS";
    const std::vector<std::string> fields = Split(text, ':');
    if (fields.size() != 3)
        throw OptionError(form + ", not '" + text + "'");
    const size_t portions = update.GetPortionCount();
    uint64_t portion = 0;
    if (!ParseDecimal(fields[0], portions, portion) || portion == 0)
        throw OptionError(form + " with PORTION from 1 to " + std::to_string(portions) +
                          " (the update's portions), not '" + text + "'");
    const std::vector<uint8_t>& data = update.GetPortion(portion - 1).GetData();
    const uint64_t wireSize = PortionWireSize(data, update.GetPortSettings());
    if (data.empty())
        throw OptionError("unplug names portion " + std::to_string(portion) +
                          ", which holds no bytes and is never sent");
    uint64_t bytes = 0;
    if (!ParseDecimal(fields[1], wireSize, bytes))
        throw OptionError(form + " with BYTES from 0 to " + std::to_string(wireSize) +
                          " (portion " + std::to_string(portion) +
                          " on the wire, framing included), not '" + text + "'");
    options.unplug = true;
    options.unplugPortion = static_cast<size_t>(portion - 1);
    options.unplugAfterBytes = bytes;
    options.replugAfterMs =
        static_cast<int64_t>(ReadNumber("unplug's MS", fields[2], kMaxOptionMs));
}

// Keeps the module's log (the device's and its link's lines) instead of
// printing it: a run writes a few lines for every delivery.
class KeptLog : public LogSink {
public:
    void Write(const char* line) override {
        text += line;
        if (text.size() > kKeptLogChars)
            text.erase(0, text.size() - kKeptLogChars / 2);
    }

    std::string text;
};

KeptLog keptLog;

} // namespace

// One device with its update and the link that the page's messages come in by.
class WebDevice {
public:
    WebDevice(const std::string& updateBytes, const std::string& optionsText) {
        try {
            std::istringstream stream(updateBytes);
            update = std::make_unique<Update>(stream);
            std::string name = DeviceSim::kDefaultName;
            std::string inputName;
            const SimOptions options = ReadOptions(optionsText, name, inputName);
            sim = std::make_unique<DeviceSim>(PortionData(*update), update->GetPortSettings(),
                                              nullptr, DeviceSim::Delivery::ByCaller);
            sim->SetPortNames(name, inputName.empty() ? name : inputName);
            ApplySimOptions(*sim, options);
            link = std::make_unique<DeviceLink>(*sim, &WebDevice::Hold, this);
        } catch (const std::exception& e) {
            link.reset();
            sim.reset();
            error = e.what();
        }
    }

    ~WebDevice() {
        link.reset(); // the link goes before its device
        sim.reset();
    }

    WebDevice(const WebDevice&) = delete;
    WebDevice& operator=(const WebDevice&) = delete;

    std::string error;
    std::unique_ptr<Update> update;
    std::unique_ptr<DeviceSim> sim;
    std::unique_ptr<DeviceLink> link;
    // The device's messages from the last pump, not yet taken.
    std::vector<std::vector<uint8_t>> messages;
    // Texts and bytes handed out; they stay valid until the next call that
    // returns the same kind.
    std::string text;
    std::vector<uint8_t> bytes;

private:
    // Called with the device locked: only keeps the message.
    static void Hold(void* context, const std::vector<uint8_t>& message) {
        static_cast<WebDevice*>(context)->messages.push_back(message);
    }

    // Lines "key=value"; empty lines are skipped. The names are taken apart,
    // as they are no option of the device's behaviour: name names both
    // ports, input-name the input alone (a device whose ports are named
    // apart).
    SimOptions ReadOptions(const std::string& optionsText, std::string& name,
                           std::string& inputName) const {
        SimOptions options;
        std::istringstream lines(optionsText);
        std::string line;
        while (std::getline(lines, line)) {
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            if (line.empty())
                continue;
            const size_t equals = line.find('=');
            if (equals == std::string::npos)
                throw OptionError("an option is written key=value, not '" + line + "'");
            const std::string key = line.substr(0, equals);
            const std::string value = line.substr(equals + 1);
            if (key == "script")
                options.script = value;
            else if (key == "version")
                options.version = value;
            else if (key == "identity")
                options.identity = ReadFlag(key, value);
            else if (key == "whole-blocks")
                options.wholeBlocks = ReadFlag(key, value);
            else if (key == "appear")
                options.appearAfterMs = static_cast<int64_t>(ReadNumber(key, value, kMaxOptionMs));
            else if (key == "unplug")
                ReadUnplug(options, *update, value);
            else if (key == "name") {
                if (value.empty())
                    throw OptionError("name takes a port name, not an empty text");
                name = value;
            } else if (key == "input-name") {
                if (value.empty())
                    throw OptionError("input-name takes a port name, not an empty text");
                inputName = value;
            } else
                throw OptionError("unknown option '" + key + "'");
        }
        try {
            CheckSimOptions(options);
        } catch (const SimOptionError& e) {
            const char* key = e.GetOption() == SimOptionError::Script ? "script" : "version";
            throw OptionError(std::string(key) + ": " + e.what());
        }
        return options;
    }
};

namespace {

const char* Hand(WebDevice* device, std::string text) {
    device->text = std::move(text);
    return device->text.c_str();
}

} // namespace

extern "C" {

// A device for the update file's bytes, set up by the options text; never
// null. When the update or the options are refused, kestrane_device_error
// tells why and the device is never present.
EMSCRIPTEN_KEEPALIVE WebDevice* kestrane_device_create(const uint8_t* updateBytes, size_t size,
                                                       const char* optionsText) {
    SetLogSink(&keptLog);
    const std::string bytes(reinterpret_cast<const char*>(updateBytes), size);
    return new WebDevice(bytes, optionsText ? optionsText : "");
}

EMSCRIPTEN_KEEPALIVE void kestrane_device_destroy(WebDevice* device) {
    delete device;
}

// "" or why the device could not be made.
EMSCRIPTEN_KEEPALIVE const char* kestrane_device_error(WebDevice* device) {
    return device->error.c_str();
}

EMSCRIPTEN_KEEPALIVE const char* kestrane_device_output_name(WebDevice* device) {
    return Hand(device, device->sim ? device->sim->GetOutputName() : "");
}

EMSCRIPTEN_KEEPALIVE const char* kestrane_device_input_name(WebDevice* device) {
    return Hand(device, device->sim ? device->sim->GetInputName() : "");
}

// 1 when the device is plugged in now.
EMSCRIPTEN_KEEPALIVE int kestrane_device_present(WebDevice* device) {
    return device->sim && device->sim->IsPresent() ? 1 : 0;
}

// Hands one delivery of bytes to the device, as it came; 1 when it arrived
// whole, 0 when the device is not there (or was unplugged during it).
EMSCRIPTEN_KEEPALIVE int kestrane_device_deliver(WebDevice* device, const uint8_t* data,
                                                 size_t size) {
    if (!device->link)
        return 0;
    // A connection that was open when the device was unplugged stays unusable
    // once it is back: it is opened anew, as a driver opens a device that has
    // been plugged in again.
    if (device->sim->IsPresent() && !device->link->IsConnected())
        device->link->Disconnect();
    return device->link->Deliver(std::vector<uint8_t>(data, data + size)) ? 1 : 0;
}

// Delivers every answer due by now; returns how many SysEx messages the
// device sent, to be read with kestrane_device_message_* before the next pump.
EMSCRIPTEN_KEEPALIVE int kestrane_device_pump(WebDevice* device) {
    device->messages.clear();
    if (device->sim)
        device->sim->DeliverDue();
    return static_cast<int>(device->messages.size());
}

// The size and the bytes of a message from the last pump, by its index (0
// for the first); 0 and null for an index out of range.
EMSCRIPTEN_KEEPALIVE size_t kestrane_device_message_size(WebDevice* device, int index) {
    const size_t at = static_cast<size_t>(index);
    return index >= 0 && at < device->messages.size() ? device->messages[at].size() : 0;
}

EMSCRIPTEN_KEEPALIVE const uint8_t* kestrane_device_message_data(WebDevice* device, int index) {
    const size_t at = static_cast<size_t>(index);
    return index >= 0 && at < device->messages.size() ? device->messages[at].data() : nullptr;
}

// Every byte received, in order: the count, then the bytes (valid until the
// next call of either).
EMSCRIPTEN_KEEPALIVE size_t kestrane_device_received_size(WebDevice* device) {
    device->bytes = device->sim ? device->sim->GetReceivedBytes() : std::vector<uint8_t>();
    return device->bytes.size();
}

EMSCRIPTEN_KEEPALIVE const uint8_t* kestrane_device_received_data(WebDevice* device) {
    return device->bytes.data();
}

// One line per portion, as kestrane-cli's sim command prints them.
EMSCRIPTEN_KEEPALIVE const char* kestrane_device_summary(WebDevice* device) {
    return Hand(device, device->sim ? PortionSummary(device->sim->GetPortionReports()) : "");
}

EMSCRIPTEN_KEEPALIVE int kestrane_device_identity_requests(WebDevice* device) {
    return device->sim ? device->sim->GetIdentityRequestCount() : 0;
}

// The module's log so far (the latest megabyte at most).
EMSCRIPTEN_KEEPALIVE const char* kestrane_device_log(WebDevice* device) {
    return Hand(device, keptLog.text);
}

} // extern "C"
