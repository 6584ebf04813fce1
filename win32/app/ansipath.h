// The names under which the program opens its files. Kestrane.exe opens
// files through the ANSI functions and keeps a file's name in a MAX_PATH
// buffer, but a file reaches it as a wide path, which can be longer than
// that or hold characters the ANSI code page lacks (Japanese folder names on
// a Western system). Such a file is opened through its short (8.3) name when
// the system has one that fits; otherwise the path cannot be used, and the
// caller says so instead of trying to read the file.
#pragma once

#include <string>

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

struct AnsiFileName {
    std::string name;     // what the ANSI functions open; empty when nothing fits
    bool tooLong = false; // no name of the file fits the buffer
    bool strange = false; // no name of the file is free of characters the code page lacks

    bool Usable() const { return !tooLong && !strange; }
};

// `text` in `codePage`, when every character converts and converts back to
// itself (no '?' and no look-alike in its place).
bool ToCodePage(const std::wstring& text, UINT codePage, std::string& converted);

// The choice for one file, from what the system says about it: `given`, the
// path as it arrived; `full`, its full path; `shortPath`, the short form of
// the full path, or empty when the system has none. The first one that
// converts exactly and fits a file-name buffer wins: the given path (when
// its full path, which the system resolves it to, fits too), the full path,
// the short path. Otherwise the name stays empty and the flags tell what is
// wrong with the short path, or with the full path when there is none.
AnsiFileName ChooseAnsiFileName(const std::wstring& given, const std::wstring& full,
                                const std::wstring& shortPath, UINT codePage);

// The same for a file on this system, in the ANSI code page. Paths of any
// length are looked at, with the "\\?\" form the system needs beyond
// MAX_PATH; the short path comes without it.
AnsiFileName AnsiFileNameOf(const std::wstring& path);
