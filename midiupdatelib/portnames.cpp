#include "portnames.h"

std::string NormalisePortName(const std::string& name) {
    size_t i = 0;
    while (i < name.size() && name[i] >= '0' && name[i] <= '9')
        ++i;
    if (i < name.size() && name[i] == '-')
        ++i;
    while (i < name.size() && name[i] == ' ')
        ++i;
    return name.substr(i);
}

bool IsUsablePortName(const std::string& name) {
    return name.find("Microsoft GS Wavetable") == std::string::npos &&
           name.find("Microsoft MIDI Mapper") == std::string::npos;
}

bool ContainsListedName(const std::set<std::string>& list, const std::string& name) {
    if (name.empty())
        return false;
    for (const std::string& entry : list) {
        if (name.find(entry) != std::string::npos)
            return true;
    }
    return false;
}

bool MatchesPortName(const std::set<std::string>& list, const std::string& deviceName) {
    std::string normalised = NormalisePortName(deviceName);
    if (!IsUsablePortName(normalised))
        return false;
    if (list.empty() || list.count(normalised) != 0)
        return true;
    return ContainsListedName(list, normalised);
}
