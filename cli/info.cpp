// The info command: loads an update file or a plain SysEx file and shows
// what it holds.
#include "info.h"

#include "loadupdate.h"
#include "utils.h"

#include <algorithm>
#include <cstdint>
#include <exception>
#include <set>
#include <vector>

namespace {

// Exact count, with the short form beside it once the two differ.
std::string SizeText(uint64_t bytes) {
    if (bytes < 1024)
        return ByteSizeText(static_cast<uint32_t>(bytes));
    std::string exact = std::to_string(bytes) + " bytes";
    if (bytes > UINT32_MAX)
        return exact;
    return ByteSizeText(static_cast<uint32_t>(bytes)) + " (" + exact + ")";
}

nlohmann::ordered_json NamesToJson(const std::set<std::string>& names) {
    std::vector<std::string> texts(names.size());
    std::transform(names.begin(), names.end(), texts.begin(), Latin1ToUtf8);
    return texts;
}

std::string NamesText(const std::set<std::string>& names) {
    if (names.empty())
        return "(none)";
    std::string text;
    for (const std::string& name : names) {
        if (!text.empty())
            text += ", ";
        text += "\"" + EscapeControlBytes(name) + "\"";
    }
    return text;
}

constexpr const char* kIndent = "                   ";

// Every line of the message, the first on the label's line and the others
// lined up under it.
void WriteMessage(const std::string& message, std::ostream& out) {
    out << "Message:           ";
    if (message.empty()) {
        out << "(none)\n";
        return;
    }
    size_t start = 0;
    bool first = true;
    while (start < message.size()) {
        size_t end = message.find('\n', start);
        if (end == std::string::npos)
            end = message.size();
        std::string line = message.substr(start, end - start);
        out << (first || line.empty() ? "" : kIndent) << EscapeControlBytes(line) << "\n";
        first = false;
        start = end + 1;
    }
}

void WriteError(const std::string& message, bool json, std::ostream& out, std::ostream& err) {
    err << message << "\n";
    if (json) {
        nlohmann::json error = nlohmann::json::object();
        error["error"] = Latin1ToUtf8(message);
        out << error.dump(2) << "\n";
    }
}

} // namespace

std::string EscapeControlBytes(const std::string& bytes) {
    std::string text;
    text.reserve(bytes.size());
    for (char c : bytes) {
        auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || (byte >= 0x7F && byte <= 0x9F))
            text += FormatText("\\x%02x", static_cast<unsigned>(byte));
        else
            text += c;
    }
    return text;
}

std::string Latin1ToUtf8(const std::string& bytes) {
    std::string text;
    text.reserve(bytes.size());
    for (char c : bytes) {
        auto byte = static_cast<unsigned char>(c);
        if (byte < 0x80) {
            text += c;
        } else {
            text += static_cast<char>(0xC0 | (byte >> 6));
            text += static_cast<char>(0x80 | (byte & 0x3F));
        }
    }
    return text;
}

nlohmann::ordered_json UpdateToJson(const Update& update) {
    const PortSettings& settings = update.GetPortSettings();
    const uint16_t(&headerValues)[3] = update.GetHeaderValues();

    nlohmann::ordered_json portSettings = nlohmann::ordered_json::object();
    portSettings["names"] = NamesToJson(settings.names);
    portSettings["ideal"] = settings.ideal;
    portSettings["max"] = settings.max;
    portSettings["delay"] = settings.delay;
    portSettings["unprepdelay"] = settings.unprepdelay;
    portSettings["chunks"] = settings.chunks;

    nlohmann::ordered_json portions = nlohmann::ordered_json::array();
    for (size_t index = 0; index < update.GetPortionCount(); ++index) {
        const Update::SysExPortion& portion = update.GetPortion(index);
        nlohmann::ordered_json entry = nlohmann::ordered_json::object();
        entry["size"] = portion.GetData().size();
        entry["delay"] = portion.GetDelay();
        portions.push_back(entry);
    }

    nlohmann::ordered_json object = nlohmann::ordered_json::object();
    object["kind"] = update.IsSysEx() ? "sysex" : "update";
    object["productName"] = Latin1ToUtf8(update.GetProductName());
    object["message"] = Latin1ToUtf8(update.GetMessage());
    object["version"] = update.GetVersion().ToString();
    object["versionKnown"] = update.GetVersion().IsKnown();
    object["headerValues"] = {headerValues[0], headerValues[1], headerValues[2]};
    object["portSettings"] = portSettings;
    object["macPortNames"] = NamesToJson(update.GetMacPortNames());
    object["imageSize"] = update.GetImage().size();
    object["portions"] = portions;
    object["totalSysExSize"] = update.GetTotalSysExSize();
    return object;
}

void DescribeUpdate(const std::string& path, const Update& update, std::ostream& out) {
    const PortSettings& settings = update.GetPortSettings();
    const uint16_t(&headerValues)[3] = update.GetHeaderValues();
    FirmwareVersion version = update.GetVersion();

    out << "File:              " << EscapeControlBytes(path) << "\n"
        << "Kind:              " << (update.IsSysEx() ? "plain SysEx file" : "update file") << "\n"
        << "Product:           " << EscapeControlBytes(update.GetProductName()) << "\n"
        << "Firmware version:  " << version.ToString() << (version.IsKnown() ? "" : " (not known)")
        << "\n";
    WriteMessage(update.GetMessage(), out);
    out << "Port names:        " << NamesText(settings.names) << "\n"
        << "Transfer:          ideal " << settings.ideal << " bytes, max " << settings.max
        << " bytes, delay " << settings.delay << " ms, unprepdelay " << settings.unprepdelay
        << " ms, chunks " << (settings.chunks ? "on" : "off") << "\n"
        << "Other platform:    " << NamesText(update.GetMacPortNames()) << "\n"
        << "Header values:     " << headerValues[0] << ", " << headerValues[1] << ", "
        << headerValues[2] << "\n"
        << "Picture:           "
        << (update.GetImage().empty() ? std::string("none") : SizeText(update.GetImage().size()))
        << "\n"
        << "Portions:          " << update.GetPortionCount() << "\n";
    for (size_t index = 0; index < update.GetPortionCount(); ++index) {
        const Update::SysExPortion& portion = update.GetPortion(index);
        out << "  " << index + 1 << ": " << SizeText(portion.GetData().size()) << ", then "
            << portion.GetDelay() << " ms\n";
    }
    out << "Total SysEx:       " << SizeText(update.GetTotalSysExSize()) << "\n";
}

int RunInfo(const CommandArguments& args, std::ostream& out, std::ostream& err) {
    const std::string& path = args.Operands().front();
    const bool json = args.Has("--json");
    try {
        const Update update = LoadUpdateFile(path);
        if (json)
            out << UpdateToJson(update).dump(2) << "\n";
        else
            DescribeUpdate(path, update, out);
        return kExitOk;
    } catch (const ParseError& error) {
        WriteError(error.what(), json, out, err);
        return kExitFailure;
    } catch (const std::exception& error) {
        // Not a fault of the content: a file that cannot be opened, or memory
        // that ran out. Still one object.
        WriteError(std::string("kestrane-cli: ") + error.what(), json, out, err);
        return kExitFailure;
    }
}
