// The table of commands, and the help command that shows it.
#include "commandtable.h"

#include "help.h"
#include "info.h"
#include "midibackend.h"
#include "pack.h"
#include "send.h"
#include "sim.h"

#include <algorithm>

namespace {

const char* const kInfoDetails =
    "FILE may be an update file or a plain SysEx file; the kind is told by\n"
    "the content, not by the name. Without --json the output is meant for a\n"
    "person. With --json it is one JSON object with the keys kind, productName,\n"
    "message, version, versionKnown, headerValues, portSettings (names, ideal,\n"
    "max, delay, unprepdelay, chunks), macPortNames, imageSize, portions (size,\n"
    "delay) and totalSysExSize. Texts are stored as 8-bit bytes; in JSON each\n"
    "byte becomes the character with the same number (U+0000 to U+00FF).\n"
    "Without --json, control bytes in the texts (C0, DEL and 0x80 to 0x9F) are\n"
    "shown as \\x and two hex digits, so that they cannot act on the terminal;\n"
    "line breaks in the message stay line breaks.\n"
    "\n"
    "FILE may be a pipe, such as /dev/stdin; it is then read whole first.\n"
    "A file that cannot be opened or does not load ends with exit status 1 and\n"
    "the reason on standard error; with --json, standard output then holds\n"
    "{\"error\": REASON}.\n";

const char* const kPackDetails =
    "Writes a format-4 update file that sends the given SysEx files as its\n"
    "portions, in the order given. PORTION:DELAY_MS sets the pause, in\n"
    "milliseconds, that the device needs after that portion (0 when left out).\n"
    "The text after the last ':' counts as the delay only when it is all\n"
    "digits, so Windows paths such as C:\\fw\\part1.syx:500 work.\n"
    "\n"
    "--version takes MAJOR.MINOR, two whole numbers from 0 to 65535, stored as\n"
    "they are and shown as MAJOR.MINOR with at least two minor digits: 1.05\n"
    "and 1.5 both mean major 1, minor 5 (shown 1.05); write 1.50 for minor 50.\n"
    "A single number means .00 (2 is 2.00). Without --version the update's\n"
    "version is 0.00, which means not known.\n"
    "\n"
    "The message is stored as given; a backslash followed by n in it reads as\n"
    "a line break, and the message <sysex> reads as the standard instructions\n"
    "for installing an update.\n"
    "\n"
    "--settings texts have the form win:ANY:key:value:... with the keys name\n"
    "(port names separated by $), ideal, max, delay, unprepdelay and chunks;\n"
    "texts for other platforms are kept but not used here. --mac-names takes\n"
    "port names for the other platform, separated by $. Where no port name\n"
    "is given, for this platform or the other, the product name is used.\n"
    "\n"
    "The update is written to a temporary file beside OUT and renamed over it\n"
    "only when complete; on any failure OUT is left as it was. OUT must be a\n"
    "regular file or a new name: a folder, device, FIFO or socket is refused.\n"
    "A symbolic link is followed and the file it leads to is replaced (the\n"
    "temporary file goes beside that file). A replaced file keeps its mode,\n"
    "and its owner and group where the system allows. A file with other hard\n"
    "links is replaced by a new file: the other names keep the old content.\n"
    "\n"
    "A portion or picture may hold at most 4294967295 bytes; a larger one is\n"
    "refused by its size, or, read from a device or pipe, as soon as it passes\n"
    "that size.\n";

const char* const kSendDetails =
    "Sends the update portion by portion, as the Windows application does: it\n"
    "waits for the device's port, sends each portion in paced chunks, waits for\n"
    "the device's status answer and rest time, and at the end tells whether the\n"
    "device took the update, if need be after asking it for its firmware version.\n"
    "\n"
    "Without --device the update goes to a real MIDI device (Windows builds,\n"
    "and builds with RtMidi: ALSA or JACK on Linux, CoreMIDI on macOS, picked\n"
    "with --api): its output and input are found by the update's port names,\n"
    "or by the one name --port gives ('kestrane-cli ports' lists them; a\n"
    "leading \"2- \" in a device's name is ignored, and a name matches when it\n"
    "contains the port name). A plain SysEx file names no port, so it needs\n"
    "--port. The tool waits for the device to appear. On Windows a device's\n"
    "answer to the firmware version question is not read, so a device that\n"
    "stays silent after the last portion ends with the 'please check your\n"
    "device' text; through RtMidi it is asked and read. RtMidi sends pace\n"
    "every message at the speed of a MIDI cable (31250 baud).\n"
    "--device sim sends to the emulated device instead.\n"
    "\n"
    "SCRIPT says how the emulated device answers each portion, as a comma-\n"
    "separated list of accept, fail, silent and installN (N answers of 'still\n"
    "installing', about a second apart, then accept); the last word holds for\n"
    "the portions after it. The device is named \"Kestrane Virtual Device\"\n"
    "unless --sim-name says otherwise; its name must match one of the update's\n"
    "port names. It reports the firmware version of --sim-version (1.00 unless\n"
    "given) when asked.\n"
    "\n"
    "--virtual-time runs every wait in simulated time and prints how long the\n"
    "run would have taken. The message the user must acknowledge between\n"
    "portions waits for Enter, unless --yes is given.\n"
    "\n"
    "Exit status: 0 when the device took the update; 2 when it reported an\n"
    "error, or runs another version than the update's; 3 when the update was\n"
    "sent but the device did not confirm it; 1 for a file error; 64 for a\n"
    "mistake on the command line.\n";

#ifdef KESTRANE_HAVE_RTMIDI
const char* const kApiHelp = "alsa (the default) or jack; coremidi on macOS";

const char* const kPortsDetails =
    "Lists every MIDI output and input of the MIDI system (--api), exactly as\n"
    "it names them: \"client:port\" on JACK, \"client:port 20:0\" on ALSA. A\n"
    "device's input, where an update is sent, is listed among the outputs,\n"
    "and its output among the inputs. Ports that kestrane-cli opens while it\n"
    "sends are named \"kestrane PID out\" and \"kestrane PID in\" and are never\n"
    "taken for a device's.\n"
    "\n"
    "Without a MIDI system to reach (no ALSA sequencer, no JACK server) it\n"
    "says so and ends with exit status 1.\n";

const char* const kSimDetails =
    "Runs the emulated device that expects FILE as a device of the MIDI\n"
    "system: a virtual MIDI input and output, both named NAME (\"Kestrane\n"
    "Virtual Device\" unless --sim-name says otherwise), until it is stopped\n"
    "with Ctrl+C or SIGTERM. Other programs, or 'kestrane-cli send FILE' with\n"
    "the same --api in another terminal, can then update it. It checks every\n"
    "byte against what the sender's rules make of FILE, answers each\n"
    "portion as SCRIPT says (see 'kestrane-cli help send'), and answers the\n"
    "identity request with --sim-version (1.00 unless given). When it stops\n"
    "it tells what it received of each portion; with --sim-record every byte\n"
    "it received is in FILE as well.\n"
    "\n"
    "Like a MIDI device it reads a byte stream: it does not matter how the\n"
    "MIDI system cut the bytes into events. It ignores clock, active sensing\n"
    "and other real-time bytes wherever they come, and notes and other\n"
    "messages that are not SysEx. A SysEx message cut off before its end (a\n"
    "sender that went away in the middle of it) makes it start that portion\n"
    "over at the next F0. It keeps at most 64 MiB of what it receives in\n"
    "memory (the record file gets everything) and says so when it stops.\n"
    "\n"
    "--sim-whole-blocks judges every delivery of the MIDI system as one\n"
    "block instead, which must be exactly the next block of the update. Some\n"
    "devices need each SysEx block in one delivery: firmware that assumed so\n"
    "has stayed in its boot loader behind MIDI stacks that deliver a block\n"
    "in pieces. Use it to rehearse an update for such a device.\n"
    "\n"
    "On JACK its output and input are two clients, \"NAME:NAME\" (the output)\n"
    "and \"NAME-01:NAME\" or the like (the input).\n"
    "\n"
    "Exit status: 0 when stopped; 1 for a file error, when the MIDI system\n"
    "cannot be reached, or when it goes away while the device runs (the\n"
    "JACK server stopped); 64 for a mistake on the command line.\n";
#else
const char* const kPortsDetails =
    "Lists every MIDI output and input with its device number, exactly as the\n"
    "system names them. The system's own synthesizer and mapper are listed\n"
    "too, marked as never matched: no update is ever sent to them.\n";
#endif

} // namespace

const std::vector<CommandInfo>& Commands() {
    static const std::vector<CommandInfo> commands = {
        {"info",
         "[--json] FILE",
         "Show what an update file or a plain SysEx file holds.",
         {{"--json", nullptr, nullptr, false, false, "print one JSON object instead of text"}},
         1,
         1,
         kInfoDetails,
         RunInfo},
        {"pack",
         "-o OUT --product NAME [OPTIONS] PORTION[:DELAY_MS]...",
         "Write an update file from SysEx files.",
         {{"--output", "-o", "OUT", true, false, "the update file to write"},
          {"--product", nullptr, "NAME", true, false, "product name (the default port name)"},
          {"--version", nullptr, "MAJOR.MINOR", false, false,
           "firmware version that the update installs"},
          {"--message", nullptr, "TEXT", false, false, "message shown before the update starts"},
          {"--settings", nullptr, "TEXT", false, true, "a port settings text (repeatable)"},
          {"--mac-names", nullptr, "TEXT", false, true,
           "port names for the other platform (repeatable)"},
          {"--image", nullptr, "FILE.png", false, false, "picture shown during the update"},
          {"--header-values", nullptr, "A,B,C", false, false,
           "the three 16-bit header values (default 0,0,0)"}},
         1,
         kAnyOperandCount,
         kPackDetails,
         RunPack},
        {"send",
         "FILE [--port NAME | --device sim] [OPTIONS]",
         "Send an update to a device and tell whether it took it.",
         {
             {"--port", nullptr, "NAME", false, false,
              "the MIDI port of the device, in place of the update's port names"},
             {"--device", nullptr, "NAME", false, false,
              "the device to update: sim, the emulated one"},
             {"--sim", nullptr, "SCRIPT", false, false,
              "how the emulated device answers each portion (default accept)"},
             {"--sim-name", nullptr, "NAME", false, false, "the emulated device's port name"},
             {"--sim-version", nullptr, "X.YZ", false, false,
              "firmware version the emulated device reports"},
             {"--sim-no-identity", nullptr, nullptr, false, false,
              "the emulated device does not answer the identity request"},
             {"--sim-appear", nullptr, "MS", false, false,
              "the emulated device is plugged in only after MS milliseconds (up to 24 h)"},
             {"--sim-unplug", nullptr, "PORTION:BYTES:MS", false, false,
              "unplug it after BYTES of PORTION (from 1; BYTES on the wire, framing included), "
              "back "
              "after MS (up to 24 h)"},
             {"--sim-record", nullptr, "FILE", false, false,
              "write every byte the emulated device receives to FILE"},
             {"--sim-whole-blocks", nullptr, nullptr, false, false,
              "the emulated device needs each block in one delivery, exactly as the "
              "update cuts it (as some devices' boot loaders do)"},
             {"--virtual-time", nullptr, nullptr, false, false, "run every wait in simulated time"},
             {"--yes", nullptr, nullptr, false, false,
              "go on at once where the user must acknowledge a message"},
#ifdef KESTRANE_HAVE_RTMIDI
             {"--api", nullptr, "API", false, false, kApiHelp},
#endif
         },
         1,
         1,
         kSendDetails,
         RunSend},
        {"ports",
#ifdef KESTRANE_HAVE_RTMIDI
         "[--api API]",
#else
         "",
#endif
         "List the MIDI outputs and inputs, as the system names them.",
         {
#ifdef KESTRANE_HAVE_RTMIDI
             {"--api", nullptr, "API", false, false, kApiHelp},
#endif
         },
         0,
         0,
         kPortsDetails,
         RunPorts},
#ifdef KESTRANE_HAVE_RTMIDI
        {"sim",
         "FILE [--api API] [--sim-name NAME] [OPTIONS]",
         "Run the emulated device as a MIDI device until it is stopped.",
         {{"--api", nullptr, "API", false, false, kApiHelp},
          {"--sim-name", nullptr, "NAME", false, false, "the name of its MIDI input and output"},
          {"--sim", nullptr, "SCRIPT", false, false,
           "how it answers each portion (default accept)"},
          {"--sim-version", nullptr, "X.YZ", false, false, "firmware version it reports"},
          {"--sim-no-identity", nullptr, nullptr, false, false,
           "it does not answer the identity request"},
          {"--sim-record", nullptr, "FILE", false, false, "write every byte it receives to FILE"},
          {"--sim-whole-blocks", nullptr, nullptr, false, false,
           "judge each delivery as one block that must be exactly the update's next one, for "
           "devices whose boot loader needs each block in one delivery"}},
         1,
         1,
         kSimDetails,
         RunSim},
#endif
        {"help",
         "[COMMAND]",
         "Show the help of the tool or of one command.",
         {},
         0,
         1,
         nullptr,
         RunHelp},
    };
    return commands;
}

const CommandInfo* FindCommand(const std::string& name) {
    const std::vector<CommandInfo>& commands = Commands();
    auto found = std::find_if(commands.begin(), commands.end(),
                              [&name](const CommandInfo& command) { return name == command.name; });
    return found == commands.end() ? nullptr : &*found;
}

int RunHelp(const CommandArguments& args, std::ostream& out, std::ostream&) {
    if (args.Operands().empty()) {
        PrintToolHelp(Commands(), out);
        return kExitOk;
    }
    const CommandInfo* command = FindCommand(args.Operands().front());
    if (command == nullptr)
        throw UsageError("unknown command '" + args.Operands().front() + "'");
    PrintCommandHelp(*command, out);
    return kExitOk;
}
