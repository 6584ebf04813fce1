// kestrane-cli-docs: writes the manual page and the bash completion script of
// kestrane-cli, both made from its command table, at build time.
//
//   kestrane-cli-docs [--man FILE] [--completion FILE] [--date DATE]
//                     [--example-update PATH]
//
// --date goes into the page's footer; --example-update is where the example
// update is installed, for the page's FILES and EXAMPLES sections. Each file
// is written whole or not at all: beside its place first, then renamed.
#include "completion.h"
#include "manpage.h"

#include <cstdio>
#include <fstream>
#include <functional>
#include <iostream>
#include <string>

namespace {

bool WriteWhole(const std::string& path, const std::function<void(std::ostream&)>& write) {
    const std::string temporary = path + ".tmp";
    {
        std::ofstream out(temporary, std::ios::binary);
        write(out);
        out.flush();
        if (!out) {
            std::cerr << "kestrane-cli-docs: cannot write " << temporary << "\n";
            std::remove(temporary.c_str());
            return false;
        }
    }
    if (std::rename(temporary.c_str(), path.c_str()) != 0) {
        std::cerr << "kestrane-cli-docs: cannot rename " << temporary << " to " << path << "\n";
        std::remove(temporary.c_str());
        return false;
    }
    return true;
}

int Usage() {
    std::cerr << "Usage: kestrane-cli-docs [--man FILE] [--completion FILE] [--date DATE]\n"
                 "                         [--example-update PATH]\n";
    return 64;
}

} // namespace

int main(int argc, char** argv) {
    std::string manPath;
    std::string completionPath;
    ManPageSettings settings;
    for (int index = 1; index < argc; ++index) {
        const std::string option = argv[index];
        if (index + 1 >= argc)
            return Usage();
        const std::string value = argv[++index];
        if (option == "--man")
            manPath = value;
        else if (option == "--completion")
            completionPath = value;
        else if (option == "--date")
            settings.date = value;
        else if (option == "--example-update")
            settings.exampleUpdate = value;
        else
            return Usage();
    }
    if (manPath.empty() && completionPath.empty())
        return Usage();

    bool written = true;
    if (!manPath.empty())
        written =
            WriteWhole(manPath, [&settings](std::ostream& out) { WriteManPage(out, settings); }) &&
            written;
    if (!completionPath.empty())
        written = WriteWhole(completionPath, WriteBashCompletion) && written;
    return written ? 0 : 1;
}
