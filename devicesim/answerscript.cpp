#include "answerscript.h"

#include "decimal.h"

#include <cstdint>
#include <stdexcept>

namespace {

const char* const kScriptHelp =
    "use a comma-separated list of accept, fail, silent and installN (N \"still installing\" "
    "answers before accepting, e.g. install3); the last one holds for the later portions";

std::string Trim(const std::string& text) {
    size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos)
        return std::string();
    size_t last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

[[noreturn]] void Reject(const std::string& problem, const std::string& text) {
    throw std::invalid_argument(problem + " in the answer script \"" + text + "\": " + kScriptHelp +
                                ".");
}

PortionAnswer ParseWord(const std::string& word, const std::string& text) {
    PortionAnswer answer;
    if (word == "accept") {
        answer.kind = PortionAnswer::Accept;
    } else if (word == "fail") {
        answer.kind = PortionAnswer::Fail;
    } else if (word == "silent") {
        answer.kind = PortionAnswer::Silent;
    } else if (word.compare(0, 7, "install") == 0) {
        std::string count = word.substr(7);
        if (count.empty())
            Reject("\"install\" without a count", text);
        if (count.find_first_not_of("0123456789") != std::string::npos)
            Reject("unknown answer \"" + word + "\"", text);
        // Leading zeros are allowed; a count of any length beyond the range
        // is refused.
        uint64_t installCount = 0;
        if (!ParseDecimal(count, static_cast<uint64_t>(kMaxInstallCount), installCount))
            Reject("\"" + word + "\": the install count must be from 0 to " +
                       std::to_string(kMaxInstallCount),
                   text);
        answer.kind = PortionAnswer::Install;
        answer.installCount = static_cast<int>(installCount);
    } else if (word.empty()) {
        Reject("an empty answer", text);
    } else {
        Reject("unknown answer \"" + word + "\"", text);
    }
    return answer;
}

} // namespace

std::string PortionAnswer::ToString() const {
    switch (kind) {
    case Accept:
        return "accept";
    case Fail:
        return "fail";
    case Silent:
        return "silent";
    case Install:
        return "install" + std::to_string(installCount);
    }
    return "unknown";
}

AnswerScript::AnswerScript(std::vector<PortionAnswer> scriptAnswers)
    : answers(std::move(scriptAnswers)) {
    if (answers.empty())
        throw std::invalid_argument("An answer script needs at least one answer.");
}

const PortionAnswer& AnswerScript::ForPortion(size_t index) const {
    return index < answers.size() ? answers[index] : answers.back();
}

AnswerScript ParseAnswerScript(const std::string& text) {
    std::vector<PortionAnswer> answers;
    size_t start = 0;
    while (true) {
        size_t comma = text.find(',', start);
        std::string word = Trim(
            text.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
        answers.push_back(ParseWord(word, text));
        if (comma == std::string::npos)
            break;
        start = comma + 1;
    }
    return AnswerScript(std::move(answers));
}
