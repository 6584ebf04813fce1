// kestrane-cli: installs firmware updates into MIDI devices by sending SysEx,
// and inspects and writes update files.
#include "cli.h"

#include <cerrno>
#include <cstdio>
#include <iostream>
#include <streambuf>
#include <string>
#include <vector>

namespace {

// Standard output that stays failed once a write has failed, with the reason
// of that first failure in errno on every later flush. The C library drops
// the bytes of a failed write, so a later flush of its own would succeed and
// the tool would miss that output was lost, or give a wrong reason.
class StandardOutputBuffer : public std::streambuf {
protected:
    int_type overflow(int_type ch) override {
        if (traits_type::eq_int_type(ch, traits_type::eof()))
            return traits_type::not_eof(ch);
        const char c = traits_type::to_char_type(ch);
        return Write(&c, 1) ? ch : traits_type::eof();
    }

    std::streamsize xsputn(const char* text, std::streamsize count) override {
        return Write(text, static_cast<size_t>(count)) ? count : 0;
    }

    int sync() override {
        if (!failed && std::fflush(stdout) != 0)
            Fail();
        return Failed() ? -1 : 0;
    }

private:
    bool Write(const char* text, size_t count) {
        if (!failed && std::fwrite(text, 1, count, stdout) != count)
            Fail();
        return !Failed();
    }

    void Fail() {
        failed = true;
        firstError = errno;
    }

    // Whether output was lost; if so, errno tells why again.
    bool Failed() const {
        if (failed)
            errno = firstError;
        return failed;
    }

    bool failed = false;
    int firstError = 0; // errno of the first failed write; 0 when the library gave none
};

} // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args;
    for (int index = 1; index < argc; ++index)
        args.emplace_back(argv[index]);
    StandardOutputBuffer output;
    std::streambuf* previous = std::cout.rdbuf(&output);
    const int status = RunCli(args, std::cout, std::cerr);
    std::cout.rdbuf(previous);
    return status;
}
