// Template blob: compiles the publisher's resource script with windres,
// takes the dialogs out of the .res and packs them for the stub.
#include "templates.h"

#include "../stub/startup/templates.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>

// Compiling a script needs a POSIX host; reading a .res and packing work
// everywhere (the Windows template check packs with this file too).
#ifndef _WIN32
#define ZEVRIN_CAN_RUN_WINDRES 1
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;
#else
#include <windows.h>
#endif

namespace {

typedef std::vector<uint8_t> Bytes;

const char* const DefaultWindres = "i686-w64-mingw32-windres";
const uint32_t DialogSetFont = 0x40;  // DS_SETFONT

uint16_t U16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
uint32_t U32(const uint8_t* p)
{
    return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24;
}
void PutU32(uint8_t* p, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<uint8_t>(v >> (8 * i));
}

std::string Hex(size_t value)
{
    char text[32];
    std::snprintf(text, sizeof text, "0x%zX", value);
    return text;
}

bool Fail(std::string* error, const std::string& message)
{
    if (error)
        *error = message;
    return false;
}

// Reads forward through [begin, end) with every access bounds-checked;
// the first overrun sets `bad` and all later reads yield zeros.
class Cursor {
public:
    Cursor(const uint8_t* base, size_t begin, size_t end)
        : base_(base), pos_(begin), end_(end), bad_(end < begin)
    {
    }

    bool Has(size_t n) const { return !bad_ && end_ - pos_ >= n; }
    uint16_t Word()
    {
        if (!Has(2))
            return Overrun();
        uint16_t v = U16(base_ + pos_);
        pos_ += 2;
        return v;
    }
    uint32_t Dword()
    {
        if (!Has(4))
            return Overrun();
        uint32_t v = U32(base_ + pos_);
        pos_ += 4;
        return v;
    }
    void Skip(size_t n)
    {
        if (!Has(n))
            Overrun();
        else
            pos_ += n;
    }
    // Aligns to a multiple of 4 counted from `origin`.
    void AlignFrom(size_t origin)
    {
        size_t pad = (4 - (pos_ - origin) % 4) % 4;
        Skip(pad);
    }
    // A NUL-terminated UTF-16 string; false when no terminator comes.
    bool String(std::u16string* out)
    {
        out->clear();
        for (;;) {
            uint16_t c = Word();
            if (bad_)
                return false;
            if (c == 0)
                return true;
            out->push_back(static_cast<char16_t>(c));
        }
    }
    // An ordinal (0xFFFF then the number) or a string.
    bool NameOrId(ResName* name)
    {
        if (!Has(2))
            return Overrun() != 0;
        if (U16(base_ + pos_) == 0xFFFF) {
            pos_ += 2;
            name->isId = true;
            name->id = Word();
            name->text.clear();
            return !bad_;
        }
        name->isId = false;
        name->id = 0;
        return String(&name->text);
    }
    // Dialog form: 0 = none (an empty string), 0xFFFF = ordinal, else a string.
    bool DialogNameOrId(ResName* name)
    {
        if (Has(2) && U16(base_ + pos_) == 0) {
            pos_ += 2;
            *name = ResName();
            name->isId = false;
            return true;
        }
        return NameOrId(name);
    }

    size_t pos() const { return pos_; }
    bool bad() const { return bad_; }

private:
    uint16_t Overrun()
    {
        bad_ = true;
        pos_ = end_;
        return 0;
    }

    const uint8_t* base_;
    size_t pos_;
    size_t end_;
    bool bad_;
};

std::string TemplateName(int n)
{
    return "template " + std::to_string(n) + " (resource id " +
           std::to_string(TemplateResourceBase + n) + ")";
}

bool ReadFile(const std::string& path, Bytes* data, std::string* error)
{
    FILE* file = std::fopen(path.c_str(), "rb");
    if (!file)
        return Fail(error, "cannot open " + path + ": " + std::strerror(errno));
    data->clear();
    uint8_t chunk[1 << 14];
    size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0)
        data->insert(data->end(), chunk, chunk + got);
    bool failed = std::ferror(file) != 0;
    int code = errno;
    std::fclose(file);
    if (failed)
        return Fail(error, "cannot read " + path + ": " + std::strerror(code));
    return true;
}

bool EndsWith(const std::string& text, const char* tail)
{
    size_t n = std::strlen(tail);
    if (text.size() < n)
        return false;
    for (size_t i = 0; i < n; ++i) {
        char c = text[text.size() - n + i];
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
        if (c != tail[i])
            return false;
    }
    return true;
}

bool FileExists(const std::string& path)
{
    struct stat info;
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

#ifdef ZEVRIN_CAN_RUN_WINDRES
// A private directory for windres's output, removed with what is in it.
class ScratchDir {
public:
    ScratchDir()
    {
        const char* tmp = std::getenv("TMPDIR");
        std::string base = std::string(tmp && *tmp ? tmp : "/tmp") + "/zevrin-rc-XXXXXX";
        std::vector<char> name(base.begin(), base.end());
        name.push_back('\0');
        if (::mkdtemp(name.data()))
            path_ = name.data();
    }
    ~ScratchDir()
    {
        if (path_.empty())
            return;
        for (const std::string& file : files_)
            ::unlink(file.c_str());
        ::rmdir(path_.c_str());
    }
    bool ok() const { return !path_.empty(); }
    std::string File(const char* name)
    {
        files_.push_back(path_ + "/" + name);
        return files_.back();
    }

private:
    std::string path_;
    std::vector<std::string> files_;
};

std::string Trimmed(const Bytes& text)
{
    std::string s(text.begin(), text.end());
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == ' '))
        s.pop_back();
    return s;
}

// Runs windres without a shell (paths may hold anything); its output
// goes to `logPath`. True when it ran and exited with 0.
bool RunWindres(const std::string& rcPath, const std::string& resPath,
                const std::string& logPath, std::string* error)
{
    const char* configured = std::getenv("ZEVRIN_WINDRES");
    std::string windres = configured && *configured ? configured : DefaultWindres;
    std::vector<std::string> args = {windres, "-J", "rc", "-O", "res", "-i", rcPath, "-o", resPath};
    std::vector<char*> argv;
    for (std::string& arg : args)
        argv.push_back(&arg[0]);
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    pid_t pid;
    int spawned = posix_spawnp(&pid, windres.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0)
        return Fail(error, rcPath + ": cannot run " + windres + ": " + std::strerror(spawned) +
                               " (set ZEVRIN_WINDRES to the resource compiler)");

    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR)
            return Fail(error, rcPath + ": lost " + windres + ": " + std::strerror(errno));
    }
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0)
        return true;

    Bytes log;
    std::string ignored;
    ReadFile(logPath, &log, &ignored);
    std::string how = WIFEXITED(status) ? "exit status " + std::to_string(WEXITSTATUS(status))
                      : WIFSIGNALED(status) ? "signal " + std::to_string(WTERMSIG(status))
                                            : "status " + std::to_string(status);
    std::string message = rcPath + ": " + windres + " failed (" + how + ")";
    std::string output = Trimmed(log);
    if (!output.empty())
        message += ":\n" + output;
    return Fail(error, message);
}

std::string ExecutableDir()
{
    char path[4096];
    ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0)
        return std::string();
    path[n] = '\0';
    char* slash = std::strrchr(path, '/');
    if (!slash)
        return std::string();
    *slash = '\0';
    return path;
}
#else
// Quoted as the C runtime splits a command line.
std::string Quoted(const std::string& arg)
{
    std::string out = "\"";
    size_t backslashes = 0;
    for (char c : arg) {
        if (c == '\\') {
            ++backslashes;
        } else {
            if (c == '"')
                out.append(backslashes + 1, '\\');
            backslashes = 0;
        }
        out += c;
    }
    out.append(backslashes, '\\');
    return out + "\"";
}

// Runs windres (from PATH, or ZEVRIN_WINDRES) into a temporary .res;
// its messages go to the tool's own standard error.
bool RunWindres(const std::string& rcPath, Bytes* res, std::string* error)
{
    const char* configured = std::getenv("ZEVRIN_WINDRES");
    std::string windres = configured && *configured ? configured : "windres";
    char dir[MAX_PATH], resPath[MAX_PATH];
    if (!GetTempPathA(sizeof dir, dir) || !GetTempFileNameA(dir, "zrc", 0, resPath))
        return Fail(error, rcPath + ": cannot make a temporary file (error " +
                               std::to_string(GetLastError()) + ")");
    std::string command = Quoted(windres) + " -J rc -O res -i " + Quoted(rcPath) + " -o " + Quoted(resPath);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process;
    bool ok = false;
    if (!CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
        Fail(error, rcPath + ": cannot run " + windres + " (error " + std::to_string(GetLastError()) +
                        "): a .rc needs windres, with the C preprocessor it runs, on PATH (MinGW-w64 "
                        "binutils and gcc), or ZEVRIN_WINDRES naming it; or give the compiled .res");
    } else {
        DWORD status = 1;
        WaitForSingleObject(process.hProcess, INFINITE);
        GetExitCodeProcess(process.hProcess, &status);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
        if (status != 0)
            Fail(error, rcPath + ": " + windres + " failed (exit status " + std::to_string(status) + ")");
        else
            ok = ReadFile(resPath, res, error);
    }
    DeleteFileA(resPath);
    return ok;
}

std::string ExecutableDir()
{
    char path[MAX_PATH * 4];
    DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
    if (n == 0 || n >= sizeof path)
        return std::string();
    std::string dir(path, n);
    size_t slash = dir.find_last_of("\\/");
    return slash == std::string::npos ? std::string() : dir.substr(0, slash);
}
#endif

} // namespace

bool ParseResFile(const Bytes& bytes, std::vector<ResResource>* resources, std::string* error)
{
    resources->clear();
    const size_t size = bytes.size();
    if (size == 0)
        return Fail(error, "empty file, not a .res file");
    // A 32-bit .res opens with an empty entry: no data, a 32-byte header,
    // type 0 and name 0. A 16-bit .res, or any other file, does not.
    static const uint8_t opening[16] = {0, 0, 0, 0, 32, 0, 0, 0, 0xFF, 0xFF, 0, 0, 0xFF, 0xFF, 0, 0};
    if (size < 32 || std::memcmp(bytes.data(), opening, sizeof opening) != 0)
        return Fail(error, "not a 32-bit .res file (it does not begin with the empty "
                           "resource entry)");
    size_t pos = 0;
    while (pos < size) {
        const std::string where = "resource record at offset " + Hex(pos);
        if (size - pos < 8)
            return Fail(error, where + ": " + std::to_string(size - pos) +
                                   " stray bytes at the end of the file");
        const uint32_t dataSize = U32(bytes.data() + pos);
        const uint32_t headerSize = U32(bytes.data() + pos + 4);
        if (headerSize > size - pos)
            return Fail(error, where + ": header size " + std::to_string(headerSize) +
                                   " runs past the end of the file");
        if (headerSize < 8)
            return Fail(error, where + ": header size " + std::to_string(headerSize) +
                                   " is too small for its fields");

        ResResource res;
        Cursor head(bytes.data(), pos + 8, pos + headerSize);
        if (!head.NameOrId(&res.type) || !head.NameOrId(&res.name))
            return Fail(error, where + ": type or name runs past the header size " +
                                   std::to_string(headerSize));
        head.AlignFrom(pos);
        head.Skip(4);  // DataVersion
        res.memoryFlags = head.Word();
        res.language = head.Word();
        head.Skip(8);  // Version, Characteristics
        if (head.bad())
            return Fail(error, where + ": header size " + std::to_string(headerSize) +
                                   " is too small for its fields");
        if (dataSize > size - pos - headerSize)
            return Fail(error, where + ": data size " + std::to_string(dataSize) +
                                   " runs past the end of the file");

        const size_t dataStart = pos + headerSize;
        res.data.assign(bytes.begin() + dataStart, bytes.begin() + dataStart + dataSize);
        if (!(res.type.isId && res.type.id == 0))
            resources->push_back(std::move(res));

        // Records start on 4-byte boundaries; the last one's padding may be
        // missing, which ends the loop all the same.
        const size_t next = dataStart + dataSize;
        pos = next + (4 - next % 4) % 4;
    }
    return true;
}

bool ParseDialogTemplate(const uint8_t* data, size_t size, DialogInfo* info, std::string* error)
{
    *info = DialogInfo();
    Cursor in(data, 0, size);
    info->extended = size >= 4 && U16(data) == 1 && U16(data + 2) == 0xFFFF;
    uint16_t count;
    if (info->extended) {
        in.Skip(8);  // version, signature, help id
        info->exStyle = in.Dword();
        info->style = in.Dword();
    } else {
        info->style = in.Dword();
        info->exStyle = in.Dword();
    }
    count = in.Word();
    info->x = static_cast<int16_t>(in.Word());
    info->y = static_cast<int16_t>(in.Word());
    info->cx = static_cast<int16_t>(in.Word());
    info->cy = static_cast<int16_t>(in.Word());
    ResName menu;
    if (!in.DialogNameOrId(&menu) || !in.DialogNameOrId(&info->dialogClass) || !in.String(&info->title))
        return Fail(error, "dialog header runs past the end of the template");
    if (info->style & DialogSetFont) {
        info->pointSize = in.Word();
        if (info->extended)
            in.Skip(4);  // weight, italic, charset
        if (!in.String(&info->font))
            return Fail(error, "font name runs past the end of the template");
    }
    for (uint16_t i = 0; i < count; ++i) {
        DialogItem item;
        in.AlignFrom(0);
        if (info->extended) {
            in.Skip(4);  // help id
            item.exStyle = in.Dword();
            item.style = in.Dword();
        } else {
            item.style = in.Dword();
            item.exStyle = in.Dword();
        }
        item.x = static_cast<int16_t>(in.Word());
        item.y = static_cast<int16_t>(in.Word());
        item.cx = static_cast<int16_t>(in.Word());
        item.cy = static_cast<int16_t>(in.Word());
        item.id = info->extended ? in.Dword() : in.Word();
        if (!in.DialogNameOrId(&item.windowClass) || !in.DialogNameOrId(&item.title))
            return Fail(error, "control " + std::to_string(i + 1) + " of " +
                                   std::to_string(count) + " runs past the end of the template");
        // Creation data: a byte count, then that many bytes.
        uint16_t extra = in.Word();
        in.Skip(extra);
        if (in.bad())
            return Fail(error, "control " + std::to_string(i + 1) + " of " +
                                   std::to_string(count) + " runs past the end of the template");
        info->items.push_back(item);
    }
    return true;
}

bool PackTemplateBlob(const std::vector<ResResource>& resources, const std::string& source,
                      Bytes* blob, std::string* error)
{
    const ResResource* chosen[TemplateCount] = {};
    for (const ResResource& res : resources) {
        if (!res.type.isId || res.type.id != ResourceTypeDialog || !res.name.isId)
            continue;
        int n = res.name.id - TemplateResourceBase;
        if (n < 0 || n >= TemplateCount)
            continue;
        if (chosen[n])
            return Fail(error, source + ": two dialogs for " + TemplateName(n) + " (languages " +
                                   Hex(chosen[n]->language) + " and " + Hex(res.language) +
                                   "); keep one");
        chosen[n] = &res;
    }

    const size_t tableSize = 4 * TemplateCount;
    Bytes out(tableSize, 0);
    for (int n = 0; n < TemplateCount; ++n) {
        if (!chosen[n])
            return Fail(error, source + ": no dialog for " + TemplateName(n));
        const Bytes& data = chosen[n]->data;
        DialogInfo info;
        std::string why;
        if (!ParseDialogTemplate(data.data(), data.size(), &info, &why))
            return Fail(error, source + ": " + TemplateName(n) +
                                   " is not a valid dialog template: " + why);
        PutU32(&out[4 * n], static_cast<uint32_t>(out.size()));
        out.insert(out.end(), data.begin(), data.end());
        out.resize((out.size() + 3) / 4 * 4, 0);
    }

    for (int n = 0; n < TemplateCount; ++n) {
        size_t tail = out.size() - U32(&out[4 * n]);
        if (tail > TemplateBlockSize)
            return Fail(error, source + ": the templates are too large: " + TemplateName(n) +
                                   " and everything after it take " + std::to_string(tail) +
                                   " bytes, but the installer loads a template into " +
                                   std::to_string(TemplateBlockSize) + " bytes");
    }
    blob->swap(out);
    return true;
}

bool BuildTemplateBlob(const std::string& rcPath, Bytes* blob, std::string* error)
{
    Bytes res;
    if (EndsWith(rcPath, ".res")) {
        if (!ReadFile(rcPath, &res, error))
            return false;
    } else {
        // Checked first: windres's own message for a missing input is vague.
        Bytes script;
        if (!ReadFile(rcPath, &script, error))
            return false;
#ifdef _WIN32
        if (!RunWindres(rcPath, &res, error))
            return false;
#elif !defined(ZEVRIN_CAN_RUN_WINDRES)
        return Fail(error, rcPath + ": compile it to a .res first (no resource compiler here)");
#else
        ScratchDir scratch;
        if (!scratch.ok())
            return Fail(error, rcPath + ": cannot make a temporary directory: " +
                                   std::strerror(errno));
        std::string resPath = scratch.File("templates.res");
        std::string logPath = scratch.File("windres.log");
        if (!RunWindres(rcPath, resPath, logPath, error))
            return false;
        if (!ReadFile(resPath, &res, error))
            return false;
#endif
    }

    std::vector<ResResource> resources;
    std::string why;
    if (!ParseResFile(res, &resources, &why))
        return Fail(error, rcPath + ": compiled resources unreadable: " + why);
    return PackTemplateBlob(resources, rcPath, blob, error);
}

std::string DefaultTemplatePath()
{
    std::vector<std::string> dirs;
    std::string exeDir = ExecutableDir();
    if (!exeDir.empty())
        dirs.push_back(exeDir + "/templates");
#ifdef ZEVRIN_TEMPLATE_DIR
    dirs.push_back(ZEVRIN_TEMPLATE_DIR);
#endif
    for (const std::string& dir : dirs) {
        for (const char* name : {"/default.res", "/default.rc"}) {
            if (FileExists(dir + name))
                return dir + name;
        }
    }
    return std::string();
}

Bytes DefaultTemplateBlob(std::string* error)
{
    Bytes blob;
    std::string path = DefaultTemplatePath();
    if (path.empty()) {
        Fail(error, "the default dialog templates were not found (templates/default.rc beside "
                    "the program)");
        return Bytes();
    }
    if (!BuildTemplateBlob(path, &blob, error))
        return Bytes();
    return blob;
}

bool TemplateFromBlob(const Bytes& blob, int n, const uint8_t** data, size_t* size)
{
    const size_t tableSize = 4 * TemplateCount;
    if (n < 0 || n >= TemplateCount || blob.size() < tableSize)
        return false;
    size_t start = U32(&blob[4 * n]);
    size_t end = n + 1 < TemplateCount ? U32(&blob[4 * (n + 1)]) : blob.size();
    if (start < tableSize || start > end || end > blob.size())
        return false;
    *data = blob.data() + start;
    *size = end - start;
    return true;
}

namespace {

// A class or other resource name as the tool prints it: an ordinal in hex,
// a name in quotes, anything outside printable ASCII as \uXXXX.
std::string NameText(const ResName& name)
{
    if (name.isId) {
        char text[16];
        std::snprintf(text, sizeof text, "0x%04X", name.id);
        return text;
    }
    std::string out = "\"";
    for (char16_t c : name.text) {
        if (c >= 0x20 && c < 0x7F && c != '"' && c != '\\') {
            out += static_cast<char>(c);
        } else {
            char escaped[16];
            std::snprintf(escaped, sizeof escaped, "\\u%04X", static_cast<unsigned>(c));
            out += escaped;
        }
    }
    return out + "\"";
}

const char* ControlRole(uint32_t id)
{
    switch (id) {
    case 1: return "the Next button";
    case 2: return "the Cancel button";
    case 1007: return "the Back button";
    case 1006: return "the page placeholder";
    case 1004: return "the folder field";
    case 1000: return "the main text";
    default: return "a control";
    }
}

const char* TemplateRole(unsigned n)
{
    static const char* const roles[TemplateCount] = {
        "the windowed frame", "the full-screen frame", "the directory page", "the information page",
        "the progress page", "the welcome and ready pages", "the finish page", "the folder browser"};
    return n < TemplateCount ? roles[n] : "its page";
}

} // namespace

std::string TemplateFaultText(const Bytes& blob, const zevrin::TemplateFault& fault)
{
    // Walked as the installer loads it: the template and what follows it.
    DialogInfo info;
    bool parsed = false;
    if (fault.number < TemplateCount && blob.size() >= 4 * TemplateCount) {
        size_t offset = U32(&blob[4 * fault.number]);
        if (offset < blob.size()) {
            size_t size = std::min(blob.size() - offset, TemplateBlockSize);
            std::string ignored;
            parsed = ParseDialogTemplate(blob.data() + offset, size, &info, &ignored);
        }
    }
    switch (fault.problem) {
    case zevrin::TemplateDialogClass:
        return "its window class" + (parsed ? " " + NameText(info.dialogClass) : std::string()) +
               " is not the system's dialog class, the only one the installer makes dialogs of";
    case zevrin::TemplateItemClass: {
        std::string text = "control " + std::to_string(fault.id) + " (item " + std::to_string(fault.item + 1);
        if (parsed && static_cast<size_t>(fault.item) < info.items.size())
            text += " of " + std::to_string(info.items.size()) + ") is of class " +
                    NameText(info.items[fault.item].windowClass);
        else
            text += ") is of a class";
        return text + ", which the installer cannot make";
    }
    case zevrin::TemplateControlMissing:
        return "it has no control " + std::to_string(fault.id) + " (" + ControlRole(fault.id) + "), which " +
               TemplateRole(fault.number) + " cannot do without";
    default:
        return "the dialog manager would read it past its end";
    }
}
