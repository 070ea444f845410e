// `zevrin build MANIFEST [-o SETUP.EXE] [--stub STUB] [--level N]
// [--volume-size BYTES] [-I DIR]...`: the manifest to an installer. -I
// names folders where files the manifest names are looked for when they
// are not beside it (programs built elsewhere).
//
// The stub is, in this order: --stub, the environment variable
// ZEVRIN_STUB, zevrin-stub.exe beside the running tool, the path compiled
// in as ZEVRIN_DEFAULT_STUB. The project's uninstaller ([uninstaller]
// without `program`) is found the same way: --uninstaller,
// ZEVRIN_UNINSTALLER, zevrin-uninstaller.exe, ZEVRIN_DEFAULT_UNINSTALLER.
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "encoder.h"
#include "manifest.h"
#include "package_writer.h"
#include "uninstaller_copy.h"
#include "../uninstaller/texts.h"
#include "platform.h"

namespace zevrin {

namespace {

const char* const Usage = "MANIFEST [-o OUT] [--stub STUB] [--uninstaller PROGRAM] [--level N] [--volume-size BYTES] [-I DIR]... [-D NAME=VALUE]... "
                          "[-q | -v] [--warnings-as-errors]";
const char* const Help =
    "Makes a setup program from a manifest (docs/manifest.md).\n"
    "\n"
    "  -o OUT               the setup program to write (default SETUP.EXE; '-': standard output);\n"
    "                       missing folders are made\n"
    "  --stub STUB          the installer program (default: $ZEVRIN_STUB, zevrin-stub.exe beside zevrin)\n"
    "  --uninstaller PROGRAM the uninstaller packed for [uninstaller] (default: $ZEVRIN_UNINSTALLER,\n"
    "                       zevrin-uninstaller.exe beside zevrin)\n"
    "  --level N            compression, 0 (store) to 12 (smallest); default 11\n"
    "  --volume-size SIZE   no file larger than SIZE bytes (K and M suffixes, or a medium: 720K,\n"
    "                       1.44M or floppy, 2.88M, zip100, cd650, cd700); the data goes on in\n"
    "                       OUT's .D01, .D02, ...\n"
    "  -I DIR               look for files the manifest names here when they are not beside it\n"
    "  -D NAME=VALUE        set ${NAME} for the manifest's strings (over its [define])\n"
    "  -q                   print only errors and warnings\n"
    "  -v                   also list every packed file with its sizes\n"
    "  --warnings-as-errors a warning fails the build, before anything is written (also -WX)\n"
    "\n"
    "Exit status: 0 built, 1 failed (nothing written), 2 usage error.\n"
    "\n"
    "The SETUP.EXE it makes installs unattended with /Q (no window at all) or /QP (progress only),\n"
    "into /DIR=\"FOLDER\", logging to /LOG=\"FILE\"; it exits 0 installed, 3010 installed (restart\n"
    "needed), 1602 cancelled, 1603 failed, 1618 another installation runs, -1 damaged package.\n"
    "Its uninstaller takes /Q and /LOG with the same codes.\n";
// The smallest packages whose build of 200 MB still beats makensis's
// (bench/build_memory.sh --makensis; docs/manifest.md has the figures).
const int DefaultBuildLevel = 11;

struct BuildUsageError {
    std::string message;
};

bool Exists(const std::string& path)
{
    struct stat info;
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

std::string ToolDir()
{
    std::string path = ExecutablePath();
    size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

// A program the build packs: the environment variable, then `beside` in
// the tool's folder, then the path compiled in (empty when none).
std::string FindProgram(const char* variable, const char* beside, const char* compiled)
{
    if (const char* env = std::getenv(variable))
        if (*env)
            return env;
    std::string dir = ToolDir();
    if (!dir.empty() && Exists(dir + "/" + beside))
        return dir + "/" + beside;
    return compiled;
}

#ifndef ZEVRIN_DEFAULT_STUB
#define ZEVRIN_DEFAULT_STUB ""
#endif
#ifndef ZEVRIN_DEFAULT_UNINSTALLER
#define ZEVRIN_DEFAULT_UNINSTALLER ""
#endif

std::string FindStub() { return FindProgram("ZEVRIN_STUB", "zevrin-stub.exe", ZEVRIN_DEFAULT_STUB); }

// The usual media, by name (1.44M is the 1440 KB floppy, as it is sold).
struct Medium {
    const char* name;
    uint64_t bytes;
};
const Medium Media[] = {
    {"720k", 720 * 1024},         {"1200k", 1200 * 1024},       {"1.44m", 1440 * 1024},
    {"floppy", 1440 * 1024},      {"2.88m", 2880 * 1024},       {"zip100", 96 * 1024 * 1024},
    {"cd650", 650ull << 20},      {"cd700", 700ull << 20},      {"cd", 700ull << 20},
};

// Digits with an optional K or M (powers of 1024), or a medium's name.
uint64_t ParseSize(const std::string& text)
{
    std::string lower;
    for (char c : text)
        lower.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
    for (const Medium& medium : Media)
        if (lower == medium.name)
            return medium.bytes;
    char* end = nullptr;
    errno = 0;
    unsigned long long value = std::strtoull(text.c_str(), &end, 10);
    uint64_t scale = 1;
    if (end && (*end == 'k' || *end == 'K'))
        scale = 1024, ++end;
    else if (end && (*end == 'm' || *end == 'M'))
        scale = 1024 * 1024, ++end;
    if (text.empty() || !std::isdigit(static_cast<unsigned char>(text[0])) || errno || !end || *end ||
        value == 0 || value > UINT32_MAX / scale)
        throw BuildUsageError{"volume size '" + text + "' is not a number of bytes from 1 to 4294967295 "
                              "(a K or M suffix counts 1024 or 1048576) nor a medium (720K, 1.44M or floppy, "
                              "2.88M, zip100, cd650, cd700)"};
    return value * scale;
}

int ParseLevel(const std::string& text)
{
    char* end = nullptr;
    long value = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end || value < 0 || value > MaxEncodeLevel)
        throw BuildUsageError{"level '" + text + "' is not a number from 0 to " + std::to_string(MaxEncodeLevel)};
    return static_cast<int>(value);
}

// Progress on a terminal only: one line, rewritten at most ten times a second.
class ProgressLine {
public:
    explicit ProgressLine(bool wanted) : active_(wanted && ::isatty(2) != 0) {}
    ~ProgressLine() { Clear(); }

    void Show(const std::string& what, uint64_t done, uint64_t total)
    {
        if (!active_)
            return;
        auto now = std::chrono::steady_clock::now();
        if (what == last_ && now - shown_ < std::chrono::milliseconds(100))
            return;
        last_ = what;
        shown_ = now;
        unsigned percent = total ? static_cast<unsigned>(done * 100 / total) : 100;
        std::string text = what.size() > 60 ? what.substr(0, 57) + "..." : what;
        std::fprintf(stderr, "\r\033[K%3u%% %s", percent, text.c_str());
        std::fflush(stderr);
        dirty_ = true;
    }
    void Clear()
    {
        if (dirty_) {
            std::fprintf(stderr, "\r\033[K");
            std::fflush(stderr);
            dirty_ = false;
        }
    }

private:
    bool active_;
    bool dirty_ = false;
    std::string last_;
    std::chrono::steady_clock::time_point shown_;
};

std::string Count(size_t n, const char* what)
{
    return std::to_string(n) + " " + what + (n == 1 ? "" : "s");
}

// `errors` holds one problem a line; several end with their count.
void PrintErrors(const std::string& errors)
{
    size_t count = 0;
    for (size_t start = 0; start <= errors.size(); ++count) {
        size_t end = errors.find('\n', start);
        if (end == std::string::npos)
            end = errors.size();
        std::fprintf(stderr, "zevrin: build: %s\n", errors.substr(start, end - start).c_str());
        start = end + 1;
    }
    if (count > 1)
        std::fprintf(stderr, "zevrin: build: %s: nothing written\n", Count(count, "error").c_str());
}

int Run(const std::vector<std::string>& args)
{
    BuildOptions options;
    options.level = DefaultBuildLevel;
    std::string manifestPath;
    std::string stub;
    std::string uninstaller;
    std::vector<std::string> searchDirs;
    int verbosity = 1; // 0 -q, 1 the summary, 2 -v: every file too
    std::map<std::string, std::string> defines;
    for (size_t i = 0; i < args.size(); ++i) {
        std::string arg = args[i];
        std::string value;
        bool hasValue = false;
        size_t equals = arg.find('=');
        if (arg.compare(0, 2, "--") == 0 && equals != std::string::npos) {
            value = arg.substr(equals + 1);
            arg = arg.substr(0, equals);
            hasValue = true;
        }
        auto take = [&](const char* name) {
            if (hasValue)
                return value;
            if (++i == args.size())
                throw BuildUsageError{std::string(name) + " needs a value"};
            return args[i];
        };
        if (arg == "-h" || arg == "--help") {
            std::printf("usage: zevrin build %s\n\n%s", Usage, Help);
            return 0;
        } else if (arg == "-q" || arg == "--quiet") {
            verbosity = 0;
        } else if (arg == "-v" || arg == "--verbose") {
            verbosity = 2;
        } else if (arg == "--warnings-as-errors" || arg == "-WX") {
            options.warningsAreErrors = true;
        } else if (arg == "-o" || arg == "--output") {
            options.output = take("-o");
        } else if (arg == "--stub") {
            stub = take("--stub");
        } else if (arg == "--uninstaller") {
            uninstaller = take("--uninstaller");
        } else if (arg == "--level" || arg == "-l") {
            options.level = ParseLevel(take("--level"));
        } else if (arg == "-D" || (arg.compare(0, 2, "-D") == 0 && arg.size() > 2)) {
            std::string definition = arg.size() > 2 ? arg.substr(2) : take("-D");
            size_t equals = definition.find('=');
            std::string name = definition.substr(0, equals);
            if (equals == std::string::npos || name.empty())
                throw BuildUsageError{"-D takes NAME=VALUE, found '" + definition + "'"};
            defines[name] = definition.substr(equals + 1);
        } else if (arg == "-I" || arg == "--search") {
            searchDirs.push_back(take("-I"));
        } else if (arg.compare(0, 2, "-I") == 0 && arg.size() > 2) {
            searchDirs.push_back(arg.substr(2));
        } else if (arg == "--volume-size") {
            options.volumeSize = ParseSize(take("--volume-size"));
        } else if (arg.size() > 1 && arg[0] == '-') {
            throw BuildUsageError{"unknown option '" + args[i] + "'"};
        } else if (manifestPath.empty()) {
            manifestPath = arg;
        } else {
            throw BuildUsageError{"build takes one MANIFEST"};
        }
    }
    if (manifestPath.empty())
        throw BuildUsageError{"build needs a MANIFEST"};
    if (options.output.empty())
        options.output = "SETUP.EXE";
    if (options.output == "-" && ::isatty(1)) {
        std::fprintf(stderr, "zevrin: build: -o - writes the package to standard output, which is a terminal; "
                             "redirect it to a file or a pipe\n");
        return 1;
    }
    options.stubPath = stub.empty() ? FindStub() : stub;
    if (options.stubPath.empty()) {
        std::fprintf(stderr, "zevrin: build: no installer stub: give --stub, set ZEVRIN_STUB, or put "
                             "zevrin-stub.exe beside zevrin\n");
        return 1;
    }

    Manifest manifest;
    std::string error;
    if (!LoadManifest(manifestPath, &manifest, &error, searchDirs, defines)) {
        PrintErrors(error);
        return 1;
    }
    for (const std::string& warning : manifest.warnings)
        std::fprintf(stderr, "zevrin: build: warning: %s\n", warning.c_str());
    if (options.warningsAreErrors && !manifest.warnings.empty()) {
        std::fprintf(stderr, "zevrin: build: %s, and warnings are errors: nothing written\n",
                     Count(manifest.warnings.size(), "warning").c_str());
        return 1;
    }
    // The project's uninstaller is packed from a temporary copy that holds
    // its texts, removed after the build.
    std::string uninstallerCopy;
    for (ManifestFile& f : manifest.files) {
        if (!f.projectUninstaller)
            continue;
        if (f.source.empty())
            f.source = uninstaller.empty() ? FindProgram("ZEVRIN_UNINSTALLER", "zevrin-uninstaller.exe",
                                                         ZEVRIN_DEFAULT_UNINSTALLER)
                                           : uninstaller;
        if (f.source.empty()) {
            std::fprintf(stderr, "zevrin: build: %sno uninstaller program: give --uninstaller, set "
                                 "ZEVRIN_UNINSTALLER, or put zevrin-uninstaller.exe beside zevrin\n",
                         f.ref.Prefix().c_str());
            return 1;
        }
        std::error_code ignored;
        std::string pattern = (std::filesystem::temp_directory_path(ignored) / "zevrin-uninstaller-XXXXXX").string();
        int fd = ::mkstemp(&pattern[0]);
        if (fd < 0) {
            std::fprintf(stderr, "zevrin: build: %scannot make a copy of the uninstaller in '%s': %s\n",
                         f.ref.Prefix().c_str(), std::filesystem::path(pattern).parent_path().string().c_str(),
                         std::strerror(errno));
            return 1;
        }
        ::close(fd);
        uninstallerCopy = pattern;
        ProgramLook look;
        bool isSigned = false;
        if (!ProgramLookOf(manifest, AnsiToUtf16(f.uninstallerTexts[UninstallTitle]), f.name, &look, &error) ||
            !WriteUninstallerCopy(&f, uninstallerCopy, &error, &look, &isSigned)) {
            std::remove(uninstallerCopy.c_str());
            std::fprintf(stderr, "zevrin: build: %s\n", error.c_str());
            return 1;
        }
        if (isSigned) {
            PackLogBeside(&manifest, f);
            if (verbosity > 0)
                std::fprintf(stderr, "zevrin: build: %sthe uninstaller is signed: packed as it is, without the "
                                     "package's look; its log goes into '%s.log' beside it\n",
                             f.ref.Prefix().c_str(), f.name.c_str());
        }
    }

    ProgressLine progress(verbosity > 0);
    options.progress = [&progress](const std::string& what, uint64_t done, uint64_t total) {
        progress.Show(what, done, total);
    };
    BuildSummary summary;
    auto started = std::chrono::steady_clock::now();
    bool ok = BuildPackage(manifest, options, &summary, &error);
    if (!uninstallerCopy.empty())
        std::remove(uninstallerCopy.c_str());
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    progress.Clear();
    if (!ok) {
        PrintErrors(error);
        return 1;
    }
    for (const std::string& warning : summary.warnings)
        std::fprintf(stderr, "zevrin: build: warning: %s\n", warning.c_str());
    size_t warnings = manifest.warnings.size() + summary.warnings.size();
    if (warnings)
        std::fprintf(stderr, "zevrin: build: %s\n", Count(warnings, "warning").c_str());
    if (verbosity == 0)
        return 0;

    // With -o - the package is standard output; the report goes beside
    // the warnings.
    FILE* report = options.output == "-" ? stderr : stdout;
    if (verbosity == 2) {
        for (const PackedReport& file : summary.files)
            std::fprintf(report, "  %s: %llu -> %llu bytes\n", file.name.c_str(),
                         static_cast<unsigned long long>(file.size), static_cast<unsigned long long>(file.packed));
    }
    std::fprintf(report, "%s: %llu bytes: installer %u, header %u, file data %llu\n",
                 options.output == "-" ? "standard output" : summary.written[0].c_str(),
                 static_cast<unsigned long long>(summary.sizes[0]), summary.stubLength, summary.headerLength,
                 static_cast<unsigned long long>(summary.dataLength));
    for (size_t i = 1; i < summary.written.size(); ++i)
        std::fprintf(report, "%s: %llu bytes\n", summary.written[i].c_str(),
                     static_cast<unsigned long long>(summary.sizes[i]));
    std::fprintf(report, "%zu files packed (%llu bytes before compression)", summary.packedFiles,
                 static_cast<unsigned long long>(summary.sourceBytes));
    if (summary.externalFiles)
        std::fprintf(report, ", %zu external", summary.externalFiles);
    std::fprintf(report, "\n");
    // The line to read: what went in, what came out, how long it took.
    uint64_t written = 0;
    for (uint64_t size : summary.sizes)
        written += size;
    std::fprintf(report, "built %s in %.1f s: %llu bytes of files packed into %llu (%.1f%%)",
                 options.output == "-" ? "standard output" : options.output.c_str(), seconds,
                 static_cast<unsigned long long>(summary.sourceBytes),
                 static_cast<unsigned long long>(summary.dataLength),
                 summary.sourceBytes ? 100.0 * summary.dataLength / summary.sourceBytes : 100.0);
    if (summary.written.size() > 1)
        std::fprintf(report, "; %zu volumes of at most %llu bytes", summary.written.size(),
                     static_cast<unsigned long long>(options.volumeSize));
    std::fprintf(report, "; %llu bytes written\n", static_cast<unsigned long long>(written));
    return 0;
}

} // namespace

int RunBuild(const std::vector<std::string>& args)
{
    try {
        return Run(args);
    } catch (const BuildUsageError& e) {
        std::fprintf(stderr, "zevrin: build: %s\nusage: zevrin build %s\n", e.message.c_str(), Usage);
        return 2;
    }
}

} // namespace zevrin
