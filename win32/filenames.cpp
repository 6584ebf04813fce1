#include "filenames.h"

#include <cstring>

namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

} // namespace

std::string UnquoteCommandLine(const char* commandLine) {
    std::string text = commandLine ? commandLine : "";
    size_t begin = 0;
    size_t end = text.size();
    while (begin < end && IsBlank(text[begin]))
        ++begin;
    while (end > begin && IsBlank(text[end - 1]))
        --end;
    if (begin < end && text[begin] == '"') {
        ++begin;
        // An unclosed quote ("abc.upd) still names abc.upd.
        if (end > begin && text[end - 1] == '"')
            --end;
    }
    return text.substr(begin, end - begin);
}

void CopyFileName(char (&target)[kFileNameSize], const std::string& name) {
    const size_t length = name.size() < kFileNameSize - 1 ? name.size() : kFileNameSize - 1;
    memcpy(target, name.data(), length);
    target[length] = '\0';
}

std::string FindFirstFileName(const char* pattern) {
    WIN32_FIND_DATAA findData = {};
    HANDLE search = FindFirstFileA(pattern, &findData);
    if (search == INVALID_HANDLE_VALUE)
        return std::string();
    FindClose(search);
    return findData.cFileName;
}
