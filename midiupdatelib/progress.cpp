#include "progress.h"

#include <cassert>

UpdateProgressConverter::UpdateProgressConverter(UpdateProgress& parent, float inFrom, float inTo,
                                                 float inOutOf)
    : parent(parent), offset(0.0f), scale(0.0f) {
    assert(inFrom <= inTo);
    assert(inFrom <= inOutOf);
    assert(inTo <= inOutOf);
    // An empty whole (an update without any bytes) has no share to give:
    // report 0.0 rather than the NaN that the division would produce.
    if (inOutOf != 0.0f) {
        offset = inFrom / inOutOf;
        scale = (inTo - inFrom) / inOutOf;
    }
}

void UpdateProgressConverter::Progress(float fraction) {
    parent.Progress(scale * fraction + offset);
}

void UpdateProgressConverter::ProgressIndeterminate() {
    parent.ProgressIndeterminate();
}

void UpdateProgressConverter::Status(const std::string& text) {
    parent.Status(text);
}

void UpdateProgressConverter::Error(const std::string& text) {
    parent.Error(text);
}

void UpdateProgressConverter::Completed(const std::string& text) {
    parent.Completed(text);
}

void UpdateProgressConverter::BlockingMessage(const std::string& text) {
    parent.BlockingMessage(text);
}
