#include "rtmidierrors.h"

#include "utils.h"

void RtMidiErrors::Watch(RtMidi& midi) {
    midi.setErrorCallback(&RtMidiErrors::OnError, this);
}

void RtMidiErrors::OnError(RtMidiError::Type type, const std::string& text, void* context) {
    RtMidiErrors* errors = static_cast<RtMidiErrors*>(context);
    LogText("%s: RtMidi reports (%d) %s\n", errors->tag, static_cast<int>(type), text.c_str());
    if (type == RtMidiError::DEBUG_WARNING)
        return;
    {
        std::lock_guard<std::mutex> lock(errors->mutex);
        errors->lastText = text;
    }
    ++errors->count;
}

std::string RtMidiErrors::LastText() const {
    std::lock_guard<std::mutex> lock(mutex);
    return lastText;
}
