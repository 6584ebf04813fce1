#include "ownports.h"

#include "portnames.h"

#include <unistd.h>

const char* const kOwnClientName = "kestrane-cli";

std::string OwnPortName(const char* direction) {
    return "kestrane " + std::to_string(static_cast<long>(getpid())) + " " + direction;
}

bool IsOwnPort(const std::string& listedName, const std::vector<std::string>& ownPortNames) {
    for (size_t colon = listedName.find(':'); colon != std::string::npos;
         colon = listedName.find(':', colon + 1)) {
        const size_t portStart = colon + 1;
        for (const std::string& own : ownPortNames) {
            if (own.empty() || listedName.compare(portStart, own.size(), own) != 0)
                continue;
            const size_t after = portStart + own.size();
            if (after == listedName.size() || listedName[after] == ' ')
                return true;
        }
    }
    return false;
}

bool IsKestraneOutput(const std::string& listedName) {
    const std::string prefix = "kestrane ";
    const std::string suffix = " out";
    for (size_t colon = listedName.find(':'); colon != std::string::npos;
         colon = listedName.find(':', colon + 1)) {
        const size_t digits = colon + 1 + prefix.size();
        if (listedName.compare(colon + 1, prefix.size(), prefix) != 0)
            continue;
        size_t end = digits;
        while (end < listedName.size() && listedName[end] >= '0' && listedName[end] <= '9')
            ++end;
        if (end == digits || listedName.compare(end, suffix.size(), suffix) != 0)
            continue;
        const size_t after = end + suffix.size();
        if (after == listedName.size() || listedName[after] == ' ')
            return true;
    }
    return false;
}

int FindMidiPort(const std::vector<std::string>& ports, const std::set<std::string>& names,
                 const std::vector<std::string>& ownPortNames) {
    for (size_t index = 0; index < ports.size(); ++index) {
        const std::string& port = ports[index];
        if (!port.empty() && !IsOwnPort(port, ownPortNames) && MatchesPortName(names, port))
            return static_cast<int>(index);
    }
    return kNoDevice;
}
