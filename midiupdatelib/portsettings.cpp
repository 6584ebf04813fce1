#include "portsettings.h"

#include <cctype>
#include <cstdlib>

const PortSettings defaultPortSettings = {{}, 1024, 3072, 200, 100, true};

std::vector<std::string> Split(const std::string& text, char separator) {
    std::vector<std::string> fields;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find(separator, start);
        if (end == std::string::npos) {
            fields.push_back(text.substr(start));
            break;
        }
        fields.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return fields;
}

std::string ToLower(const std::string& text) {
    std::string lowered(text);
    for (char& c : lowered)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return lowered;
}

namespace {

// atoi's reading (white space, sign, digits) without its undefined behaviour
// for texts beyond the 32-bit range: such values wrap as 32-bit integers do.
int32_t ParseNumber(const std::string& text) {
    size_t i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i])))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    uint32_t value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
        value = value * 10u + static_cast<uint32_t>(text[i] - '0');
    if (negative)
        value = 0u - value;
    return static_cast<int32_t>(value);
}

} // namespace

bool ParseBool(const std::string& text) {
    std::string lowered = ToLower(text);
    return lowered == "yes" || lowered == "true" || ParseNumber(text) != 0;
}

void AddPortNames(std::set<std::string>& names, const std::string& text) {
    for (const std::string& name : Split(text, '$'))
        names.insert(name);
}

void ParsePortSettings(PortSettings& settings, const std::string& text) {
    std::vector<std::string> fields = Split(text, ':');
    if (fields.size() < 2 || fields[0] != "win")
        return;
    // The second field names the settings' source; it is not used.
    for (size_t i = 2; i + 1 < fields.size(); i += 2) {
        const std::string& key = fields[i];
        const std::string& value = fields[i + 1];
        int32_t number = ParseNumber(value);
        if (key == "name")
            AddPortNames(settings.names, value);
        else if (key == "ideal")
            settings.ideal = number;
        else if (key == "max")
            settings.max = number;
        else if (key == "delay")
            settings.delay = number;
        else if (key == "unprepdelay")
            settings.unprepdelay = number;
        else if (key == "chunks")
            settings.chunks = ParseBool(value);
    }
}

uint32_t PortPauseMs(int32_t configuredMs) {
    if (configuredMs <= 0)
        return 0;
    uint32_t ms = static_cast<uint32_t>(configuredMs);
    return ms > kMaxPortPauseMs ? kMaxPortPauseMs : ms;
}
