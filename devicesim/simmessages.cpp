#include "simmessages.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

const char* const kIdentityName = "Virtual Device";

const std::vector<uint8_t>& IdentityRequest() {
    static const std::vector<uint8_t> request = {0xF0, 0x7E, 0x7F, 0x06, 0x01, 0xF7};
    return request;
}

std::vector<uint8_t> BuildUpdateStatusMessage(uint8_t status, uint32_t portionNumber) {
    return {0xF0,
            0x00,
            0x00,
            0x3F,
            0x73,
            static_cast<uint8_t>(portionNumber & 0x7F),
            static_cast<uint8_t>((portionNumber >> 7) & 0x7F),
            0x00,
            0x00,
            0x00,
            0x00,
            status,
            0xF7};
}

void CheckIdentityVersion(const FirmwareVersion& version) {
    if (version.major > kMaxIdentityMajor)
        throw std::invalid_argument(
            "The firmware version's major number " + std::to_string(version.major) + " is above " +
            std::to_string(kMaxIdentityMajor) + ", the largest an identity reply can carry.");
    if (version.minor > kMaxIdentityMinor)
        throw std::invalid_argument("The firmware version's minor number " +
                                    std::to_string(version.minor) +
                                    " has more than two digits, which an identity reply cannot "
                                    "carry.");
}

FirmwareVersion ParseIdentityVersion(const std::string& text) {
    const std::string form = "The firmware version \"" + text +
                             "\" is not written as MAJOR.MM (a number, a point and two digits, "
                             "as in 1.05).";
    size_t point = text.find('.');
    if (point == std::string::npos || point == 0 || point > 5 || text.size() != point + 3)
        throw std::invalid_argument(form);
    std::string major = text.substr(0, point);
    std::string minor = text.substr(point + 1);
    if (major.find_first_not_of("0123456789") != std::string::npos ||
        minor.find_first_not_of("0123456789") != std::string::npos)
        throw std::invalid_argument(form);
    if (major.size() > 1 && major[0] == '0') // would not read back the same
        throw std::invalid_argument(form);
    int majorNumber = std::stoi(major);
    if (majorNumber > kMaxIdentityMajor)
        throw std::invalid_argument("The firmware version \"" + text + "\" is above " +
                                    std::to_string(kMaxIdentityMajor) +
                                    ".99, the largest an identity reply can carry.");
    FirmwareVersion version;
    version.major = static_cast<uint16_t>(majorNumber);
    version.minor = static_cast<uint16_t>(std::stoi(minor));
    return version;
}

std::vector<uint8_t> BuildIdentityReply(const FirmwareVersion& version) {
    CheckIdentityVersion(version);
    std::vector<uint8_t> reply = {0xF0,
                                  0x7E,
                                  0x00,
                                  0x06,
                                  0x02, // identity reply, device ID 0
                                  0x00,
                                  0x00,
                                  0x3F, // manufacturer
                                  kIdentityFamily,
                                  0x00,
                                  0x00, // family, model
                                  static_cast<uint8_t>(version.major / 22),
                                  static_cast<uint8_t>(version.major % 22),
                                  static_cast<uint8_t>(version.minor / 10),
                                  static_cast<uint8_t>(version.minor % 10),
                                  0x00,
                                  0x00,
                                  0x00,
                                  0x00,
                                  0x00};
    // The name is padded with zeros to 16 bytes.
    const size_t nameStart = reply.size();
    reply.resize(nameStart + 16, 0x00);
    std::memcpy(reply.data() + nameStart, kIdentityName,
                std::min<size_t>(std::strlen(kIdentityName), 16));
    reply.push_back(0xF7);
    return reply;
}
