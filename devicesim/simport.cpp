#include "simport.h"

#include "sysexframing.h"
#include "utils.h"

SimMidiPort::SimMidiPort(DeviceSim& simDevice, const PortSettings& portSettings)
    : device(simDevice), settings(portSettings) {
    device.Attach(this);
}

SimMidiPort::~SimMidiPort() {
    // From here on the device's thread no longer feeds the collector.
    device.Detach(this);
}

bool SimMidiPort::IsConnected() {
    bool connected = device.Open(this, settings.names);
    if (connected && !open)
        LogText("%s: opened '%s'\n", "SimMidiPort::IsConnected", device.GetOutputName().c_str());
    open = open || connected;
    LogText("%s: connected=%s\n", "SimMidiPort::IsConnected", connected ? "yes" : "no");
    return connected;
}

void SimMidiPort::Disconnect() {
    LogText("%s\n", "SimMidiPort::Disconnect");
    device.Close(this);
    open = false;
}

void SimMidiPort::Reconnect() {
    if (!open)
        return;
    Disconnect();
    IsConnected();
}

void SimMidiPort::Send(const uint8_t* data, uint32_t count) {
    LogText("%s(%u bytes)\n", "SimMidiPort::Send", static_cast<unsigned>(count));
    if (count == 0)
        return;
    if (!settings.chunks) {
        SendVerbatim(data, count);
        return;
    }
    std::vector<uint8_t> framed = FrameSysExChunk(data, count);
    SendVerbatim(framed.data(), static_cast<uint32_t>(framed.size()));
}

void SimMidiPort::SendVerbatim(const uint8_t* data, uint32_t count) {
    if (!IsConnected()) {
        LogText("Can't send MIDI, not connected\n");
        NoteSendFailure();
        return;
    }
    if (device.Receive(this, std::vector<uint8_t>(data, data + count))) {
        if (uint32_t pause = PortPauseMs(settings.delay))
            SleepMs(pause);
    } else {
        LogText("%s: Error sending (the device is gone)\n", "SimMidiPort::SendVerbatim");
        NoteSendFailure();
    }
    if (uint32_t pause = PortPauseMs(settings.unprepdelay))
        SleepMs(pause);
}

std::vector<uint8_t> SimMidiPort::Request(uint32_t timeoutMs, const uint8_t* request,
                                          uint32_t count) {
    LogText("%s(%u ms, %u bytes)\n", "SimMidiPort::Request", static_cast<unsigned>(timeoutMs),
            static_cast<unsigned>(count));
    TakeSysEx(); // a message from before the request is not its answer
    if (!IsConnected()) {
        LogText("%s: not connected, no answer\n", "SimMidiPort::Request");
        return {};
    }
    SendVerbatim(request, count);
    std::vector<uint8_t> reply = WaitForSysEx(timeoutMs, 10);
    if (reply.empty())
        LogText("%s: no answer\n", "SimMidiPort::Request");
    return reply;
}

void SimMidiPort::DeliverInput(const std::vector<uint8_t>& bytes) {
    for (uint8_t byte : bytes)
        sysExCollector.AddByte(byte);
}
