// The file names that reach the program at start-up: the command line's
// argument and the first update file of the working directory.
#pragma once

#include "appstate.h"

#include <string>

// The path given on the command line (the text after the program name):
// surrounding white space is dropped, then the double quotes around it when
// it is quoted. Windows quotes a path only when it holds a space, so
// "C:\dir\a b.upd" and abc.upd both arrive whole.
std::string UnquoteCommandLine(const char* commandLine);

// Copies `name` into a file-name buffer, cut to fit, always terminated.
void CopyFileName(char (&target)[kFileNameSize], const std::string& name);

// The first name FindFirstFileA reports for `pattern` ("*.upd" in the
// working directory at start-up), or an empty text when nothing matches.
std::string FindFirstFileName(const char* pattern);
