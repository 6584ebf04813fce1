// The file names that reach the program at start-up: the command line's
// argument and the first update file of the working directory.
#pragma once

#include "appstate.h"

#include <string>

// The path given on the command line (the text after the program name):
// surrounding white space is dropped, then the double quotes around it when
// it is quoted. Windows quotes a path only when it holds a space, so
// "C:\dir\a b.upd" and abc.upd both arrive whole.
std::wstring UnquoteCommandLine(const wchar_t* commandLine);

// The text after the program's name in a whole command line
// (GetCommandLineW), as WinMain's command line has it: the name ends at the
// first blank outside double quotes, and the blanks after it go too.
std::wstring CommandLineArguments(const wchar_t* commandLine);

// Copies `name` into a file-name buffer, cut to fit, always terminated.
void CopyFileName(char (&target)[kFileNameSize], const std::string& name);

// The first name FindFirstFileW reports for `pattern` ("*.upd" in the
// working directory at start-up), or an empty text when nothing matches.
// The wide name: the ANSI one has '?' for characters the code page lacks.
std::wstring FindFirstFileName(const wchar_t* pattern);
