// Install speed: the installation engine against the bare Win32 floor, on
// real packages built by `zevrin build`.
//
//   install_bench --source DIR --target DIR [--repeat N] PACKAGE...
//
// --source holds the packaged files under their installed names (the
// corpus the packages were built from); --target is a folder in which each
// round's installs are made, one new folder each, the previous one
// deleted first (untimed).
//
// Each round runs, in turn, the engine on every PACKAGE, a plain read of
// every PACKAGE and the floor once:
//   engine  the package's header is read (timed apart), then
//           StartInstallation, InstallNextFile until it returns 0,
//           FinishInstallation, as the progress page runs them without a
//           timer; no window, no boxes (the scripted ones are linked).
//   read    the package file, start to end, in the decoder source's
//           request size: what reading alone costs.
//   floor   the same files, same relative names and bytes, written from
//           memory with CreateDirectoryA once per folder and
//           CreateFileA / WriteFile / CloseHandle per file: the least any
//           installer must do to put these files on this disk.
// The first round checks each package's output against the source files,
// byte for byte, and that nothing else was left in the folder. Times come
// from QueryPerformanceCounter; MB is 10^6 bytes of installed files.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "stub/decode/decoder.h"
#include "stub/engine/file_table.h"
#include "stub/engine/win32/install.h"
#include "stub/shared/message_script.h"
#include "stub/shared/state.h"
#include "stub/shared/win32/window_state.h"
#include "stub/startup/header.h"

using namespace zevrin;

namespace {

typedef std::vector<uint8_t> Bytes;

const uint8_t StampMarker[6] = {0x77, 0x77, 0x67, 0x54, 0x29, 0x48};
// The stub is far smaller; the stamp is looked for only there.
const size_t StampSearchLength = 8u << 20;

[[noreturn]] void Die(const std::string& text)
{
    std::fprintf(stderr, "install_bench: %s\n", text.c_str());
    std::fflush(stderr);
    std::exit(1);
}

double Now()
{
    static LARGE_INTEGER frequency = {};
    if (!frequency.QuadPart)
        QueryPerformanceFrequency(&frequency);
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return static_cast<double>(t.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

bool ReadWhole(const std::string& path, Bytes* out, size_t limit = SIZE_MAX)
{
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    LARGE_INTEGER size;
    bool ok = GetFileSizeEx(h, &size) != 0;
    size_t want = ok ? std::min(static_cast<size_t>(size.QuadPart), limit) : 0;
    out->assign(want, 0);
    size_t done = 0;
    while (ok && done < want) {
        DWORD got = 0;
        DWORD chunk = static_cast<DWORD>(std::min<size_t>(want - done, 1u << 24));
        ok = ReadFile(h, out->data() + done, chunk, &got, nullptr) && got > 0;
        done += got;
    }
    CloseHandle(h);
    return ok;
}

// Deletes a folder and everything in it.
void DeleteTree(const std::string& folder)
{
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            std::string name = found.cFileName;
            if (name == "." || name == "..")
                continue;
            std::string path = folder + "\\" + name;
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                DeleteTree(path);
            } else {
                SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
                DeleteFileA(path.c_str());
            }
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }
    RemoveDirectoryA(folder.c_str());
}

// Every file below a folder, as names relative to it.
void ListFiles(const std::string& folder, const std::string& prefix, std::vector<std::string>* names)
{
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return;
    do {
        std::string name = found.cFileName;
        if (name == "." || name == "..")
            continue;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            ListFiles(folder + "\\" + name, prefix + name + "\\", names);
        else
            names->push_back(prefix + name);
    } while (FindNextFileA(search, &found));
    FindClose(search);
}

struct CorpusFile {
    std::string name; // relative, with backslashes
    Bytes bytes;
};

struct Package {
    std::string path;
    uint8_t stamp[StampRecordSize];
    uint64_t length = 0;
    std::vector<double> headerMs, installMs, readMs;
};

// Puts the package's stamp in place of ours and reads its header, as the
// stub does at start-up.
void ReadHeaderOf(Package& package)
{
    ForgetPackageHeader();
    for (uint32_t i = 0; i < StampRecordSize; ++i)
        StampRecord[i] = package.stamp[i];
    zevrin::StartPage = StampStartPage();
    lstrcpynA(PackageSourcePath, package.path.c_str(), PathSize);
    if (!ReadPackageHeader())
        Die("the header of " + package.path + " was refused (problem " +
            std::to_string(static_cast<int>(LastHeaderFault.problem)) + ")");
}

void LoadStamp(Package& package)
{
    Bytes head;
    if (!ReadWhole(package.path, &head, StampSearchLength))
        Die("cannot read " + package.path);
    auto found = std::search(head.begin(), head.end(), StampMarker, StampMarker + sizeof StampMarker);
    if (found == head.end() || static_cast<size_t>(head.end() - found) < StampRecordSize)
        Die("no stamp record in " + package.path + ": not a setup program built by zevrin");
    std::memcpy(package.stamp, &*found, StampRecordSize);
    WIN32_FILE_ATTRIBUTE_DATA info;
    if (GetFileAttributesExA(package.path.c_str(), GetFileExInfoStandard, &info))
        package.length = (static_cast<uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
}

// The engine, timed from StartInstallation to FinishInstallation.
double RunEngine(Package& package, const std::string& folder)
{
    double h0 = Now();
    ReadHeaderOf(package);
    package.headerMs.push_back(Now() - h0);
    lstrcpynA(InstallDir, (folder + "\\").c_str(), PathSize);
    PageResult = PageRunning;
    ErrorCode = 0;
    uint32_t done = 0;

    double t0 = Now();
    if (!StartInstallation())
        Die("StartInstallation failed on " + package.path + ": error " + std::to_string(ErrorCode));
    while (InstallNextFile(nullptr))
        ++done;
    int error = ErrorCode;
    FinishInstallation();
    double ms = Now() - t0;

    if (error != 0 || done != EntryCount)
        Die("the engine stopped after " + std::to_string(done) + " of " + std::to_string(EntryCount) +
            " files of " + package.path + ": error " + std::to_string(error) + " on '" + ErrorSubject + "'");
    package.installMs.push_back(ms);
    return ms;
}

// The package file read from start to end in the requests the decoder's
// source makes, nothing decoded or written: the reading part of an
// install.
double RunRead(Package& package)
{
    double t0 = Now();
    HANDLE h = CreateFileA(package.path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        Die("cannot open " + package.path);
    uint8_t buffer[SourceBufferSize];
    DWORD got = 0;
    while (ReadFile(h, buffer, sizeof buffer, &got, nullptr) && got > 0) {
    }
    CloseHandle(h);
    double ms = Now() - t0;
    package.readMs.push_back(ms);
    return ms;
}

// The floor: create, write, close, from memory.
double RunFloor(const std::vector<CorpusFile>& files, const std::string& folder)
{
    double t0 = Now();
    std::set<std::string> made;
    CreateDirectoryA(folder.c_str(), nullptr);
    for (const CorpusFile& file : files) {
        for (size_t slash = file.name.find('\\'); slash != std::string::npos;
             slash = file.name.find('\\', slash + 1)) {
            std::string sub = file.name.substr(0, slash);
            if (made.insert(sub).second)
                CreateDirectoryA((folder + "\\" + sub).c_str(), nullptr);
        }
        std::string path = folder + "\\" + file.name;
        HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h == INVALID_HANDLE_VALUE)
            Die("floor: cannot create " + path);
        DWORD written = 0;
        if (!file.bytes.empty() &&
            (!WriteFile(h, file.bytes.data(), static_cast<DWORD>(file.bytes.size()), &written, nullptr) ||
             written != file.bytes.size()))
            Die("floor: cannot write " + path);
        CloseHandle(h);
    }
    return Now() - t0;
}

// The engine's output is the corpus, byte for byte, and nothing more.
void Verify(const Package& package, const std::vector<CorpusFile>& files, const std::string& folder)
{
    size_t bad = 0;
    for (const CorpusFile& file : files) {
        Bytes got;
        if (!ReadWhole(folder + "\\" + file.name, &got) || got != file.bytes) {
            if (bad++ < 10)
                std::fprintf(stderr, "install_bench: %s differs from the source (or is missing)\n", file.name.c_str());
        }
    }
    std::vector<std::string> present;
    ListFiles(folder, "", &present);
    if (present.size() != files.size()) {
        std::fprintf(stderr, "install_bench: %zu files in %s, %zu expected\n", present.size(), folder.c_str(),
                     files.size());
        ++bad;
    }
    if (bad)
        Die("VERIFY FAILED: the engine's install of " + package.path + " is not the source files");
    std::printf("verified: the install of %s is byte-identical to the %zu source files\n", package.path.c_str(),
                files.size());
}

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}
double Best(const std::vector<double>& v) { return *std::min_element(v.begin(), v.end()); }

std::string BaseName(const std::string& path)
{
    size_t cut = path.find_last_of("\\/");
    return cut == std::string::npos ? path : path.substr(cut + 1);
}

void Row(const char* mode, const std::string& what, const std::vector<double>& ms, size_t fileCount, double mb,
         const std::vector<double>& floorMs)
{
    double best = Best(ms), median = Median(ms);
    // Each round against the floor of the same round: less moved by load
    // that comes and goes between rounds.
    std::vector<double> ratios;
    for (size_t i = 0; i < ms.size(); ++i)
        ratios.push_back(ms[i] / floorMs[i]);
    std::printf("%-7s %-22s %9.1f %9.1f %8.3f %8.1f %8.2f %8.2f %8.2f\n", mode, what.c_str(), best, median,
                median / static_cast<double>(fileCount), mb / (median / 1000.0), best / Best(floorMs),
                median / Median(floorMs), Median(ratios));
}

} // namespace

int main(int argc, char** argv)
{
    std::string source, target;
    int repeat = 5;
    std::vector<Package> packages;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--source" && i + 1 < argc)
            source = argv[++i];
        else if (arg == "--target" && i + 1 < argc)
            target = argv[++i];
        else if (arg == "--repeat" && i + 1 < argc)
            repeat = std::atoi(argv[++i]);
        else if (!arg.empty() && arg[0] == '-')
            Die("usage: install_bench --source DIR --target DIR [--repeat N] PACKAGE...");
        else {
            packages.emplace_back();
            packages.back().path = arg;
        }
    }
    if (source.empty() || target.empty() || packages.empty() || repeat < 1)
        Die("usage: install_bench --source DIR --target DIR [--repeat N] PACKAGE...");
    while (!source.empty() && (source.back() == '\\' || source.back() == '/'))
        source.pop_back();
    while (!target.empty() && (target.back() == '\\' || target.back() == '/'))
        target.pop_back();

    ScriptMessageAnswers({});
    IsWindowsNT = true;
    ProgressPageWindow = nullptr;
    ProgressRepaint = nullptr;

    // The files as the first package lists them, read from the source.
    for (Package& package : packages)
        LoadStamp(package);
    ReadHeaderOf(packages[0]);
    std::vector<CorpusFile> files;
    uint64_t bytes = 0;
    const uint8_t* entry = FirstEntry;
    for (uint32_t i = 0; i < EntryCount; ++i, entry = NextEntry(entry)) {
        if (EntryByte(entry, EntryLocation) != LocationInstall)
            Die("entry " + std::to_string(i) + " does not go to the install folder");
        CorpusFile file;
        file.name = EntryString(entry, FileNameString);
        if (!ReadWhole(source + "\\" + file.name, &file.bytes))
            Die("cannot read " + source + "\\" + file.name);
        bytes += file.bytes.size();
        files.push_back(std::move(file));
    }
    for (size_t p = 1; p < packages.size(); ++p) {
        ReadHeaderOf(packages[p]);
        if (EntryCount != files.size())
            Die(packages[p].path + " has " + std::to_string(EntryCount) + " files, " + packages[0].path + " has " +
                std::to_string(files.size()));
    }
    const double mb = static_cast<double>(bytes) / 1e6;
    std::printf("corpus: %zu files, %.2f MB, from %s\n", files.size(), mb, source.c_str());
    for (const Package& package : packages)
        std::printf("package: %s, %.2f MB\n", package.path.c_str(), static_cast<double>(package.length) / 1e6);
    std::printf("rounds: %d, each: the engine on every package, a read of every package, then the floor; into %s\n", repeat, target.c_str());
    std::fflush(stdout);

    CreateDirectoryA(target.c_str(), nullptr);
    std::vector<double> floorMs;
    std::string previous;
    int folderNumber = 0;
    auto fresh = [&]() {
        if (!previous.empty())
            DeleteTree(previous);
        previous = target + "\\run" + std::to_string(folderNumber++);
        DeleteTree(previous);
        return previous;
    };
    for (int round = 0; round < repeat; ++round) {
        for (Package& package : packages) {
            std::string folder = fresh();
            double ms = RunEngine(package, folder);
            std::printf("round %d: engine %-22s %9.1f ms\n", round + 1, BaseName(package.path).c_str(), ms);
            if (round == 0)
                Verify(package, files, folder);
        }
        for (Package& package : packages)
            std::printf("round %d: read   %-22s %9.1f ms\n", round + 1, BaseName(package.path).c_str(),
                        RunRead(package));
        std::string folder = fresh();
        floorMs.push_back(RunFloor(files, folder));
        std::printf("round %d: floor  %-22s %9.1f ms\n", round + 1, "(create/write/close)", floorMs.back());
        std::fflush(stdout);
    }
    if (!previous.empty())
        DeleteTree(previous);
    ForgetPackageHeader();

    std::printf("\n%zu files, %.2f MB; %d rounds; ratios: / floor, best to best, median to median, and the median\n"
                "of each round's own ratio; read: the package file alone in %u-byte requests (MB/s of installed MB)\n",
                files.size(), mb, repeat, static_cast<unsigned>(SourceBufferSize));
    std::printf("%-7s %-22s %9s %9s %8s %8s %8s %8s %8s\n", "mode", "package", "best ms", "median", "ms/file",
                "MB/s", "x best", "x median", "x round");
    for (const Package& package : packages)
        Row("engine", BaseName(package.path), package.installMs, files.size(), mb, floorMs);
    for (const Package& package : packages)
        Row("read", BaseName(package.path), package.readMs, files.size(), mb, floorMs);
    Row("floor", "(create/write/close)", floorMs, files.size(), mb, floorMs);
    std::printf("(MB/s and ms/file from the median; header reads, not included above, median:");
    for (const Package& package : packages)
        std::printf(" %s %.1f ms", BaseName(package.path).c_str(), Median(package.headerMs));
    std::printf(")\n");
    if (packages.size() > 1)
        std::printf("median engine time, %s minus %s: %.1f ms\n", BaseName(packages[0].path).c_str(),
                    BaseName(packages[1].path).c_str(),
                    Median(packages[0].installMs) - Median(packages[1].installMs));

    return 0;
}
