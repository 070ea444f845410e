// zevrin list, verify and extract: looking into a finished SETUP.EXE.
//
// Exit status as for every zevrin command: 0 done, 1 failure (one line on
// standard error per fault found), 2 usage error.
//
// extract writes every file the package carries below DIR, under its
// destination name with '\' turned into '/'. Files the installer puts
// elsewhere go into sub-folders of DIR: @windows/ (the Windows folder),
// @system/ (shared system files, by the last part of their name, as the
// installer places them) and @fonts/. External files are not in the
// package and are only listed. Nothing is written outside DIR: unsafe
// names refuse the whole package before anything is written, folders are
// entered without following symbolic links, and each file is written under
// a temporary name and renamed into place once its checksum is right.
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <functional>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "package_reader.h"
#include "pe_version.h"
#include "platform.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace zevrin {

namespace {

typedef std::vector<std::string> Args;

struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Runs one command, reporting its failure the way zevrin_main does.
int Guarded(const char* name, const char* arguments, int (*body)(const Args&), const Args& args)
{
    try {
        return body(args);
    } catch (const UsageError& e) {
        std::fprintf(stderr, "zevrin: %s: %s\nusage: zevrin %s %s\n", name, e.what(), name, arguments);
        return 2;
    } catch (const PackageError& e) {
        std::fprintf(stderr, "zevrin: %s: %s\n", name, e.what());
        return 1;
    }
}

std::string OnePackage(const Args& args, const char* name)
{
    std::string package;
    for (const std::string& arg : args) {
        if (arg.size() > 1 && arg[0] == '-')
            throw UsageError("unknown option '" + arg + "'");
        if (!package.empty())
            throw UsageError(std::string(name) + " takes one SETUP.EXE");
        package = arg;
    }
    if (package.empty())
        throw UsageError(std::string(name) + " takes one SETUP.EXE");
    return package;
}

std::string Plural(uint64_t n, const char* one, const char* many)
{
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

std::string Hex32(uint32_t value)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%08x", value);
    return text;
}

// "Name: reason" for a file of the package, safe to print.
std::string About(const PackageEntry& entry, const std::string& what)
{
    return Printable(entry.Name().empty() ? "entry " + std::to_string(entry.index) : entry.Name()) + ": " + what;
}

// A progress line on standard error, only when it is a terminal and only
// once the work has taken a moment.
class ProgressLine {
public:
    explicit ProgressLine(const char* command) : command_(command), enabled_(::isatty(2) == 1), start_(Now()) {}
    ~ProgressLine() { Clear(); }

    void Show(uint64_t done, uint64_t total, const std::string& name)
    {
        if (!enabled_)
            return;
        double now = Now();
        if (now - start_ < 1.0 || now - last_ < 0.2)
            return;
        last_ = now;
        unsigned percent = total ? static_cast<unsigned>(done * 100 / total) : 100;
        std::string text = "zevrin: " + command_ + ": " + std::to_string(percent) + "% " + Printable(name);
        if (text.size() > 76)
            text = text.substr(0, 73) + "...";
        std::fprintf(stderr, "\r%s\033[K", text.c_str());
        std::fflush(stderr);
        shown_ = true;
    }
    void Clear()
    {
        if (shown_)
            std::fprintf(stderr, "\r\033[K");
        shown_ = false;
    }

private:
    static double Now()
    {
        return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
    }

    std::string command_;
    bool enabled_;
    bool shown_ = false;
    double start_;
    double last_ = 0;
};

// ---------------------------------------------------------------- list

const char* const RootKeys[] = {"HKEY_CLASSES_ROOT", "HKEY_CURRENT_USER", "HKEY_LOCAL_MACHINE", "HKEY_USERS"};

std::string FlagsText(uint32_t flags)
{
    static const char* const names[] = {"full-screen", "folder-editable", "record-folder-in-registry",
                                        "record-folder-in-profile"};
    std::string text = Hex32(flags);
    std::string spelled;
    for (int bit = 0; bit < 4; ++bit)
        if (flags & (1u << bit))
            spelled += std::string(spelled.empty() ? "" : ", ") + names[bit];
    if (flags & ~0xFu)
        spelled += std::string(spelled.empty() ? "" : ", ") + "unknown " + Hex32(flags & ~0xFu);
    return spelled.empty() ? text : text + " (" + spelled + ")";
}

std::string PictureText(const PictureInfo& picture)
{
    if (!picture.present)
        return "none";
    std::string text;
    if (picture.hasInfo)
        text = std::to_string(picture.width) + "x" + std::to_string(picture.height) + ", " +
               std::to_string(picture.bitCount) + " bits per pixel, ";
    return text + Plural(picture.bytes, "byte", "bytes");
}

const char* LocationName(uint8_t location)
{
    switch (location) {
    case 0: return "install";
    case 1: return "windows";
    case 2: return "system";
    case 3: return "fonts";
    default: return "install?";
    }
}

std::string Attributes(const PackageEntry& e)
{
    std::vector<std::string> parts;
    switch (e.uninstallMode) {
    case 0: parts.push_back("keep"); break;
    case 1: parts.push_back("remove"); break;
    case 2: parts.push_back("external"); break;
    default: parts.push_back("uninstall-mode " + std::to_string(e.uninstallMode)); break;
    }
    if (e.Uninstaller())
        parts.push_back("uninstaller");
    if (e.flags & 2) {
        parts.push_back("version " + std::to_string(e.versionHigh >> 16) + "." + std::to_string(e.versionHigh & 0xFFFF) +
                        "." + std::to_string(e.versionLow >> 16) + "." + std::to_string(e.versionLow & 0xFFFF));
    }
    if (e.flags & 4) {
        char text[24];
        std::snprintf(text, sizeof text, "language 0x%04x", e.language & 0xFFFF);
        parts.push_back(text);
    }
    if (e.flags & 8)
        parts.push_back("times");
    if (e.copy)
        parts.push_back("same-as #" + std::to_string(e.sourceEntry));
    switch (e.afterAction) {
    case 0: break;
    case 1: parts.push_back("view-after"); break;
    case 2: parts.push_back("launch-after"); break;
    default: parts.push_back("after-action " + std::to_string(e.afterAction)); break;
    }
    if (e.sharedCount == 1)
        parts.push_back("shared-count");
    switch (e.specialKind) {
    case 0: break;
    case 1: parts.push_back("screen-saver"); break;
    case 2: parts.push_back("self-register"); break;
    default: parts.push_back("kind " + std::to_string(e.specialKind)); break;
    }
    if (e.iconIndex)
        parts.push_back("icon " + std::to_string(e.iconIndex));
    std::string text;
    for (const std::string& part : parts)
        text += (text.empty() ? "" : ", ") + part;
    return text;
}

std::string Quote(const std::string& text) { return "\"" + Printable(text) + "\""; }

std::string Shortcuts(const PackageEntry& e)
{
    std::string text;
    if (!e.strings[2].empty()) {
        text = "menu " + Quote(e.strings[2]);
        if (!e.strings[1].empty())
            text += " in " + Quote(e.strings[1]);
        if (!e.strings[3].empty())
            text += " args " + Quote(e.strings[3]);
    }
    if (!e.strings[4].empty()) {
        text += std::string(text.empty() ? "" : "; ") + "desktop " + Quote(e.strings[4]);
        if (!e.strings[5].empty())
            text += " args " + Quote(e.strings[5]);
    }
    return text;
}

// Columns padded to their widest cell; `right` marks numeric columns. The
// last column is not padded.
void PrintTable(const std::vector<std::vector<std::string>>& rows, const std::vector<bool>& right)
{
    std::vector<size_t> width(right.size(), 0);
    for (const auto& row : rows)
        for (size_t c = 0; c < row.size(); ++c)
            width[c] = std::max(width[c], row[c].size());
    for (const auto& row : rows) {
        std::string line;
        for (size_t c = 0; c < row.size(); ++c) {
            bool last = c + 1 == row.size();
            std::string pad(width[c] - row[c].size(), ' ');
            line += right[c] ? pad + row[c] : last ? row[c] : row[c] + pad;
            if (!last)
                line += "  ";
        }
        while (!line.empty() && line.back() == ' ')
            line.pop_back();
        std::printf("%s\n", line.c_str());
    }
}

// UTF-16 for the terminal: ASCII as it is, the rest as \uXXXX.
std::string PrintableWide(const std::u16string& text)
{
    std::string out;
    for (char16_t c : text) {
        if (c >= 0x20 && c < 0x7F) {
            out += static_cast<char>(c);
        } else {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04X", static_cast<unsigned>(c));
            out += escaped;
        }
    }
    return out;
}

// What the stub says about itself: the execution level of its manifest
// and its version resource. Nothing for a stub that is no PE image.
void AddProgramLines(const PackageReader& p,
                     const std::function<void(const std::string&, const std::string&)>& add)
{
    std::vector<uint8_t> stub(p.stubLength);
    int fd = ::open(p.path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return;
    bool read = ::pread(fd, stub.data(), stub.size(), 0) == static_cast<ssize_t>(stub.size());
    ::close(fd);
    std::vector<PeResource> resources;
    if (!read || !ReadPeResources(stub.data(), stub.size(), &resources, nullptr))
        return;
    std::string level = "(no manifest)";
    for (const PeResource& r : resources) {
        if (r.type.named || r.type.id != 24)
            continue;
        std::string xml(r.data.begin(), r.data.end());
        size_t at = xml.find("level=\"", xml.find("requestedExecutionLevel"));
        level = at == std::string::npos ? "(not given)" : Printable(xml.substr(at + 7, xml.find('"', at + 7) - at - 7));
    }
    add("Execution level", level);
    PeVersion version;
    if (!ReadPeVersion(stub.data(), stub.size(), &version, nullptr)) {
        add("Version resource", "(none)");
        return;
    }
    std::string text;
    for (const char16_t* key : {u"ProductName", u"ProductVersion", u"CompanyName", u"LegalCopyright"}) {
        auto found = version.strings.find(key);
        if (found != version.strings.end() && !found->second.empty())
            text += (text.empty() ? "" : ", ") + PrintableWide(found->second);
    }
    add("Version resource", text.empty() ? "(no strings)" : text);
}

int List(const Args& args)
{
    PackageReader p(OnePackage(args, "list"), true);

    std::vector<std::pair<std::string, std::string>> lines;
    auto add = [&lines](const std::string& label, const std::string& value) { lines.push_back({label, value}); };
    add("Package", Printable(p.path) + ": " + Plural(p.fileLength, "byte", "bytes") + ", stub " +
                       std::to_string(p.stubLength) + " bytes (stamp at " + Hex32(p.stampOffset) + ")");
    AddProgramLines(p, add);
    add("Title", p.title.empty() ? "(none)" : Printable(p.title));
    add("Flags", FlagsText(p.headerFlags));
    add("Default folder", p.defaultFolder.empty() ? "(none)" : Printable(p.defaultFolder));
    add("Start page", p.startPage == 0xFFFF ? "wizard mode" : "page " + std::to_string(p.startPage) + " only");
    add("Pacing", p.installOptions & 1 ? "files in time slices" : "one file a tick");
    add("Rollback", p.installOptions & 8 ? "on cancel or failure" : "none: what was installed stays");
    add("Uninstall name", p.uninstallName.empty() ? "(none)" : Printable(p.uninstallName));
    if (!p.backgroundTitle.empty())
        add("Background title", Printable(p.backgroundTitle));
    bool previous = false;
    if (!p.prevDirKey.empty() || !p.prevDirValue.empty()) {
        std::string root = p.prevDirRoot < 4 ? RootKeys[p.prevDirRoot]
                                             : "HKEY_CURRENT_USER (root " + std::to_string(p.prevDirRoot) + ")";
        add("Previous folder", "registry " + root + "\\" + Printable(p.prevDirKey) + ", value " +
                                   Quote(p.prevDirValue));
        previous = true;
    }
    if (!p.prevDirIniFile.empty()) {
        add(previous ? "" : "Previous folder", "profile " + Printable(p.prevDirIniFile) + ", section [" +
                                                   Printable(p.prevDirIniSection) + "], key " +
                                                   Quote(p.prevDirIniKey));
        previous = true;
    }
    if (!previous)
        add("Previous folder", "(none)");
    add("Frame picture", PictureText(p.framePicture));
    add("Background picture", PictureText(p.backgroundPicture));
    add("Title style", p.hasTitleStyle ? "yes" : "no");
    add("Message groups", std::to_string(p.messageGroups));
    add("Template blob", p.templateBlobSize ? Plural(p.templateBlobSize, "byte", "bytes") : "(none)");
    size_t external = 0;
    for (const PackageEntry& e : p.entries)
        external += e.External();
    add("Files", std::to_string(p.entries.size()) +
                     (external ? " (" + std::to_string(external) + " external)" : "") +
                     (p.hasFileTable ? "" : ", no file table"));
    add("Data", std::to_string(p.dataBytes) + " bytes packed, " + std::to_string(p.unpackedBytes) +
                    " unpacked, " + Plural(p.volumes.size(), "volume", "volumes"));
    for (size_t v = 0; v < p.volumes.size(); ++v) {
        const VolumeInfo& volume = p.volumes[v];
        std::string text = Printable(volume.path) + ": ";
        if (!volume.present)
            text += "missing";
        else
            text += Plural(volume.declared, "data byte", "data bytes");
        add(v == 0 ? "Volumes" : "", text);
    }
    if (!p.dataStop.empty() && p.usableBytes < p.dataBytes)
        add("Problem", Printable(p.dataStop));
    for (const std::string& problem : p.layoutProblems)
        add("Problem", Printable(problem));

    size_t labelWidth = 0;
    for (const auto& line : lines)
        labelWidth = std::max(labelWidth, line.first.size() + 1);
    for (const auto& line : lines) {
        std::string label = line.first.empty() ? "" : line.first + ":";
        std::printf("%-*s %s\n", static_cast<int>(labelWidth), label.c_str(), line.second.c_str());
    }

    if (p.entries.empty())
        return 0;
    std::printf("\n");
    std::vector<std::vector<std::string>> rows{
        {"#", "Name", "Location", "Size", "Packed", "Checksum", "Attributes", "Shortcuts"}};
    for (const PackageEntry& e : p.entries)
        rows.push_back({std::to_string(e.index), Printable(e.Name()), LocationName(e.location),
                        std::to_string(e.fileSize), e.External() || e.copy ? "-" : std::to_string(e.packedSize),
                        Hex32(e.checksum), Attributes(e), Shortcuts(e)});
    PrintTable(rows, {true, false, false, true, true, false, false, false});
    return 0;
}

// -------------------------------------------------------------- verify

class VerifyVisitor : public FileVisitor {
public:
    VerifyVisitor(ProgressLine& progress, unsigned& failures) : progress_(progress), failures_(failures) {}

    FileOutput* Begin(const PackageEntry& entry) override
    {
        current_ = entry.Name();
        return nullptr;
    }
    bool End(const PackageEntry& entry, const FileCheck& check) override
    {
        ++checked;
        if (!check.Ok()) {
            progress_.Clear();
            std::fprintf(stderr, "zevrin: verify: %s\n", About(entry, check.problem).c_str());
            ++failures_;
        }
        return true;
    }
    void Progress(uint64_t done, uint64_t total) override { progress_.Show(done, total, current_); }

    size_t checked = 0;

private:
    ProgressLine& progress_;
    unsigned& failures_;
    std::string current_;
};

int Verify(const Args& args)
{
    PackageReader p(OnePackage(args, "verify"));
    ProgressLine progress("verify");
    unsigned failures = 0;
    auto report = [&](const std::string& text) {
        progress.Clear();
        std::fprintf(stderr, "zevrin: verify: %s\n", text.c_str());
        ++failures;
    };

    size_t external = 0, streams = 0;
    for (const PackageEntry& e : p.entries) {
        std::string why;
        if (!SafeRelativePath(e.Name(), nullptr, &why))
            report(About(e, "unsafe destination name (" + why + ")"));
        external += e.External();
        streams += !e.External();
    }
    for (const std::string& problem : p.layoutProblems)
        report(Printable(problem));

    VerifyVisitor visitor(progress, failures);
    try {
        p.ReadFiles(visitor);
    } catch (const PackageError& e) {
        std::string text = Printable(e.what());
        if (visitor.checked < streams)
            text += " (" + Plural(streams - visitor.checked, "file", "files") + " not checked)";
        report(text);
    }
    progress.Clear();

    std::string summary = Plural(p.entries.size(), "file", "files");
    if (external)
        summary += " (" + std::to_string(external) + " external)";
    summary += ", " + Plural(p.volumes.size(), "volume", "volumes") + ": ";
    summary += failures ? Plural(failures, "failure", "failures") : std::string("OK");
    std::printf("%s\n", summary.c_str());
    std::fflush(stdout);
    return failures ? 1 : 0;
}

// ------------------------------------------------------------- extract

std::string Describe(int error) { return std::strerror(error); }

// Creates DIR and its missing parents; DIR is the user's, so symbolic links
// on the way to it are followed.
void MakeOutputFolder(const std::string& dir)
{
    for (size_t at = 1; at <= dir.size(); ++at) {
        if (at < dir.size() && dir[at] != '/')
            continue;
        std::string prefix = dir.substr(0, at);
        if (::mkdir(prefix.c_str(), 0777) != 0 && errno != EEXIST)
            throw PackageError("cannot create '" + prefix + "': " + Describe(errno));
    }
}

class Fd {
public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    ~Fd() { Reset(); }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    void Reset(int fd = -1)
    {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = fd;
    }
    int Get() const { return fd_; }
    int Release()
    {
        int fd = fd_;
        fd_ = -1;
        return fd;
    }

private:
    int fd_;
};

// One file being extracted: a temporary file beside its final name, in a
// folder reached from DIR without following links. Removed unless
// committed. Windows has no descriptors for folders: there each folder on
// the way is named from DIR, and one that is a link (a reparse point) is
// refused.
class PendingFile : public FileOutput {
public:
#ifdef _WIN32
    PendingFile(int, const std::string& dirShown, const std::string& relative) : shown_(relative)
    {
        std::string folder = dirShown;
        size_t start = 0;
        for (size_t slash; (slash = relative.find('/', start)) != std::string::npos; start = slash + 1) {
            std::string sofar = relative.substr(0, slash);
            folder = dirShown + "/" + sofar;
            if (::mkdir(folder.c_str(), 0777) != 0 && errno != EEXIST)
                throw PackageError("cannot create folder '" + sofar + "' in '" + dirShown + "': " +
                                   Describe(errno));
            DWORD attributes = GetFileAttributesA(folder.c_str());
            if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT))
                throw PackageError("'" + sofar + "' in '" + dirShown + "' is a symbolic link; not followed");
            if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY))
                throw PackageError("cannot enter folder '" + sofar + "' in '" + dirShown + "': " +
                                   Describe(ENOTDIR));
        }
        name_ = folder + "/" + relative.substr(start);
        CreateTemporary(folder + "/", dirShown, relative, [](const std::string& name) {
            return ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        });
    }
    ~PendingFile() override
    {
        if (!committed_ && file_.Get() >= 0) {
            file_.Reset();
            ::unlink(temporary_.c_str());
        }
    }

#else
    PendingFile(int root, const std::string& dirShown, const std::string& relative) : shown_(relative)
    {
        Fd folder(::dup(root));
        size_t start = 0;
        for (size_t slash; (slash = relative.find('/', start)) != std::string::npos; start = slash + 1) {
            std::string part = relative.substr(start, slash - start);
            std::string sofar = relative.substr(0, slash);
            int next = ::openat(folder.Get(), part.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            if (next < 0 && errno == ENOENT) {
                if (::mkdirat(folder.Get(), part.c_str(), 0777) != 0 && errno != EEXIST)
                    throw PackageError("cannot create folder '" + sofar + "' in '" + dirShown + "': " +
                                       Describe(errno));
                next = ::openat(folder.Get(), part.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            }
            if (next < 0) {
                int error = errno;
                struct stat info;
                if (::fstatat(folder.Get(), part.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(info.st_mode))
                    throw PackageError("'" + sofar + "' in '" + dirShown + "' is a symbolic link; not followed");
                throw PackageError("cannot enter folder '" + sofar + "' in '" + dirShown + "': " + Describe(error));
            }
            folder.Reset(next);
        }
        name_ = relative.substr(start);
        CreateTemporary("", dirShown, relative, [&folder](const std::string& name) {
            return ::openat(folder.Get(), name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        });
        folder_.Reset(folder.Release());
    }
    ~PendingFile() override
    {
        if (!committed_ && folder_.Get() >= 0) {
            file_.Reset();
            ::unlinkat(folder_.Get(), temporary_.c_str(), 0);
        }
    }

#endif
    void Write(const uint8_t* data, size_t size) override
    {
        while (size) {
            ssize_t put = ::write(file_.Get(), data, size);
            if (put < 0 && errno == EINTR)
                continue;
            if (put <= 0)
                throw PackageError("cannot write '" + shown_ + "': " + Describe(put < 0 ? errno : ENOSPC));
            data += put;
            size -= static_cast<size_t>(put);
        }
    }

#ifdef _WIN32
    void Commit(const PackageEntry& entry)
    {
        if (entry.hasTimes) {
            FILETIME times[2];
            for (int i = 0; i < 2; ++i) {
                times[i].dwLowDateTime = static_cast<DWORD>(entry.times[1 + i]);
                times[i].dwHighDateTime = static_cast<DWORD>(entry.times[1 + i] >> 32);
            }
            HANDLE file = reinterpret_cast<HANDLE>(_get_osfhandle(file_.Get()));
            SetFileTime(file, nullptr, entry.times[1] ? &times[0] : nullptr, entry.times[2] ? &times[1] : nullptr);
        }
        int fd = file_.Release();
        if (::close(fd) != 0)
            throw PackageError("cannot write '" + shown_ + "': " + Describe(errno));
        if (!RenameOver(temporary_.c_str(), name_.c_str()))
            throw PackageError("cannot write '" + shown_ + "': " + Describe(errno));
        committed_ = true;
    }

#else
    void Commit(const PackageEntry& entry)
    {
        if (entry.hasTimes) {
            // FILETIME counts 100 ns from 1601; only times after 1970 map.
            const uint64_t Epoch = 116444736000000000ull;
            timespec times[2] = {{0, UTIME_OMIT}, {0, UTIME_OMIT}};
            for (int i = 0; i < 2; ++i) {
                uint64_t value = entry.times[1 + i];
                if (value >= Epoch) {
                    times[i].tv_sec = static_cast<time_t>((value - Epoch) / 10000000);
                    times[i].tv_nsec = static_cast<long>((value - Epoch) % 10000000 * 100);
                }
            }
            ::futimens(file_.Get(), times);
        }
        int fd = file_.Release();
        if (::close(fd) != 0)
            throw PackageError("cannot write '" + shown_ + "': " + Describe(errno));
        if (::renameat(folder_.Get(), temporary_.c_str(), folder_.Get(), name_.c_str()) != 0)
            throw PackageError("cannot write '" + shown_ + "': " + Describe(errno));
        committed_ = true;
    }

#endif
private:
    // A fresh name FOLDER.zevrin-PID-N.tmp, created by `open` (a descriptor,
    // or -1 and errno).
    template <typename Open>
    void CreateTemporary(const std::string& folder, const std::string& dirShown, const std::string& relative,
                         Open open)
    {
        static unsigned counter;
        for (int attempt = 0;; ++attempt) {
            temporary_ = folder + ".zevrin-" + std::to_string(::getpid()) + "-" + std::to_string(counter++) + ".tmp";
            int fd = open(temporary_);
            if (fd >= 0) {
                file_.Reset(fd);
                return;
            }
            if (errno != EEXIST || attempt > 1000)
                throw PackageError("cannot create a file in '" + dirShown + "' for '" + relative + "': " +
                                   Describe(errno));
        }
    }

    std::string shown_;
    std::string name_;
    std::string temporary_;
#ifndef _WIN32
    Fd folder_;
#endif
    Fd file_;
    bool committed_ = false;
};

class ExtractVisitor : public FileVisitor {
public:
    ExtractVisitor(int root, const std::string& dir, const std::vector<std::string>& paths, ProgressLine& progress)
        : root_(root), dir_(dir), paths_(paths), progress_(progress)
    {
    }

    FileOutput* Begin(const PackageEntry& entry) override
    {
        current_ = entry.Name();
        pending_.reset(new PendingFile(root_, dir_, paths_[entry.index]));
        return pending_.get();
    }
    // A damaged file is reported and not put in place; the others still are.
    bool End(const PackageEntry& entry, const FileCheck& check) override
    {
        if (!check.Ok()) {
            pending_.reset();
            progress_.Clear();
            std::fprintf(stderr, "zevrin: extract: %s\n", About(entry, check.problem).c_str());
            ++failed;
            return true;
        }
        if (pending_) {
            pending_->Commit(entry);
            pending_.reset();
        }
        progress_.Clear();
        std::printf("%s\n", paths_[entry.index].c_str());
        ++extracted;
        return true;
    }
    void Progress(uint64_t done, uint64_t total) override { progress_.Show(done, total, current_); }

    size_t extracted = 0;
    size_t failed = 0;

private:
    int root_;
    std::string dir_;
    const std::vector<std::string>& paths_;
    ProgressLine& progress_;
    std::unique_ptr<PendingFile> pending_;
    std::string current_;
};

int Extract(const Args& args)
{
    std::string package, dir;
    bool haveDir = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg.compare(0, 2, "-d") == 0) {
            if (haveDir)
                throw UsageError("-d given twice");
            if (arg.size() > 2) {
                dir = arg.substr(2);
            } else {
                if (++i == args.size())
                    throw UsageError("-d needs a folder");
                dir = args[i];
            }
            haveDir = true;
        } else if (arg.size() > 1 && arg[0] == '-') {
            throw UsageError("unknown option '" + arg + "'");
        } else if (package.empty()) {
            package = arg;
        } else {
            throw UsageError("extract takes one SETUP.EXE");
        }
    }
    if (package.empty())
        throw UsageError("extract takes one SETUP.EXE");
    if (!haveDir || dir.empty())
        throw UsageError("extract needs -d DIR");

    PackageReader p(package);
    // Every name is checked before anything is written.
    std::vector<std::string> paths(p.entries.size());
    std::vector<const PackageEntry*> external;
    for (const PackageEntry& e : p.entries) {
        if (e.External()) {
            external.push_back(&e);
            continue;
        }
        std::string why;
        if (!ExtractPath(e.location, e.Name(), &paths[e.index], &why))
            throw PackageError(About(e, "unsafe destination name (" + why + "); nothing extracted"));
    }

    MakeOutputFolder(dir);
#ifdef _WIN32
    // PendingFile names the folders from DIR; the descriptor is unused.
    Fd root;
    DWORD attributes = GetFileAttributesA(dir.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
        root.Reset(::dup(1));
    else
        errno = ENOTDIR;
#else
    Fd root(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
#endif
    if (root.Get() < 0)
        throw PackageError("cannot open '" + dir + "': " + Describe(errno));

    ProgressLine progress("extract");
    ExtractVisitor visitor(root.Get(), dir, paths, progress);
    bool stopped = false;
    try {
        p.ReadFiles(visitor);
    } catch (const PackageError& e) {
        progress.Clear();
        std::fprintf(stderr, "zevrin: extract: %s\n", Printable(e.what()).c_str());
        stopped = true;
    }
    progress.Clear();
    for (const PackageEntry* e : external)
        std::printf("skipped (external): %s\n", Printable(e->Name()).c_str());
    std::printf("%s extracted to %s", Plural(visitor.extracted, "file", "files").c_str(), dir.c_str());
    if (!external.empty())
        std::printf(", %zu external skipped", external.size());
    if (visitor.failed)
        std::printf(", %s", Plural(visitor.failed, "file failed", "files failed").c_str());
    if (stopped)
        std::printf(", the rest not read");
    std::printf("\n");
    std::fflush(stdout);
    return visitor.failed || stopped ? 1 : 0;
}

} // namespace

int RunList(const std::vector<std::string>& args) { return Guarded("list", "SETUP.EXE", List, args); }
int RunVerify(const std::vector<std::string>& args) { return Guarded("verify", "SETUP.EXE", Verify, args); }
int RunExtract(const std::vector<std::string>& args)
{
    return Guarded("extract", "SETUP.EXE -d DIR", Extract, args);
}

} // namespace zevrin
