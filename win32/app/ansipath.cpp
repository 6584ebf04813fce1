#include "ansipath.h"

#include "appstate.h"

#include <vector>

namespace {

// What the ANSI functions and the program's buffer take: both count the
// terminator in their MAX_PATH, one in characters, the other in bytes (a
// double-byte code page needs two for many characters).
bool Fits(const std::wstring& path, const std::string& converted) {
    return path.size() < MAX_PATH && converted.size() < kFileNameSize;
}

bool StartsWith(const std::wstring& text, const wchar_t* prefix) {
    return text.compare(0, std::wstring(prefix).size(), prefix) == 0;
}

bool IsDrivePath(const std::wstring& path, size_t at) {
    if (path.size() < at + 3 || path[at + 1] != L':' || path[at + 2] != L'\\')
        return false;
    const wchar_t drive = path[at];
    return (drive >= L'A' && drive <= L'Z') || (drive >= L'a' && drive <= L'z');
}

// The "\\?\" form of a full path, in which the wide functions take paths
// longer than MAX_PATH; paths that have it already, and device paths, stay.
std::wstring ExtendedForm(const std::wstring& full) {
    if (StartsWith(full, L"\\\\?\\") || StartsWith(full, L"\\\\.\\"))
        return full;
    if (StartsWith(full, L"\\\\"))
        return L"\\\\?\\UNC\\" + full.substr(2);
    return L"\\\\?\\" + full;
}

// Back from the "\\?\" form, for drive and network paths only: anything else
// there (a volume's name) means nothing without it.
std::wstring PlainForm(const std::wstring& path) {
    if (StartsWith(path, L"\\\\?\\UNC\\"))
        return L"\\\\" + path.substr(8);
    if (StartsWith(path, L"\\\\?\\") && IsDrivePath(path, 4))
        return path.substr(4);
    return path;
}

std::wstring FullPath(const std::wstring& path) {
    const DWORD needed = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (needed == 0)
        return path;
    std::vector<wchar_t> buffer(needed);
    const DWORD length = GetFullPathNameW(path.c_str(), needed, buffer.data(), nullptr);
    if (length == 0 || length >= needed)
        return path;
    return std::wstring(buffer.data(), length);
}

// Empty when the file has no short path (it does not exist, say).
std::wstring ShortPath(const std::wstring& full) {
    const std::wstring extended = ExtendedForm(full);
    const DWORD needed = GetShortPathNameW(extended.c_str(), nullptr, 0);
    if (needed == 0)
        return std::wstring();
    std::vector<wchar_t> buffer(needed);
    const DWORD length = GetShortPathNameW(extended.c_str(), buffer.data(), needed);
    if (length == 0 || length >= needed)
        return std::wstring();
    return PlainForm(std::wstring(buffer.data(), length));
}

} // namespace

bool ToCodePage(const std::wstring& text, UINT codePage, std::string& converted) {
    converted.clear();
    if (text.empty())
        return true;
    const int wideLength = static_cast<int>(text.size());
    // No best fit: a character the code page lacks must not turn into a
    // look-alike that names another file.
    const DWORD flags = codePage == CP_UTF8 ? 0 : WC_NO_BEST_FIT_CHARS;
    const int length =
        WideCharToMultiByte(codePage, flags, text.data(), wideLength, nullptr, 0, nullptr, nullptr);
    if (length <= 0)
        return false;
    std::string bytes(static_cast<size_t>(length), '\0');
    WideCharToMultiByte(codePage, flags, text.data(), wideLength, &bytes[0], length, nullptr,
                        nullptr);
    // The way back shows every loss, in every code page.
    const int backLength = MultiByteToWideChar(codePage, 0, bytes.data(), length, nullptr, 0);
    std::wstring back(static_cast<size_t>(backLength > 0 ? backLength : 0), L'\0');
    if (backLength > 0)
        MultiByteToWideChar(codePage, 0, bytes.data(), length, &back[0], backLength);
    if (back != text)
        return false;
    converted = bytes;
    return true;
}

AnsiFileName ChooseAnsiFileName(const std::wstring& given, const std::wstring& full,
                                const std::wstring& shortPath, UINT codePage) {
    AnsiFileName result;
    std::string converted;
    const auto usable = [&](const std::wstring& path) {
        return !path.empty() && ToCodePage(path, codePage, converted) && Fits(path, converted);
    };
    // A relative name is resolved against the working folder wide, so only
    // the length of its full path matters, not that path's characters.
    if ((full.size() < MAX_PATH && usable(given)) || usable(full) || usable(shortPath)) {
        result.name = converted;
        return result;
    }
    const std::wstring& best = shortPath.empty() ? full : shortPath;
    result.strange = !ToCodePage(best, codePage, converted);
    result.tooLong = best.size() >= MAX_PATH || converted.size() >= kFileNameSize;
    return result;
}

AnsiFileName AnsiFileNameOf(const std::wstring& path) {
    const std::wstring full = FullPath(path);
    // The code page itself rather than CP_ACP: where the ANSI code page is
    // UTF-8 the conversion takes no flags.
    const UINT codePage = GetACP();
    AnsiFileName chosen = ChooseAnsiFileName(path, full, std::wstring(), codePage);
    if (chosen.Usable())
        return chosen;
    return ChooseAnsiFileName(path, full, ShortPath(full), codePage);
}
