// The output of the pack command, replaced only once the new update file is
// complete: the file is written beside the one the output names and renamed
// over it at the end, so that on any failure the output is left as it was
// and no temporary file stays behind.
#pragma once

#include <filesystem>
#include <fstream>
#include <ostream>
#include <string>

class PackOutput {
public:
    // Finds the file that the output names, with symbolic links followed: it
    // is that file that gets replaced, so that the links still lead to the
    // update. Only a regular file or a name that does not exist yet (perhaps
    // a link's missing target) is written; anything else is refused here,
    // before anything is touched. Throws UpdateWriteError (PackError).
    explicit PackOutput(std::string outputPath);
    // Removes the temporary file unless Commit has renamed it.
    ~PackOutput();
    PackOutput(const PackOutput&) = delete;
    PackOutput& operator=(const PackOutput&) = delete;

    // Creates the temporary file beside the target and gives the stream to
    // write the update into. A replaced file's mode is taken before any byte
    // is written (a file kept private stays private), and its owner and
    // group where the system allows. Throws UpdateWriteError (PackError).
    std::ostream& Create();

    // Closes the temporary file and renames it over the target. Throws
    // UpdateWriteError (PackError).
    void Commit();

private:
    std::string outputPath;
    bool replacing = false; // whether there is a file to replace; set as target is found
    std::filesystem::path target;
    std::filesystem::path temporaryPath; // empty until Create
    std::ofstream file;
    bool committed = false;
};
