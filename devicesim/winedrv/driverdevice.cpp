#include "driverdevice.h"

#include "driverconfig.h"

#include "simoptions.h"
#include "update.h"
#include "utils.h"

#include <cstdio>
#include <fstream>
#include <mutex>
#include <stdexcept>

namespace {

const char* const kTag = "winekestrane";

// The driver's log: every log text goes to the debugger output and, when
// KESTRANE_SIM_LOG names a file, to the end of that file; never to the
// program's standard output, which belongs to the program.
class DriverLog : public LogSink {
public:
    explicit DriverLog(const std::string& path) {
        if (!path.empty())
            file = std::fopen(path.c_str(), "ab");
    }

    void Write(const char* text) override {
        OutputDebugStringA(text);
        std::lock_guard<std::mutex> lock(mutex);
        if (file) {
            std::fputs(text, file);
            std::fflush(file);
        }
    }

private:
    std::mutex mutex;
    std::FILE* file = nullptr;
};

// The device and its settings. Never destroyed at the end of the process
// (see driverdevice.h).
struct RunningDevice {
    DeviceSettings settings;
    std::unique_ptr<DeviceSim> sim;
};

std::mutex devicesMutex;
RunningDevice* running = nullptr; // guarded by devicesMutex
int openLinks = 0;                // guarded by devicesMutex

std::unique_ptr<RunningDevice> CreateDevice(const DeviceSettings& settings) {
    std::vector<std::vector<uint8_t>> portions;
    PortSettings portSettings = defaultPortSettings;
    if (!settings.updatePath.empty()) {
        std::ifstream file(settings.updatePath, std::ios::binary);
        if (!file)
            throw std::runtime_error("Can't open the update file \"" + settings.updatePath +
                                     "\" (KESTRANE_SIM_UPDATE).");
        Update update(file);
        portions = PortionData(update);
        portSettings = update.GetPortSettings();
    }
    auto device = std::make_unique<RunningDevice>();
    device->settings = settings;
    device->sim = std::make_unique<DeviceSim>(std::move(portions), portSettings);
    DeviceSim& sim = *device->sim;
    DeviceLayout layout = ReadDeviceLayout();
    sim.SetPortNames(layout.outputName, layout.inputName);
    ApplySimOptions(sim, settings.device);
    return device;
}

} // namespace

MMRESULT ReportSetupError(const char* reason) {
    LogText("%s: the emulated device cannot be set up: %s\n", kTag, reason);
    std::fprintf(stderr, "%s: the emulated device cannot be set up: %s\n", kTag, reason);
    return MMSYSERR_ERROR;
}

MMRESULT OpenDeviceLink(DeviceLink::MessageHandler handler, void* context,
                        std::unique_ptr<DeviceLink>& link, DeviceLinkInfo& info) {
    std::lock_guard<std::mutex> lock(devicesMutex);
    try {
        DeviceSettings settings = ReadDeviceSettings();
        if (running && openLinks == 0 && running->settings != settings) {
            LogText("%s: settings changed, replacing the emulated device\n", kTag);
            delete running;
            running = nullptr;
        }
        if (!running)
            running = CreateDevice(settings).release();
    } catch (const std::exception& e) {
        return ReportSetupError(e.what());
    }
    info.byteMicros = running->settings.byteMicros;
    link = std::make_unique<DeviceLink>(*running->sim, handler, context);
    if (!link->IsConnected()) {
        link.reset();
        return MMSYSERR_ALLOCATED;
    }
    ++openLinks;
    return MMSYSERR_NOERROR;
}

void CloseDeviceLink(std::unique_ptr<DeviceLink>& link) {
    if (!link)
        return;
    std::lock_guard<std::mutex> lock(devicesMutex);
    link.reset(); // the device's thread no longer calls the link's handler
    --openLinks;
}

void ScheduleStartMessages() {
    std::vector<StartMessage> messages;
    try {
        messages = ReadStartMessages();
    } catch (const std::invalid_argument& e) {
        ReportSetupError(e.what());
        return;
    }
    std::lock_guard<std::mutex> lock(devicesMutex);
    if (!running)
        return;
    for (StartMessage& message : messages)
        running->sim->ScheduleSend(message.delayMs, std::move(message.bytes));
}

void InstallDriverLog() {
    static DriverLog* log = new DriverLog(WindowsPath(EnvironmentText("KESTRANE_SIM_LOG")));
    SetLogSink(log);
}
