#include "filenames.h"

#include <cstring>

namespace {

bool IsBlank(wchar_t c) {
    return c == L' ' || c == L'\t' || c == L'\r' || c == L'\n';
}

} // namespace

std::wstring UnquoteCommandLine(const wchar_t* commandLine) {
    const std::wstring text = commandLine ? commandLine : L"";
    size_t begin = 0;
    size_t end = text.size();
    while (begin < end && IsBlank(text[begin]))
        ++begin;
    while (end > begin && IsBlank(text[end - 1]))
        --end;
    if (begin < end && text[begin] == L'"') {
        ++begin;
        // An unclosed quote ("abc.upd) still names abc.upd.
        if (end > begin && text[end - 1] == L'"')
            --end;
    }
    return text.substr(begin, end - begin);
}

std::wstring CommandLineArguments(const wchar_t* commandLine) {
    if (!commandLine)
        return std::wstring();
    const wchar_t* p = commandLine;
    bool quoted = false;
    while (*p > L' ' || (*p && quoted)) {
        if (*p == L'"')
            quoted = !quoted;
        ++p;
    }
    while (*p && *p <= L' ')
        ++p;
    return p;
}

void CopyFileName(char (&target)[kFileNameSize], const std::string& name) {
    const size_t length = name.size() < kFileNameSize - 1 ? name.size() : kFileNameSize - 1;
    memcpy(target, name.data(), length);
    target[length] = '\0';
}

std::wstring FindFirstFileName(const wchar_t* pattern) {
    WIN32_FIND_DATAW findData = {};
    HANDLE search = FindFirstFileW(pattern, &findData);
    if (search == INVALID_HANDLE_VALUE)
        return std::wstring();
    FindClose(search);
    return findData.cFileName;
}
