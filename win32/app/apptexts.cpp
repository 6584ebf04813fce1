#include "apptexts.h"

namespace {

const char kAppVersion[] = "1.13";
const char kReleaseTag[] = "beta";

} // namespace

std::string UnusablePathText(bool tooLong, bool strangeCharacters) {
    if (tooLong && strangeCharacters)
        return "The path of the update file is too long for this program and contains characters "
               "it cannot handle, and Windows has no short name for it. Move the file to a short "
               "path made of plain letters and digits (for example C:\\Updates\\update.upd) and "
               "open it from there.";
    if (strangeCharacters)
        return "The path of the update file contains characters this program cannot handle "
               "(characters outside the system's code page), and Windows has no short name for "
               "it. Move or rename the file so that its folders and name use plain letters and "
               "digits only, and open it from there.";
    return "The path of the update file is too long for this program (it takes at most 259 "
           "characters), and Windows has no short name for it that fits. Move the file to a "
           "folder with a shorter path, or give it a shorter name, and open it from there.";
}

std::string AboutText(const char* caption, const char* copyright) {
    return BoundedText(128, "%s\nVersion %s (%s)\n\n%s", caption, kAppVersion, kReleaseTag,
                       copyright);
}

int NextIndeterminatePos(int position) {
    position += 3;
    return position > 100 ? 0 : position;
}
