// How the emulated device answers each update portion, written as a
// comma-separated list of words: "accept", "fail", "silent" or "installN".
// The last word holds for every later portion ("install3,accept",
// "silent,fail").
#pragma once

#include <cstddef>
#include <string>
#include <vector>

struct PortionAnswer {
    enum Kind { Accept, Fail, Silent, Install };

    Kind kind = Accept;
    // Install only: how many "still installing" answers come before "accepted".
    int installCount = 0;

    bool operator==(const PortionAnswer& other) const {
        return kind == other.kind && installCount == other.installCount;
    }
    // The word that stands for this answer in a script.
    std::string ToString() const;
};

class AnswerScript {
public:
    // Accepts every portion.
    AnswerScript() : answers{PortionAnswer{}} {}
    // At least one answer; throws std::invalid_argument for an empty list.
    explicit AnswerScript(std::vector<PortionAnswer> answers);

    // The answer for a portion (0 for the first); the last answer repeats.
    const PortionAnswer& ForPortion(size_t index) const;
    const std::vector<PortionAnswer>& GetAnswers() const { return answers; }

private:
    std::vector<PortionAnswer> answers;
};

// Most "still installing" answers an install word may ask for.
constexpr int kMaxInstallCount = 10000;

// Reads a script text; throws std::invalid_argument with a message for the
// user when the text holds an unknown word or no word at all.
AnswerScript ParseAnswerScript(const std::string& text);
