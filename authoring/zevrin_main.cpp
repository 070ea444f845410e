// zevrin: the host-side tool for Zevrin Setup packages.
//
// Exit status: 0 done, 1 the work failed (bad input, I/O), 2 usage error.
// Output files are written only once the result is complete, so a failed
// run leaves an existing OUT as it was.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <stdexcept>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include <libdeflate.h>

#include "../stub/decode/decoder.h"
#include "encoder.h"
#include "platform.h"

namespace zevrin {
// cmd_inspect.cpp: they report their own errors and return the exit status.
int RunList(const std::vector<std::string>& args);
int RunVerify(const std::vector<std::string>& args);
int RunExtract(const std::vector<std::string>& args);
// cmd_build.cpp: the same convention.
int RunBuild(const std::vector<std::string>& args);
} // namespace zevrin

using namespace zevrin;

namespace {

const char* const Program = "zevrin";
const char* const Version = "1.0";
// Balances size against time on inputs of tens of MB.
const int DefaultLevel = 9;

struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};
struct Failure : std::runtime_error {
    using std::runtime_error::runtime_error;
};

typedef std::vector<std::string> Args;

std::string Quoted(const std::string& path)
{
    return path == "-" ? std::string("standard input/output") : "'" + path + "'";
}

std::vector<uint8_t> ReadAll(const std::string& path)
{
    FILE* file = path == "-" ? stdin : std::fopen(path.c_str(), "rb");
    if (!file)
        throw Failure("cannot open " + Quoted(path) + ": " + std::strerror(errno));
    std::vector<uint8_t> data;
    uint8_t chunk[1 << 16];
    size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0)
        data.insert(data.end(), chunk, chunk + got);
    bool failed = std::ferror(file) != 0;
    int error = errno;
    if (file != stdin)
        std::fclose(file);
    if (failed)
        throw Failure("cannot read " + Quoted(path) + ": " + std::strerror(error));
    return data;
}

void WriteFully(FILE* file, const std::vector<uint8_t>& data, const std::string& shown)
{
    if ((!data.empty() && std::fwrite(data.data(), 1, data.size(), file) != data.size()) ||
        std::fflush(file) != 0)
        throw Failure("cannot write " + shown + ": " + std::strerror(errno));
}

// A regular file (or a new one) is written beside its final name and
// renamed over it, so a failed write never leaves half an OUT. Devices,
// pipes and symbolic links are written in place: renaming over them would
// replace the node or the link.
void WriteAll(const std::string& path, const std::vector<uint8_t>& data)
{
    if (path == "-") {
        WriteFully(stdout, data, Quoted(path));
        return;
    }
    struct stat info;
    bool exists = ::lstat(path.c_str(), &info) == 0;
    if (exists && !S_ISREG(info.st_mode)) {
        FILE* file = std::fopen(path.c_str(), "wb");
        if (!file)
            throw Failure("cannot open " + Quoted(path) + ": " + std::strerror(errno));
        try {
            WriteFully(file, data, Quoted(path));
        } catch (...) {
            std::fclose(file);
            throw;
        }
        std::fclose(file);
        return;
    }

    std::string temporary = path + ".XXXXXX";
    int fd = ::mkstemp(&temporary[0]);
    if (fd < 0)
        throw Failure("cannot create a file beside " + Quoted(path) + ": " + std::strerror(errno));
    FILE* file = ::fdopen(fd, "wb");
    try {
        if (!file) {
            ::close(fd);
            throw Failure("cannot write " + Quoted(path) + ": " + std::strerror(errno));
        }
        WriteFully(file, data, Quoted(path));
        if (std::fclose(file) != 0) {
            file = nullptr;
            throw Failure("cannot write " + Quoted(path) + ": " + std::strerror(errno));
        }
        file = nullptr;
        // mkstemp makes the file 0600; give it what a plain create would.
        mode_t mask = ::umask(0);
        ::umask(mask);
        ::chmod(temporary.c_str(), exists ? (info.st_mode & 07777) : (0666 & ~mask));
        if (!RenameOver(temporary.c_str(), path.c_str()))
            throw Failure("cannot write " + Quoted(path) + ": " + std::strerror(errno));
    } catch (...) {
        if (file)
            std::fclose(file);
        std::remove(temporary.c_str());
        throw;
    }
}

// --------------------------------------------------------------- encode

int RunEncode(const Args& args)
{
    int level = DefaultLevel;
    Args paths;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg.compare(0, 2, "-l") == 0) {
            std::string value = arg.size() > 2 ? arg.substr(2) : "";
            if (value.empty()) {
                if (++i == args.size())
                    throw UsageError("-l needs a level");
                value = args[i];
            }
            char* end = nullptr;
            long parsed = std::strtol(value.c_str(), &end, 10);
            if (value.empty() || *end || parsed < 0 || parsed > MaxEncodeLevel)
                throw UsageError("level '" + value + "' is not a number from 0 to " +
                                 std::to_string(MaxEncodeLevel));
            level = static_cast<int>(parsed);
        } else if (arg.size() > 1 && arg[0] == '-') {
            throw UsageError("unknown option '" + arg + "'");
        } else {
            paths.push_back(arg);
        }
    }
    if (paths.size() != 2)
        throw UsageError("encode takes IN and OUT");

    std::vector<uint8_t> input = ReadAll(paths[0]);
    std::vector<uint8_t> stream;
    try {
        stream = EncodeStream(input.data(), input.size(), level);
    } catch (const std::length_error& e) {
        throw Failure(e.what());
    }
    WriteAll(paths[1], stream);
    return 0;
}

// --------------------------------------------------------------- decode

// Collects the output of a bare stream, whose size is not stored anywhere.
class VectorSink : public OutputSink {
public:
    bool IsReady() const override { return true; }
    int Write(const uint8_t* data, uint16_t length) override
    {
        // Files in a package are 32-bit sized; a stream that expands past
        // that is damaged or hostile, and is not worth the memory.
        if (bytes.size() + length > UINT32_MAX) {
            tooLarge = true;
            return 1;
        }
        bytes.insert(bytes.end(), data, data + length);
        return 0;
    }

    std::vector<uint8_t> bytes;
    bool tooLarge = false;
};

const char* DecodeProblem(int result)
{
    switch (result) {
    case DecodeBadData: return "bad data (invalid code or truncated stream)";
    case DecodeBadBlock: return "bad block (unknown block kind or over-subscribed code)";
    case DecodeOutOfMemory: return "out of memory";
    default: return "decoder failed";
    }
}

int RunDecode(const Args& args)
{
    for (const std::string& arg : args)
        if (arg.size() > 1 && arg[0] == '-')
            throw UsageError("unknown option '" + arg + "'");
    if (args.size() != 2)
        throw UsageError("decode takes IN and OUT");

    std::vector<uint8_t> input = ReadAll(args[0]);
    if (input.size() > UINT32_MAX)
        throw Failure("input is 4 GiB or more, larger than any stream");
    if (input.empty())
        throw Failure("empty input (a stream is at least 2 bytes)");

    VectorSink sink;
    uint32_t left;
    int result;
    {
        StreamDecoder decoder;
        decoder.OpenMemorySource(input.data(), static_cast<uint32_t>(input.size()));
        decoder.sink = &sink;
        result = decoder.Decode();
        decoder.sink = nullptr;
        left = decoder.available;
    }
    if (sink.tooLarge)
        throw Failure("output passes 4 GiB (damaged stream?)");
    if (result != DecodeOk)
        throw Failure(DecodeProblem(result));
    if (left != 0)
        throw Failure(std::to_string(left) + " bytes after the end of the stream");
    WriteAll(args[1], sink.bytes);
    return 0;
}

// ------------------------------------------------------------- commands

struct Command {
    const char* name;
    const char* arguments;
    const char* summary;
    int (*run)(const Args& args);
};

const Command Commands[] = {
    {"encode", "[-l LEVEL] IN OUT",
     "compress IN into one stream; LEVEL 0 stores, 1-12 compress (default 9)", RunEncode},
    {"decode", "IN OUT", "expand the one stream in IN", RunDecode},
    {"build", "MANIFEST [-o OUT] [--stub STUB] [--level N] [--volume-size BYTES] [-I DIR]... [-q|-v] [-WX]",
     "make a setup program (default OUT: SETUP.EXE) from a manifest; with --volume-size\n"
     "      no file is larger than BYTES and the data continues in OUT's .D01, .D02, ...;\n"
     "      files the manifest names are looked for beside it, then in each DIR",
     RunBuild},
    {"list", "SETUP.EXE",
     "show the header and the file table of a setup program (file data cut short is reported)", RunList},
    {"verify", "SETUP.EXE",
     "unpack every file (across SETUP.D01, ...) and check its size and checksum", RunVerify},
    {"extract", "SETUP.EXE -d DIR",
     "unpack every file below DIR without installing; Windows-folder, system and font\n"
     "      files go to DIR/@windows, DIR/@system, DIR/@fonts; external files are skipped;\n"
     "      a damaged file is reported and not written, the others are (exit status 1)",
     RunExtract},
};

void PrintUsage(FILE* to)
{
    std::fprintf(to, "usage:\n");
    for (const Command& command : Commands)
        std::fprintf(to, "  %s %s %s\n      %s\n", Program, command.name, command.arguments,
                     command.summary);
    std::fprintf(to, "IN or OUT '-' is standard input or output (build: -o -).\n"
                     "%s build --help lists build's options; %s --version gives the version.\n", Program, Program);
}

const Command* FindCommand(const std::string& name)
{
    for (const Command& command : Commands)
        if (name == command.name)
            return &command;
    return nullptr;
}

} // namespace

int main(int argc, char** argv)
{
#ifdef _WIN32
    // The tool splits paths at '/', which Windows takes as well; only paths
    // hold a backslash among the arguments.
    for (int i = 1; i < argc; ++i)
        for (char* c = argv[i]; *c; ++c)
            if (*c == '\\')
                *c = '/';
#endif
    if (argc < 2) {
        std::fprintf(stderr, "%s: no command\n", Program);
        PrintUsage(stderr);
        return 2;
    }
    std::string name = argv[1];
    if (name == "-h" || name == "--help" || name == "help") {
        PrintUsage(stdout);
        return 0;
    }
    if (name == "--version" || name == "version") {
        std::printf("%s %s (Zevrin Setup authoring tool; libdeflate %s)\n", Program, Version,
                    LIBDEFLATE_VERSION_STRING);
        return 0;
    }
    const Command* command = FindCommand(name);
    if (!command) {
        std::fprintf(stderr, "%s: unknown command '%s'\n", Program, name.c_str());
        PrintUsage(stderr);
        return 2;
    }

    try {
        return command->run(Args(argv + 2, argv + argc));
    } catch (const UsageError& e) {
        std::fprintf(stderr, "%s: %s: %s\nusage: %s %s %s\n", Program, command->name, e.what(),
                     Program, command->name, command->arguments);
        return 2;
    } catch (const Failure& e) {
        std::fprintf(stderr, "%s: %s: %s\n", Program, command->name, e.what());
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "%s: %s: out of memory\n", Program, command->name);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s: %s: %s\n", Program, command->name, e.what());
    }
    return 1;
}
