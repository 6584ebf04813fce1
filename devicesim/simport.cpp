#include "simport.h"

#include "utils.h"

SimMidiPort::SimMidiPort(DeviceSim& simDevice, const PortSettings& portSettings)
    : MidiPort(portSettings), device(simDevice) {
    device.Attach(this);
}

SimMidiPort::~SimMidiPort() {
    // From here on the device's thread no longer feeds the collector.
    device.Detach(this);
}

bool SimMidiPort::IsConnected() {
    bool connected = device.Open(this, params.names);
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
    SendBlock(data, count,
              [this](const uint8_t* block, uint32_t size) { SendVerbatim(block, size); });
}

void SimMidiPort::SendVerbatim(const uint8_t* data, uint32_t count) {
    if (!IsConnected())
        return NoteNotConnected();
    if (device.Receive(this, std::vector<uint8_t>(data, data + count))) {
        PauseAfterMessage();
    } else {
        LogText("%s: Error sending (the device is gone)\n", "SimMidiPort::SendVerbatim");
        NoteSendFailure();
    }
    PauseAfterRelease();
}

std::vector<uint8_t> SimMidiPort::Request(uint32_t timeoutMs, const uint8_t* request,
                                          uint32_t count) {
    return RequestAndWait(
        "SimMidiPort::Request", "answer", timeoutMs, request, count,
        [this](const uint8_t* block, uint32_t size) { SendVerbatim(block, size); });
}

void SimMidiPort::DeliverInput(const std::vector<uint8_t>& bytes) {
    for (uint8_t byte : bytes)
        sysExCollector.AddByte(byte);
}
