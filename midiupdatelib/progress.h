// The progress sink through which the transfer engine reports to whatever
// shows the user what is happening.
#pragma once

#include <string>

class UpdateProgress {
public:
    virtual ~UpdateProgress() = default;
    // Share of the whole job that is done, 0.0 to 1.0; ends an indeterminate phase.
    virtual void Progress(float fraction) = 0;
    // The amount done cannot be told until the next Progress call.
    virtual void ProgressIndeterminate() = 0;
    virtual void Status(const std::string& text) = 0;
    virtual void Error(const std::string& text) = 0;
    // The run has ended; the text is the outcome to tell the user.
    virtual void Completed(const std::string& text) = 0;
    // Returns only once the user has read and acknowledged the text.
    virtual void BlockingMessage(const std::string& text) = 0;
};

// Maps the progress of one step onto the sub-range [inFrom, inTo] of a whole
// of inOutOf on the parent sink. Everything else passes through unchanged.
class UpdateProgressConverter : public UpdateProgress {
public:
    UpdateProgressConverter(UpdateProgress& parent, float inFrom, float inTo, float inOutOf);

    void Progress(float fraction) override;
    void ProgressIndeterminate() override;
    void Status(const std::string& text) override;
    void Error(const std::string& text) override;
    void Completed(const std::string& text) override;
    void BlockingMessage(const std::string& text) override;

private:
    UpdateProgress& parent;
    float offset;
    float scale;
};
