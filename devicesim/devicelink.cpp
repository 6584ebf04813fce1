#include "devicelink.h"

DeviceLink::DeviceLink(DeviceSim& device, MessageHandler messageHandler, void* context)
    : SimMidiPort(device, PortSettings{{}, 256, 256, 0, 0, false}), handler(messageHandler),
      handlerContext(context) {
    // Messages go on whole and at once instead of waiting in the port's store.
    sysExCollector.SetCallback(&DeviceLink::OnSysEx, this);
}

bool DeviceLink::Deliver(const std::vector<uint8_t>& bytes) {
    SendVerbatim(bytes.data(), static_cast<uint32_t>(bytes.size()));
    return TakeSendFailures() == 0;
}

void DeviceLink::OnSysEx(void* context) {
    DeviceLink* link = static_cast<DeviceLink*>(context);
    if (link->handler)
        link->handler(link->handlerContext, link->sysExCollector.GetBytes());
}
