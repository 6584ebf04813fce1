// Test helper: writes each of its arguments to standard output, each followed
// by a NUL byte (which no argument holds and no text mode changes), writes
// "err" to standard error, and exits with the number of its arguments.
#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
    for (int index = 1; index < argc; ++index)
        std::fwrite(argv[index], 1, std::strlen(argv[index]) + 1, stdout);
    std::fputs("err", stderr);
    return argc - 1;
}
