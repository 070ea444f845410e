// UI driver for the end-to-end tests. Runs under Wine in the same prefix
// and display as an installer, finds its windows (the "ZevrinClass"
// background window, the frame dialog inside it, the page inside that, and
// message boxes), reads what a person would see, and presses buttons.
//
// Usage: driver.exe [--timeout SECONDS] [COMMAND...]
// Each argument is one command; without any, commands are read from
// standard input, one a line (# starts a comment). Every observation is
// printed as one JSON object a line. Every command ends with exactly one
// {"event":"ok",...} or {"event":"fail",...} line; after a failure the
// driver exits with status 1 (the fail line carries what was on screen).
//
// Commands (SEC overrides the default wait, 30 s, or --timeout):
//   timeout SEC           default wait for the commands that follow
//   wait-window [SEC]     a visible background window exists
//   wait-page [SEC]       a page other than the last one reported is up and
//                         has stopped changing; prints it
//   wait-next [SEC]       whichever comes first: a new page or a message box
//   dump                  prints the current page (or the windows)
//   windows               every visible top-level window, top first
//   press ID              clicks a visible, enabled button of the frame or
//                         the page (WM_COMMAND to its dialog; a check box
//                         gets BM_CLICK and toggles)
//   key enter|escape|tab  a key press at the installer's keyboard focus
//   hold-progress [SEC]   as soon as the progress page's percentage (1010)
//                         is above 0 and below 100, presses Cancel, so the
//                         installation stops there behind its question
//   start-held            presses Next (Install) and Cancel right behind
//                         it, both queued before either is handled, so the
//                         installation stops before its first file behind
//                         the Cancel question, however fast it would run
//   time-install [SEC]    on the ready page: presses Next and waits for the
//                         finish page; prints the time between the two
//                         (QueryPerformanceCounter) and when the progress
//                         page was first seen
//   watch-progress [SEC] [PERIOD_MS]
//                         as time-install, and every PERIOD_MS (default 50)
//                         while the progress page is up asks it for its
//                         percentage (WM_GETTEXT) and whether it repainted
//                         the percentage, invalidated after each look;
//                         prints the longest time it did not answer or
//                         repaint and how the percentage moved
//   wait-box [SEC]        a message box is up; prints it
//   expect-box TEXT [SEC] as wait-box, and fails unless its text is TEXT
//   answer yes|no|ok|cancel [SEC]
//                         clicks that button of the message box and waits
//                         until the box has gone
//   close-system-menu     the system menu's Close on the background window
//   syscommand close|minimize|maximize|restore [background|frame]
//   wait-gone [SEC]       no background window and no message box is left
//   wait-exit [SEC]       every installer process seen so far has ended;
//                         prints each exit code
//   wait-process NAME [SEC]
//                         a process whose file name is NAME runs; prints
//                         its command line and watches it for wait-exit
//   processes             every process with its file and command line
//   run COMMAND_LINE [SEC] starts a program and waits for it to end; prints
//                         its exit code and every visible top-level window
//                         any process showed meanwhile (looked at every
//                         poll), so an unattended run can be seen to show
//                         none
//   info                  the prefix's temporary and Windows folders, drive
//                         types and Windows version
//   reg KEY VALUE         a registry value (KEY begins HKLM\ or HKCU\)
//   cover / uncover       a window of the driver's own over the whole
//                         screen, to see what comes to the front
//   sync                  waits until the installer has handled what the
//                         driver posted to it
#include <windows.h>
#include <commctrl.h>
#include <tlhelp32.h>
#include <winternl.h>

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace {

const wchar_t BackgroundClass[] = L"ZevrinClass";
const wchar_t DialogClass[] = L"#32770";
const int MessageBoxTextId = 0xFFFF; // the static holding a message box's text
const DWORD SendTimeoutMs = 3000;
const DWORD PollMs = 50;

double DefaultTimeout = 30;

// ------------------------------------------------------------------ output

std::string Utf8(const std::wstring& text)
{
    if (text.empty())
        return std::string();
    int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                                   nullptr);
    std::string out(size, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], size, nullptr, nullptr);
    return out;
}

std::wstring Wide(const std::string& utf8)
{
    if (utf8.empty())
        return std::wstring();
    int size = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring out(size, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), &out[0], size);
    return out;
}

std::string Quote(const std::string& text)
{
    std::string out = "\"";
    for (unsigned char c : text) {
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (c < 0x20) {
                char escape[8];
                std::snprintf(escape, sizeof escape, "\\u%04x", c);
                out += escape;
            } else {
                out += static_cast<char>(c);
            }
        }
    }
    return out + "\"";
}

std::string Quote(const std::wstring& text) { return Quote(Utf8(text)); }

// Builds one JSON object: Json().Add("a", 1).Add("b", "x").Text()
class Json {
public:
    Json& Raw(const char* key, const std::string& value)
    {
        body_ += (body_.empty() ? "" : ",") + Quote(std::string(key)) + ":" + value;
        return *this;
    }
    Json& Add(const char* key, const std::string& value) { return Raw(key, Quote(value)); }
    Json& Add(const char* key, const char* value) { return Raw(key, Quote(std::string(value))); }
    Json& Add(const char* key, const std::wstring& value) { return Raw(key, Quote(value)); }
    Json& Add(const char* key, long long value) { return Raw(key, std::to_string(value)); }
    Json& Add(const char* key, int value) { return Raw(key, std::to_string(value)); }
    Json& Add(const char* key, unsigned value) { return Raw(key, std::to_string(value)); }
    Json& Add(const char* key, unsigned long value) { return Raw(key, std::to_string(value)); }
    Json& Flag(const char* key, bool value) { return Raw(key, value ? "true" : "false"); }
    std::string Text() const { return "{" + body_ + "}"; }

private:
    std::string body_;
};

std::string List(const std::vector<std::string>& items)
{
    std::string out = "[";
    for (size_t i = 0; i < items.size(); ++i)
        out += (i ? "," : "") + items[i];
    return out + "]";
}

void Emit(const std::string& line)
{
    std::fputs(line.c_str(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

std::string Hex(const void* value)
{
    char text[24];
    // long is 32 bits on Windows, pointers may be 64.
    std::snprintf(text, sizeof text, "0x%llx", static_cast<unsigned long long>(reinterpret_cast<UINT_PTR>(value)));
    return text;
}

std::string RectJson(const RECT& r)
{
    return "[" + std::to_string(r.left) + "," + std::to_string(r.top) + "," + std::to_string(r.right) + "," +
           std::to_string(r.bottom) + "]";
}

// A failed command: thrown with the reason, reported with the screen.
struct Failure {
    std::string message;
};

[[noreturn]] void Fail(const std::string& message) { throw Failure{message}; }

// --------------------------------------------------------------- waiting

// Waits up to `ms` while keeping the driver's own window (cover) alive:
// an installer that activates its window would otherwise wait on us.
void Pump(DWORD ms)
{
    DWORD start = GetTickCount();
    for (;;) {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        DWORD spent = GetTickCount() - start;
        if (spent >= ms)
            return;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, ms - spent, QS_ALLINPUT);
    }
}

class Deadline {
public:
    explicit Deadline(double seconds) : start_(GetTickCount()), ms_(static_cast<DWORD>(seconds * 1000)) {}
    bool Passed() const { return GetTickCount() - start_ >= ms_; }
    double Seconds() const { return ms_ / 1000.0; }

private:
    DWORD start_;
    DWORD ms_;
};

std::string SecondsText(double seconds)
{
    char text[32];
    std::snprintf(text, sizeof text, "%g s", seconds);
    return text;
}

// ----------------------------------------------------------- window facts

std::wstring ClassOf(HWND window)
{
    wchar_t name[256] = {};
    GetClassNameW(window, name, 256);
    return name;
}

// Through WM_GETTEXT, which reaches into another process (and into edit
// controls, whose text GetWindowText would not read there).
std::wstring TextOf(HWND window)
{
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutW(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, SendTimeoutMs, &length)) {
        wchar_t text[1024] = {};
        InternalGetWindowText(window, text, 1024);
        return text;
    }
    std::vector<wchar_t> text(length + 2);
    DWORD_PTR copied = 0;
    SendMessageTimeoutW(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()), SMTO_ABORTIFHUNG,
                        SendTimeoutMs, &copied);
    text.back() = 0;
    return text.data();
}

DWORD ProcessOf(HWND window)
{
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    return pid;
}

LONG StyleOf(HWND window) { return GetWindowLongW(window, GWL_STYLE); }

bool IsClass(HWND window, const wchar_t* name) { return ClassOf(window) == name; }

BOOL CALLBACK CollectWindow(HWND window, LPARAM list)
{
    reinterpret_cast<std::vector<HWND>*>(list)->push_back(window);
    return TRUE;
}

// In Z order, top first.
std::vector<HWND> TopLevelWindows()
{
    std::vector<HWND> windows;
    EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(&windows));
    return windows;
}

std::vector<HWND> ChildrenOf(HWND parent)
{
    std::vector<HWND> children;
    for (HWND child = GetWindow(parent, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
        children.push_back(child);
    return children;
}

HWND RootOwner(HWND window)
{
    HWND root = GetAncestor(window, GA_ROOT);
    for (HWND owner = GetWindow(root, GW_OWNER); owner; owner = GetWindow(owner, GW_OWNER))
        root = owner;
    return root;
}

// ------------------------------------------------------------- processes

// Processes of the installer seen so far, watched for wait-exit.
std::map<DWORD, HANDLE> Watched;
HWND CoverWindow;

void Watch(DWORD pid)
{
    if (pid == GetCurrentProcessId() || Watched.count(pid))
        return;
    Watched[pid] = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid);
}

typedef NTSTATUS(WINAPI* QueryProcessFunction)(HANDLE, PROCESSINFOCLASS, PVOID, ULONG, PULONG);

// The command line as the process received it, read from its process
// block. The installer is built for the driver's own architecture, so the
// layouts of <winternl.h> are its layouts too.
std::wstring CommandLineOf(DWORD pid)
{
    static QueryProcessFunction query = reinterpret_cast<QueryProcessFunction>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQueryInformationProcess")));
    if (!query)
        return L"";
    HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid);
    if (!process)
        return L"";
    std::wstring result;
    PROCESS_BASIC_INFORMATION basic = {};
    PRTL_USER_PROCESS_PARAMETERS parameters = nullptr;
    UNICODE_STRING line = {};
    if (query(process, ProcessBasicInformation, &basic, sizeof basic, nullptr) == 0 &&
        ReadProcessMemory(process, reinterpret_cast<const BYTE*>(basic.PebBaseAddress) + offsetof(PEB, ProcessParameters),
                          &parameters, sizeof parameters, nullptr) &&
        ReadProcessMemory(process,
                          reinterpret_cast<const BYTE*>(parameters) + offsetof(RTL_USER_PROCESS_PARAMETERS, CommandLine),
                          &line, sizeof line, nullptr)) {
        std::vector<wchar_t> text(line.Length / 2 + 1);
        if (ReadProcessMemory(process, line.Buffer, text.data(), line.Length, nullptr))
            result.assign(text.data(), line.Length / 2);
    }
    CloseHandle(process);
    return result;
}

std::wstring ImageOf(DWORD pid)
{
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    if (!process)
        return L"";
    wchar_t path[MAX_PATH * 2] = {};
    DWORD size = MAX_PATH * 2;
    if (!QueryFullProcessImageNameW(process, 0, path, &size))
        path[0] = 0;
    CloseHandle(process);
    return path;
}

struct ProcessEntry {
    DWORD pid;
    std::wstring file;
};

std::vector<ProcessEntry> Processes()
{
    std::vector<ProcessEntry> list;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return list;
    PROCESSENTRY32W entry;
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry))
        list.push_back({entry.th32ProcessID, entry.szExeFile});
    CloseHandle(snapshot);
    return list;
}

std::string ProcessJson(DWORD pid, const std::wstring& file)
{
    return Json()
        .Add("event", "process")
        .Add("pid", pid)
        .Add("file", file)
        .Add("image", ImageOf(pid))
        .Add("command_line", CommandLineOf(pid))
        .Text();
}

// -------------------------------------------------------- the installer

std::vector<HWND> Backgrounds()
{
    std::vector<HWND> found;
    for (HWND window : TopLevelWindows())
        if (IsClass(window, BackgroundClass)) {
            found.push_back(window);
            Watch(ProcessOf(window));
        }
    return found;
}

HWND VisibleBackground()
{
    for (HWND window : Backgrounds())
        if (IsWindowVisible(window))
            return window;
    return nullptr;
}

// A message box holds its text in static 0xFFFF, an icon, and buttons of
// the IDOK..IDCONTINUE family, nothing else. (Package templates may have
// statics numbered -1 too, but also other controls.)
bool IsMessageBox(HWND window)
{
    if (!GetDlgItem(window, MessageBoxTextId))
        return false;
    for (HWND child : ChildrenOf(window)) {
        std::wstring cls = ClassOf(child);
        int id = GetDlgCtrlID(child);
        if (_wcsicmp(cls.c_str(), L"Button") == 0 ? id < IDOK || id > IDCONTINUE
                                                   : _wcsicmp(cls.c_str(), L"Static") != 0)
            return false;
    }
    return true;
}

// The frame dialog is a child of the background window (both templates
// are WS_CHILD); an owned pop-up would do as well.
HWND FrameOf(HWND background)
{
    for (HWND child : ChildrenOf(background))
        if (IsClass(child, DialogClass))
            return child;
    for (HWND window : TopLevelWindows())
        if (IsClass(window, DialogClass) && GetWindow(window, GW_OWNER) == background && !IsMessageBox(window))
            return window;
    return nullptr;
}

HWND PageOf(HWND frame)
{
    HWND hidden = nullptr;
    for (HWND child : ChildrenOf(frame))
        if (IsClass(child, DialogClass)) {
            if (IsWindowVisible(child))
                return child;
            hidden = child;
        }
    return hidden;
}


// Visible dialogs of the installer's processes, or owned by its windows,
// or owned by nobody (the box of an unreadable package comes before any
// window). Never the driver's own.
std::vector<HWND> Boxes()
{
    Backgrounds(); // learns the installer's processes
    std::vector<HWND> boxes;
    for (HWND window : TopLevelWindows()) {
        if (!IsWindowVisible(window) || !IsClass(window, DialogClass))
            continue;
        DWORD pid = ProcessOf(window);
        if (pid == GetCurrentProcessId())
            continue;
        HWND root = RootOwner(window);
        bool ours = Watched.count(pid) || root == window || IsClass(root, BackgroundClass);
        if (ours) {
            boxes.push_back(window);
            Watch(pid);
        }
    }
    return boxes;
}

std::string WindowJson(HWND window)
{
    RECT r = {};
    GetWindowRect(window, &r);
    RECT client = {};
    GetClientRect(window, &client);
    POINT origin = {0, 0};
    ClientToScreen(window, &origin);
    char style[16];
    std::snprintf(style, sizeof style, "0x%08lx", static_cast<unsigned long>(StyleOf(window)));
    return Json()
        .Add("hwnd", Hex(window))
        .Add("class", ClassOf(window))
        .Add("caption", TextOf(window))
        .Add("pid", ProcessOf(window))
        .Flag("visible", IsWindowVisible(window))
        .Flag("iconic", IsIconic(window))
        .Flag("has_caption", (StyleOf(window) & WS_CAPTION) == WS_CAPTION)
        .Add("style", style)
        .Add("owner", Hex(GetWindow(window, GW_OWNER)))
        .Raw("rect", RectJson(r))
        .Raw("client", "[" + std::to_string(client.right) + "," + std::to_string(client.bottom) + "]")
        .Raw("client_origin", "[" + std::to_string(origin.x) + "," + std::to_string(origin.y) + "]")
        .Text();
}

HWND FocusOf(HWND window)
{
    GUITHREADINFO info = {};
    info.cbSize = sizeof info;
    if (!GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &info))
        return nullptr;
    return info.hwndFocus;
}

std::string ControlJson(HWND control, const char* parent, HWND focus)
{
    std::wstring cls = ClassOf(control);
    LONG style = StyleOf(control);
    Json json;
    json.Add("id", GetDlgCtrlID(control))
        .Add("parent", parent)
        .Add("class", cls)
        .Add("text", TextOf(control))
        .Flag("visible", IsWindowVisible(control))
        .Flag("enabled", IsWindowEnabled(control));
    bool button = _wcsicmp(cls.c_str(), L"Button") == 0;
    LONG kind = style & BS_TYPEMASK;
    json.Flag("default", button && kind == BS_DEFPUSHBUTTON);
    json.Flag("focus", control == focus);
    if (button && (kind == BS_CHECKBOX || kind == BS_AUTOCHECKBOX || kind == BS_3STATE ||
                   kind == BS_AUTO3STATE || kind == BS_RADIOBUTTON || kind == BS_AUTORADIOBUTTON)) {
        DWORD_PTR state = 0;
        SendMessageTimeoutW(control, BM_GETCHECK, 0, 0, SMTO_ABORTIFHUNG, SendTimeoutMs, &state);
        json.Add("checked", static_cast<int>(state));
    }
    if (_wcsicmp(cls.c_str(), L"msctls_progress32") == 0) {
        DWORD_PTR position = 0;
        SendMessageTimeoutW(control, PBM_GETPOS, 0, 0, SMTO_ABORTIFHUNG, SendTimeoutMs, &position);
        json.Add("position", static_cast<int>(position));
    }
    RECT r = {};
    GetWindowRect(control, &r);
    json.Raw("rect", RectJson(r));
    return json.Text();
}

struct PageView {
    HWND background = nullptr, frame = nullptr, page = nullptr;
    std::string json;
};

// What a person sees of the wizard: the captions, and every control of
// the frame and of the page.
PageView ReadPage()
{
    PageView view;
    view.background = VisibleBackground();
    if (!view.background)
        return view;
    view.frame = FrameOf(view.background);
    if (!view.frame)
        return view;
    view.page = PageOf(view.frame);
    HWND focus = FocusOf(view.frame);

    std::vector<std::string> controls;
    for (HWND child : ChildrenOf(view.frame))
        if (child != view.page && !IsClass(child, DialogClass))
            controls.push_back(ControlJson(child, "frame", focus));
    if (view.page)
        for (HWND child : ChildrenOf(view.page))
            controls.push_back(ControlJson(child, "page", focus));

    // The caption a person reads: the frame's own in full-screen mode,
    // the background window's ("title - heading") when the frame has none.
    bool frameCaption = (StyleOf(view.frame) & WS_CAPTION) == WS_CAPTION;
    DWORD_PTR defaultId = 0;
    SendMessageTimeoutW(view.frame, DM_GETDEFID, 0, 0, SMTO_ABORTIFHUNG, SendTimeoutMs, &defaultId);
    Json json;
    json.Add("event", "page")
        .Add("pid", ProcessOf(view.background))
        .Add("page", Hex(view.page))
        .Add("caption", TextOf(frameCaption ? view.frame : view.background))
        .Add("mode", (StyleOf(view.background) & WS_THICKFRAME) ? "fullscreen" : "windowed")
        .Add("default_id", HIWORD(defaultId) == DC_HASDEFID ? static_cast<int>(LOWORD(defaultId)) : 0)
        .Raw("background", WindowJson(view.background))
        .Raw("frame", WindowJson(view.frame))
        .Raw("page_window", view.page ? WindowJson(view.page) : "null")
        .Raw("controls", List(controls));
    view.json = json.Text();
    return view;
}

std::string BoxJson(HWND box)
{
    std::vector<std::string> buttons;
    for (HWND child : ChildrenOf(box)) {
        if (!IsClass(child, L"Button") || !IsWindowVisible(child))
            continue;
        buttons.push_back(Json()
                              .Add("id", GetDlgCtrlID(child))
                              .Add("text", TextOf(child))
                              .Flag("default", (StyleOf(child) & BS_TYPEMASK) == BS_DEFPUSHBUTTON)
                              .Text());
    }
    HWND owner = GetWindow(box, GW_OWNER);
    const char* ownerKind = "none";
    if (owner) {
        if (IsClass(owner, BackgroundClass))
            ownerKind = "background";
        else if (IsClass(GetAncestor(owner, GA_ROOT), BackgroundClass) || IsClass(owner, DialogClass))
            ownerKind = "frame";
        else
            ownerKind = "other";
    }
    bool message = IsMessageBox(box);
    HWND text = message ? GetDlgItem(box, MessageBoxTextId) : nullptr;
    return Json()
        .Add("event", "box")
        .Add("hwnd", Hex(box))
        .Add("pid", ProcessOf(box))
        .Add("kind", message ? "messagebox" : "dialog")
        .Add("caption", TextOf(box))
        .Add("text", text ? TextOf(text) : std::wstring())
        .Add("owner", ownerKind)
        .Raw("buttons", List(buttons))
        .Text();
}

// Everything on screen, for a failure report.
std::string ScreenJson()
{
    std::vector<std::string> windows;
    for (HWND window : TopLevelWindows())
        if (IsWindowVisible(window) && window != CoverWindow)
            windows.push_back(WindowJson(window));
    return List(windows);
}

// ----------------------------------------------------------------- sync

// Returns once the installer's thread has taken every message posted to
// it before: a sent message is handled at its next message retrieval,
// before posted ones, so the second send waits for what was posted.
void Sync(HWND window)
{
    for (int i = 0; i < 2 && IsWindow(window); ++i) {
        DWORD_PTR ignored;
        SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, SendTimeoutMs, &ignored);
    }
}

void SyncInstaller()
{
    HWND background = VisibleBackground();
    if (background)
        Sync(background);
}

// ------------------------------------------------------------- commands

typedef std::vector<std::string> Words;

// Words of a line: bare words and "quoted strings", in which \" \\ and \n
// stand for a quote, a backslash and a line feed, and any other backslash
// for itself (registry keys and paths read as written).
Words Split(const std::string& line)
{
    Words words;
    size_t i = 0;
    while (i < line.size()) {
        if (line[i] == ' ' || line[i] == '\t' || line[i] == '\r' || line[i] == '\n') {
            ++i;
            continue;
        }
        std::string word;
        if (line[i] == '"') {
            ++i;
            while (i < line.size() && line[i] != '"') {
                char next = i + 1 < line.size() ? line[i + 1] : 0;
                if (line[i] == '\\' && (next == '"' || next == '\\' || next == 'n')) {
                    ++i;
                    word += next == 'n' ? '\n' : next;
                } else {
                    word += line[i];
                }
                ++i;
            }
            if (i >= line.size())
                Fail("unterminated quote");
            ++i;
        } else {
            while (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '\r' && line[i] != '\n')
                word += line[i++];
        }
        words.push_back(word);
    }
    return words;
}

double SecondsArg(const Words& words, size_t index)
{
    if (index >= words.size())
        return DefaultTimeout;
    char* end = nullptr;
    double value = std::strtod(words[index].c_str(), &end);
    if (*end || value <= 0)
        Fail("'" + words[index] + "' is not a number of seconds");
    return value;
}

HWND LastPage;

void WaitWindow(const Words& words)
{
    Deadline deadline(SecondsArg(words, 1));
    for (;;) {
        if (HWND background = VisibleBackground()) {
            Emit(Json().Add("event", "window").Raw("window", WindowJson(background)).Text());
            return;
        }
        if (deadline.Passed())
            Fail("no visible ZevrinClass window within " + SecondsText(deadline.Seconds()));
        Pump(PollMs);
    }
}

// A new page is reported once its window is shown and two readings a
// little apart agree, so texts set after creation are in; a page that
// keeps changing (the progress page) is reported as it is after a while.
class PageWatch {
public:
    // True when `view` shows a new page ready to report.
    bool Settled(const PageView& view)
    {
        bool fresh = view.page && view.page != LastPage && IsWindowVisible(view.page);
        if (!fresh) {
            page_ = nullptr;
            previous_.clear();
            return false;
        }
        if (view.page != page_) {
            page_ = view.page;
            since_ = GetTickCount();
            previous_.clear();
        }
        bool settled = view.json == previous_ || GetTickCount() - since_ >= ChangingPageMs;
        previous_ = view.json;
        return settled;
    }
    bool Waiting() const { return page_ != nullptr; }

private:
    static const DWORD ChangingPageMs = 2000;
    HWND page_ = nullptr;
    DWORD since_ = 0;
    std::string previous_;
};

void WaitPage(const Words& words)
{
    Deadline deadline(SecondsArg(words, 1));
    PageWatch watch;
    for (;;) {
        PageView view = ReadPage();
        if (watch.Settled(view)) {
            LastPage = view.page;
            Emit(view.json);
            return;
        }
        if (deadline.Passed()) {
            std::vector<HWND> boxes = Boxes();
            std::string why = "no new page within " + SecondsText(deadline.Seconds());
            if (!boxes.empty())
                why += "; a message box is up: " + Utf8(TextOf(GetDlgItem(boxes[0], MessageBoxTextId)));
            else if (!view.background)
                why += "; no visible ZevrinClass window";
            else if (!view.frame)
                why += "; the background window has no frame dialog";
            Fail(why);
        }
        Pump(watch.Waiting() ? 150 : PollMs);
    }
}

// Whichever comes first: a new page or a message box (a page may ask
// before it lets the wizard go on).
void WaitNext(const Words& words)
{
    Deadline deadline(SecondsArg(words, 1));
    PageWatch watch;
    for (;;) {
        for (HWND box : Boxes())
            if (IsMessageBox(box)) {
                Emit(BoxJson(box));
                return;
            }
        PageView view = ReadPage();
        if (watch.Settled(view)) {
            LastPage = view.page;
            Emit(view.json);
            return;
        }
        if (deadline.Passed())
            Fail("neither a new page nor a message box within " + SecondsText(deadline.Seconds()));
        Pump(watch.Waiting() ? 150 : PollMs);
    }
}

void Dump()
{
    PageView view = ReadPage();
    if (view.frame) {
        LastPage = view.page;
        Emit(view.json);
    } else {
        Emit(Json().Add("event", "windows").Raw("windows", ScreenJson()).Text());
    }
}

void ListWindows()
{
    std::vector<std::string> windows;
    for (HWND window : TopLevelWindows())
        if (IsWindowVisible(window)) {
            std::string json = WindowJson(window);
            json.insert(json.size() - 1, std::string(",\"cover\":") + (window == CoverWindow ? "true" : "false"));
            windows.push_back(json);
        }
    Emit(Json().Add("event", "windows").Raw("windows", List(windows)).Text());
}

void Press(const Words& words)
{
    if (words.size() < 2)
        Fail("press needs a control id");
    int id = std::atoi(words[1].c_str());
    PageView view = ReadPage();
    if (!view.frame)
        Fail("no frame dialog to press " + words[1] + " in");
    HWND dialog = view.frame;
    HWND button = GetDlgItem(view.frame, id);
    if ((!button || !IsWindowVisible(button)) && view.page) {
        HWND onPage = GetDlgItem(view.page, id);
        if (onPage) {
            dialog = view.page;
            button = onPage;
        }
    }
    if (!button)
        Fail("no control " + words[1] + " on the frame or the page");
    if (!IsWindowVisible(button))
        Fail("control " + words[1] + " is hidden");
    if (!IsWindowEnabled(button))
        Fail("control " + words[1] + " is disabled");
    // What a click sends; posted, so a modal box it opens cannot block us.
    // A check box is clicked itself, so that its state changes as well.
    if ((GetWindowLongW(button, GWL_STYLE) & BS_TYPEMASK) == BS_AUTOCHECKBOX)
        PostMessageW(button, BM_CLICK, 0, 0);
    else
        PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(button));
    Sync(view.background);
    Emit(Json().Add("event", "pressed").Add("id", id).Add("text", TextOf(button)).Text());
}

void HoldProgress(const Words& words)
{
    Deadline deadline(SecondsArg(words, 1));
    for (;;) {
        HWND background = VisibleBackground();
        HWND frame = background ? FrameOf(background) : nullptr;
        HWND page = frame ? PageOf(frame) : nullptr;
        HWND percent = page ? GetDlgItem(page, 1010) : nullptr;
        if (percent) {
            int value = _wtoi(TextOf(percent).c_str());
            if (value > 0 && value < 100) {
                HWND cancel = GetDlgItem(frame, IDCANCEL);
                PostMessageW(frame, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), reinterpret_cast<LPARAM>(cancel));
                Emit(Json().Add("event", "held").Add("percent", value).Text());
                return;
            }
        }
        if (deadline.Passed())
            Fail("no progress between 0 and 100 percent within " + SecondsText(deadline.Seconds()));
        // Ticks come every 50 ms: look much more often.
        Sleep(2);
    }
}

void StartHeld()
{
    PageView view = ReadPage();
    if (!view.frame)
        Fail("no frame dialog to start the installation in");
    HWND next = GetDlgItem(view.frame, IDOK);
    if (!next || !IsWindowEnabled(next))
        Fail("Next is not enabled");
    PostMessageW(view.frame, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(next));
    PostMessageW(view.frame, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(view.frame, IDCANCEL)));
    Emit(Json().Add("event", "pressed").Add("id", IDOK).Add("then", IDCANCEL).Text());
}

// ------------------------------------------------------ timed installs

double NowMs()
{
    static LARGE_INTEGER frequency = {};
    if (!frequency.QuadPart)
        QueryPerformanceFrequency(&frequency);
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

std::string Ms(double ms)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", ms);
    return text;
}

const int ProgressPercentId = 1010;
// Fine enough for a run of a second or more, light on a shared machine.
const DWORD InstallPollMs = 5;
const DWORD BoxCheckMs = 500;
// A probe that waits longer is counted as unanswered; the gap goes on.
const DWORD ProbeTimeoutMs = 1000;

HWND ShownPage(HWND frame)
{
    HWND page = PageOf(frame);
    return page && IsWindowVisible(page) ? page : nullptr;
}

// From Next on the ready page to the finish page being up. The progress
// page is the one with the percentage (1010); the first other page after
// it (or after the ready page, should the progress page come and go
// between two looks) is the finish page.
class InstallRun {
public:
    void Start()
    {
        background_ = VisibleBackground();
        frame_ = background_ ? FrameOf(background_) : nullptr;
        ready_ = frame_ ? ShownPage(frame_) : nullptr;
        if (!ready_)
            Fail("no wizard page is up");
        if (GetDlgItem(ready_, ProgressPercentId))
            Fail("the progress page is up already: start from the ready page");
        HWND next = GetDlgItem(frame_, IDOK);
        if (!next || !IsWindowVisible(next) || !IsWindowEnabled(next))
            Fail("the page has no enabled Next button");
        lastBoxCheck_ = GetTickCount();
        start_ = NowMs();
        // Posted and not synchronised: the installer may be busy at once.
        PostMessageW(frame_, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(next));
    }

    // True once the finish page is up.
    bool Finished()
    {
        if (!IsWindow(frame_))
            Fail("the wizard ended before its finish page");
        HWND page = ShownPage(frame_);
        if (page && page != ready_ && page != progress_) {
            if (!GetDlgItem(page, ProgressPercentId)) {
                finishedAt_ = NowMs();
                finishMs_ = finishedAt_ - start_;
                LastPage = page;
                return true;
            }
            progress_ = page;
            progressMs_ = NowMs() - start_;
        }
        if (GetTickCount() - lastBoxCheck_ >= BoxCheckMs) {
            lastBoxCheck_ = GetTickCount();
            for (HWND box : Boxes())
                if (IsMessageBox(box))
                    Fail("a message box is up: " + Utf8(TextOf(GetDlgItem(box, MessageBoxTextId))));
        }
        return false;
    }

    HWND Progress() const { return progress_; }
    double FinishedAt() const { return finishedAt_; }
    Json& Report(Json& json) const
    {
        json.Raw("ms", Ms(finishMs_));
        json.Raw("progress_ms", progress_ ? Ms(progressMs_) : "null");
        return json;
    }

private:
    HWND background_ = nullptr, frame_ = nullptr, ready_ = nullptr, progress_ = nullptr;
    double start_ = 0, progressMs_ = 0, finishMs_ = 0, finishedAt_ = 0;
    DWORD lastBoxCheck_ = 0;
};

void TimeInstall(const Words& words)
{
    Deadline deadline(SecondsArg(words, 1));
    InstallRun run;
    run.Start();
    while (!run.Finished()) {
        if (deadline.Passed())
            Fail("no finish page within " + SecondsText(deadline.Seconds()));
        Pump(InstallPollMs);
    }
    Json json;
    json.Add("event", "installed");
    Emit(run.Report(json).Text());
}

// Asks the progress page, from outside, every period while it installs:
// whether it answers a message (WM_GETTEXT of the percentage, which also
// tells how the percentage moves) and whether it repaints (the percentage
// is invalidated after each look; GetUpdateRect tells when the page has
// painted it again).
class ProgressProbe {
public:
    void Look(HWND page, double since)
    {
        HWND percent = GetDlgItem(page, ProgressPercentId);
        if (!percent)
            return;
        if (!polls_)
            lastAnswer_ = lastPaint_ = since;
        ++polls_;
        double before = NowMs();
        bool painted = !GetUpdateRect(percent, nullptr, FALSE);
        if (painted) {
            maxPaintGap_ = std::max(maxPaintGap_, before - lastPaint_);
            lastPaint_ = before;
        } else {
            ++unpainted_;
        }
        wchar_t text[32] = {};
        DWORD_PTR copied = 0;
        bool answered = SendMessageTimeoutW(percent, WM_GETTEXT, 32, reinterpret_cast<LPARAM>(text), SMTO_NORMAL,
                                            ProbeTimeoutMs, &copied) != 0;
        double after = NowMs();
        if (answered) {
            ++answered_;
            maxAnswer_ = std::max(maxAnswer_, after - before);
            maxGap_ = std::max(maxGap_, after - lastAnswer_);
            lastAnswer_ = after;
            int value = _wtoi(text);
            if (values_.empty() || values_.back() != value) {
                if (!values_.empty())
                    maxSame_ = std::max(maxSame_, after - changed_);
                values_.push_back(value);
                changed_ = after;
            }
        }
        RedrawWindow(percent, nullptr, nullptr, RDW_INVALIDATE);
    }

    // The page has gone at `end`: what was not answered or painted since
    // the last look counts too.
    void End(double end)
    {
        if (!polls_)
            return;
        maxGap_ = std::max(maxGap_, end - lastAnswer_);
        maxPaintGap_ = std::max(maxPaintGap_, end - lastPaint_);
        if (!values_.empty())
            maxSame_ = std::max(maxSame_, end - changed_);
    }

    Json& Report(Json& json) const
    {
        std::vector<std::string> values;
        std::vector<int> distinct;
        for (int value : values_) {
            values.push_back(std::to_string(value));
            if (std::find(distinct.begin(), distinct.end(), value) == distinct.end())
                distinct.push_back(value);
        }
        json.Add("polls", polls_)
            .Add("answered", answered_)
            .Add("unpainted", unpainted_)
            .Raw("max_gap_ms", Ms(maxGap_))
            .Raw("max_answer_ms", Ms(maxAnswer_))
            .Raw("max_paint_gap_ms", Ms(maxPaintGap_))
            .Raw("max_same_percent_ms", Ms(maxSame_))
            .Raw("percents", Json()
                                 .Raw("first", values_.empty() ? "null" : values.front())
                                 .Raw("last", values_.empty() ? "null" : values.back())
                                 .Add("distinct", static_cast<unsigned>(distinct.size()))
                                 .Raw("seen", List(values))
                                 .Text());
        return json;
    }

private:
    unsigned polls_ = 0, answered_ = 0, unpainted_ = 0;
    double lastAnswer_ = 0, lastPaint_ = 0, changed_ = 0;
    double maxGap_ = 0, maxAnswer_ = 0, maxPaintGap_ = 0, maxSame_ = 0;
    std::vector<int> values_; // each change of the percentage, in order
};

// The looks run on a thread of their own, so that a look waiting for
// an answer does not delay seeing the finish page.
class ProbeThread {
public:
    ProbeThread(HWND page, DWORD period) : page_(page), period_(period), since_(NowMs())
    {
        stop_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        thread_ = CreateThread(nullptr, 0, Loop, this, 0, nullptr);
        if (!thread_)
            Fail("cannot start the thread that watches the progress page");
    }
    ~ProbeThread() { Stop(); }
    ProbeThread(const ProbeThread&) = delete;
    ProbeThread& operator=(const ProbeThread&) = delete;

    const ProgressProbe& Stop()
    {
        if (thread_) {
            SetEvent(stop_);
            WaitForSingleObject(thread_, INFINITE);
            CloseHandle(thread_);
            thread_ = nullptr;
        }
        if (stop_) {
            CloseHandle(stop_);
            stop_ = nullptr;
        }
        return probe_;
    }
    ProgressProbe& Probe() { return probe_; }

private:
    static DWORD WINAPI Loop(void* parameter)
    {
        ProbeThread* self = static_cast<ProbeThread*>(parameter);
        double next = self->since_;
        for (;;) {
            self->probe_.Look(self->page_, self->since_);
            next += self->period_;
            double wait = next - NowMs();
            if (wait < 0) {
                next = NowMs();
                wait = 0;
            }
            if (WaitForSingleObject(self->stop_, static_cast<DWORD>(wait)) == WAIT_OBJECT_0)
                return 0;
        }
    }

    HWND page_;
    DWORD period_;
    double since_;
    HANDLE stop_ = nullptr, thread_ = nullptr;
    ProgressProbe probe_;
};

void WatchProgress(const Words& words)
{
    Deadline deadline(SecondsArg(words, 1));
    DWORD period = 50;
    if (words.size() > 2) {
        period = static_cast<DWORD>(std::atoi(words[2].c_str()));
        if (period < 10 || period > 10000)
            Fail("the period is 10 to 10000 ms");
    }
    InstallRun run;
    std::unique_ptr<ProbeThread> watch;
    run.Start();
    while (!run.Finished()) {
        if (run.Progress() && !watch)
            watch.reset(new ProbeThread(run.Progress(), period));
        if (deadline.Passed())
            Fail("no finish page within " + SecondsText(deadline.Seconds()));
        Pump(InstallPollMs);
    }
    Json json;
    json.Add("event", "progress-watch").Add("period_ms", static_cast<unsigned long>(period));
    run.Report(json);
    if (watch) {
        watch->Stop();
        watch->Probe().End(run.FinishedAt());
        watch->Probe().Report(json);
    } else {
        // Too quick to be seen: nothing to report on the page.
        ProgressProbe().Report(json);
    }
    Emit(json.Text());
}

void Key(const Words& words)
{
    if (words.size() < 2)
        Fail("key needs enter, escape or tab");
    static const struct {
        const char* name;
        WPARAM key;
    } keys[] = {{"enter", VK_RETURN}, {"escape", VK_ESCAPE}, {"tab", VK_TAB}, {"space", VK_SPACE}};
    WPARAM key = 0;
    for (const auto& k : keys)
        if (words[1] == k.name)
            key = k.key;
    if (!key)
        Fail("unknown key '" + words[1] + "'");
    HWND background = VisibleBackground();
    std::vector<HWND> boxes = Boxes();
    HWND target = boxes.empty() ? FocusOf(background) : FocusOf(boxes[0]);
    if (!target)
        target = boxes.empty() ? background : boxes[0];
    if (!target)
        Fail("no installer window to send a key to");
    UINT scan = MapVirtualKeyW(static_cast<UINT>(key), 0);
    PostMessageW(target, WM_KEYDOWN, key, 1 | scan << 16);
    PostMessageW(target, WM_KEYUP, key, 1 | scan << 16 | 0xC0000000u);
    Sync(target);
    Emit(Json().Add("event", "key").Add("key", words[1]).Add("target", Hex(target)).Text());
}

HWND WaitBox(double seconds)
{
    Deadline deadline(seconds);
    for (;;) {
        std::vector<HWND> boxes = Boxes();
        for (HWND box : boxes)
            if (IsMessageBox(box))
                return box;
        if (deadline.Passed())
            Fail("no message box within " + SecondsText(deadline.Seconds()));
        Pump(PollMs);
    }
}

void WaitBoxCommand(const Words& words) { Emit(BoxJson(WaitBox(SecondsArg(words, 1)))); }

void ExpectBox(const Words& words)
{
    if (words.size() < 2)
        Fail("expect-box needs the text");
    HWND box = WaitBox(SecondsArg(words, 2));
    Emit(BoxJson(box));
    std::wstring text = TextOf(GetDlgItem(box, MessageBoxTextId));
    if (text != Wide(words[1]))
        Fail("the message box says " + Quote(text) + ", not " + Quote(words[1]));
}

void Answer(const Words& words)
{
    if (words.size() < 2)
        Fail("answer needs yes, no, ok or cancel");
    static const struct {
        const char* name;
        int id;
    } answers[] = {{"yes", IDYES}, {"no", IDNO}, {"ok", IDOK}, {"cancel", IDCANCEL}};
    int id = 0;
    for (const auto& a : answers)
        if (words[1] == a.name)
            id = a.id;
    if (!id)
        Fail("unknown answer '" + words[1] + "'");
    Deadline deadline(SecondsArg(words, 2));
    HWND box = WaitBox(deadline.Seconds());
    Emit(BoxJson(box));
    HWND button = GetDlgItem(box, id);
    if (!button || !IsWindowVisible(button))
        Fail("the message box has no " + words[1] + " button");
    PostMessageW(box, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(button));
    while (IsWindow(box) && IsWindowVisible(box)) {
        if (deadline.Passed())
            Fail("the message box is still up after " + words[1]);
        Pump(PollMs);
    }
    SyncInstaller();
    Emit(Json().Add("event", "answered").Add("answer", words[1]).Text());
}

void SysCommand(const Words& words, size_t first)
{
    static const struct {
        const char* name;
        WPARAM command;
    } commands[] = {{"close", SC_CLOSE}, {"minimize", SC_MINIMIZE}, {"maximize", SC_MAXIMIZE}, {"restore", SC_RESTORE}};
    if (words.size() <= first)
        Fail("syscommand needs close, minimize, maximize or restore");
    WPARAM command = 0;
    for (const auto& c : commands)
        if (words[first] == c.name)
            command = c.command;
    if (!command)
        Fail("unknown system command '" + words[first] + "'");
    std::string targetName = words.size() > first + 1 ? words[first + 1] : "background";
    HWND background = nullptr;
    for (HWND window : Backgrounds())
        if (IsWindowVisible(window) || IsIconic(window))
            background = window;
    if (!background)
        Fail("no background window");
    HWND target = background;
    if (targetName == "frame")
        target = FrameOf(background);
    else if (targetName != "background")
        Fail("syscommand goes to background or frame, not '" + targetName + "'");
    if (!target)
        Fail("no frame dialog");
    PostMessageW(target, WM_SYSCOMMAND, command, 0);
    Sync(background);
    Emit(Json().Add("event", "syscommand").Add("command", words[first]).Add("target", targetName).Text());
}

void WaitGone(const Words& words)
{
    Deadline deadline(SecondsArg(words, 1));
    for (;;) {
        if (Backgrounds().empty() && Boxes().empty()) {
            Emit(Json().Add("event", "gone").Text());
            return;
        }
        if (deadline.Passed())
            Fail("the installer's windows are still there after " + SecondsText(deadline.Seconds()));
        Pump(PollMs);
    }
}

void WaitExit(const Words& words)
{
    Deadline deadline(SecondsArg(words, 1));
    Backgrounds();
    if (Watched.empty())
        Fail("no installer process seen to wait for");
    for (auto& watched : Watched) {
        HANDLE process = watched.second;
        if (!process)
            Fail("cannot watch process " + std::to_string(watched.first));
        while (WaitForSingleObject(process, 0) == WAIT_TIMEOUT) {
            if (deadline.Passed())
                Fail("process " + std::to_string(watched.first) + " still runs after " +
                     SecondsText(deadline.Seconds()));
            Pump(PollMs);
        }
        DWORD code = 0;
        GetExitCodeProcess(process, &code);
        Emit(Json()
                 .Add("event", "exit")
                 .Add("pid", watched.first)
                 .Add("code", static_cast<long long>(static_cast<LONG>(code)))
                 .Text());
    }
    for (auto& watched : Watched)
        CloseHandle(watched.second);
    Watched.clear();
}

void RunProgram(const Words& words)
{
    if (words.size() < 2)
        Fail("run needs a command line");
    Deadline deadline(SecondsArg(words, 2));
    std::wstring commandLine = Wide(words[1]);
    std::vector<wchar_t> buffer(commandLine.begin(), commandLine.end());
    buffer.push_back(0);
    // The program's output must not mix with the driver's own lines.
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE nul = CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                             OPEN_EXISTING, 0, nullptr);
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = startup.hStdOutput = startup.hStdError = nul;
    PROCESS_INFORMATION process = {};
    BOOL started =
        CreateProcessW(nullptr, buffer.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process);
    if (nul != INVALID_HANDLE_VALUE)
        CloseHandle(nul);
    if (!started)
        Fail("cannot start " + words[1]);
    CloseHandle(process.hThread);
    std::map<HWND, std::string> seen;
    auto look = [&] {
        for (HWND window : TopLevelWindows())
            if (IsWindowVisible(window) && window != CoverWindow && !seen.count(window))
                seen[window] = WindowJson(window);
    };
    while (WaitForSingleObject(process.hProcess, 0) == WAIT_TIMEOUT) {
        look();
        if (deadline.Passed()) {
            TerminateProcess(process.hProcess, 1);
            CloseHandle(process.hProcess);
            Fail(words[1] + " still runs after " + SecondsText(deadline.Seconds()));
        }
        Pump(PollMs);
    }
    look();
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hProcess);
    std::vector<std::string> windows;
    for (auto& window : seen)
        windows.push_back(window.second);
    Emit(Json()
             .Add("event", "ran")
             .Add("pid", static_cast<unsigned long>(process.dwProcessId))
             .Add("code", static_cast<long long>(static_cast<LONG>(code)))
             .Raw("windows", List(windows))
             .Text());
}

void WaitProcess(const Words& words)
{
    if (words.size() < 2)
        Fail("wait-process needs a file name");
    std::wstring name = Wide(words[1]);
    Deadline deadline(SecondsArg(words, 2));
    for (;;) {
        // Reported once its command line can be read: a process just
        // created may not have its parameters in place yet.
        for (const ProcessEntry& entry : Processes())
            if (_wcsicmp(entry.file.c_str(), name.c_str()) == 0 && !CommandLineOf(entry.pid).empty()) {
                Watch(entry.pid);
                Emit(ProcessJson(entry.pid, entry.file));
                return;
            }
        if (deadline.Passed())
            Fail("no process " + words[1] + " within " + SecondsText(deadline.Seconds()));
        Pump(PollMs);
    }
}

void ListProcesses()
{
    for (const ProcessEntry& entry : Processes())
        if (entry.pid != GetCurrentProcessId())
            Emit(ProcessJson(entry.pid, entry.file));
}

void Info()
{
    wchar_t temp[MAX_PATH] = {}, windows[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    GetWindowsDirectoryW(windows, MAX_PATH);
    // What the installer learns of its platform: drive types by root and
    // the version family (1 = Windows 9x, 2 = NT).
    std::vector<std::string> drives;
    DWORD present = GetLogicalDrives();
    for (int letter = 0; letter < 26; ++letter)
        if (present & (1u << letter)) {
            char root[4] = {static_cast<char>('A' + letter), ':', '\\', 0};
            drives.push_back(Json().Add("root", root).Add("type", GetDriveTypeA(root)).Text());
        }
    OSVERSIONINFOA version = {};
    version.dwOSVersionInfoSize = sizeof version;
    GetVersionExA(&version);
    Emit(Json()
             .Add("event", "info")
             .Add("temp", temp)
             .Add("windows", windows)
             .Add("platform", version.dwPlatformId)
             .Add("version", std::to_string(version.dwMajorVersion) + "." + std::to_string(version.dwMinorVersion))
             .Raw("drives", List(drives))
             .Add("screen_width", GetSystemMetrics(SM_CXSCREEN))
             .Add("screen_height", GetSystemMetrics(SM_CYSCREEN))
             .Text());
}

// A registry value: strings as they are, multi-strings as a list, numbers
// as numbers.
void RegistryValue(const Words& words)
{
    if (words.size() < 3)
        Fail("reg needs a key (HKLM\\... or HKCU\\...) and a value name");
    static const struct {
        const char* name;
        HKEY root;
    } roots[] = {{"HKLM", HKEY_LOCAL_MACHINE}, {"HKCU", HKEY_CURRENT_USER}, {"HKCR", HKEY_CLASSES_ROOT},
                 {"HKU", HKEY_USERS}};
    std::string path = words[1];
    size_t slash = path.find('\\');
    std::string rootName = path.substr(0, slash);
    HKEY root = nullptr;
    for (const auto& r : roots)
        if (rootName == r.name)
            root = r.root;
    if (!root)
        Fail("unknown registry root '" + rootName + "'");
    std::wstring subkey = slash == std::string::npos ? std::wstring() : Wide(path.substr(slash + 1));
    HKEY key;
    Json json;
    json.Add("event", "reg").Add("key", path).Add("value", words[2]);
    if (RegOpenKeyExW(root, subkey.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
        Emit(json.Flag("exists", false).Text());
        return;
    }
    std::wstring name = Wide(words[2]);
    DWORD type = 0, size = 0;
    LONG status = RegQueryValueExW(key, name.c_str(), nullptr, &type, nullptr, &size);
    std::vector<BYTE> data(size + 4);
    if (status == ERROR_SUCCESS)
        status = RegQueryValueExW(key, name.c_str(), nullptr, &type, data.data(), &size);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS) {
        Emit(json.Flag("exists", false).Text());
        return;
    }
    json.Flag("exists", true).Add("type", static_cast<unsigned long>(type));
    const wchar_t* text = reinterpret_cast<const wchar_t*>(data.data());
    size_t chars = size / sizeof(wchar_t);
    if (type == REG_MULTI_SZ) {
        std::vector<std::string> items;
        size_t start = 0;
        for (size_t i = 0; i < chars; ++i)
            if (text[i] == 0) {
                items.push_back(Quote(std::wstring(text + start, text + i)));
                start = i + 1;
            }
        // The list ends with an empty string; what comes before is data.
        if (!items.empty())
            items.pop_back();
        json.Raw("data", List(items));
    } else if (type == REG_SZ || type == REG_EXPAND_SZ) {
        json.Add("data", std::wstring(text, wcsnlen(text, chars)));
    } else if (type == REG_DWORD && size >= 4) {
        json.Add("data", static_cast<unsigned long>(*reinterpret_cast<DWORD*>(data.data())));
    } else {
        json.Add("size", static_cast<unsigned long>(size));
    }
    Emit(json.Text());
}

LRESULT CALLBACK CoverProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_ERASEBKGND) {
        RECT r;
        GetClientRect(window, &r);
        FillRect(reinterpret_cast<HDC>(wParam), &r, static_cast<HBRUSH>(GetStockObject(GRAY_BRUSH)));
        return 1;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

void Cover()
{
    if (!CoverWindow) {
        WNDCLASSW windowClass = {};
        windowClass.lpfnWndProc = CoverProc;
        windowClass.hInstance = GetModuleHandleW(nullptr);
        windowClass.lpszClassName = L"ZevrinDriverCover";
        RegisterClassW(&windowClass);
        CoverWindow = CreateWindowExW(0, windowClass.lpszClassName, L"driver cover", WS_OVERLAPPEDWINDOW, 0, 0,
                                      GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN), nullptr,
                                      nullptr, windowClass.hInstance, nullptr);
        if (!CoverWindow)
            Fail("cannot create the cover window");
    }
    ShowWindow(CoverWindow, SW_SHOW);
    SetForegroundWindow(CoverWindow);
    SetWindowPos(CoverWindow, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    Pump(200);
    Emit(Json().Add("event", "cover").Add("hwnd", Hex(CoverWindow)).Text());
}

void Uncover()
{
    if (CoverWindow)
        DestroyWindow(CoverWindow);
    CoverWindow = nullptr;
    Pump(100);
    Emit(Json().Add("event", "uncover").Text());
}

void Run(const Words& words)
{
    const std::string& name = words[0];
    if (name == "timeout") {
        if (words.size() < 2)
            Fail("timeout needs seconds");
        DefaultTimeout = SecondsArg(words, 1);
    } else if (name == "wait-window") {
        WaitWindow(words);
    } else if (name == "wait-page") {
        WaitPage(words);
    } else if (name == "wait-next") {
        WaitNext(words);
    } else if (name == "dump") {
        Dump();
    } else if (name == "windows") {
        ListWindows();
    } else if (name == "press") {
        Press(words);
    } else if (name == "hold-progress") {
        HoldProgress(words);
    } else if (name == "start-held") {
        StartHeld();
    } else if (name == "time-install") {
        TimeInstall(words);
    } else if (name == "watch-progress") {
        WatchProgress(words);
    } else if (name == "key") {
        Key(words);
    } else if (name == "wait-box") {
        WaitBoxCommand(words);
    } else if (name == "expect-box") {
        ExpectBox(words);
    } else if (name == "answer") {
        Answer(words);
    } else if (name == "close-system-menu") {
        SysCommand(Words{"syscommand", "close", "background"}, 1);
    } else if (name == "syscommand") {
        SysCommand(words, 1);
    } else if (name == "wait-gone") {
        WaitGone(words);
    } else if (name == "wait-exit") {
        WaitExit(words);
    } else if (name == "run") {
        RunProgram(words);
    } else if (name == "wait-process") {
        WaitProcess(words);
    } else if (name == "processes") {
        ListProcesses();
    } else if (name == "reg") {
        RegistryValue(words);
    } else if (name == "info") {
        Info();
    } else if (name == "cover") {
        Cover();
    } else if (name == "uncover") {
        Uncover();
    } else if (name == "sync") {
        SyncInstaller();
    } else {
        Fail("unknown command '" + name + "'");
    }
}

// True to go on.
bool RunLine(std::string line)
{
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
        line.pop_back();
    Words words;
    try {
        words = Split(line);
        if (words.empty() || words[0][0] == '#')
            return true;
        Run(words);
        Emit(Json().Add("event", "ok").Add("command", line).Text());
        return true;
    } catch (const Failure& failure) {
        Emit(Json()
                 .Add("event", "fail")
                 .Add("command", line)
                 .Add("error", failure.message)
                 .Raw("screen", ScreenJson())
                 .Text());
        return false;
    }
}

// Standard input is read on a thread of its own, so the main thread keeps
// pumping messages (see Pump) while it waits for the next command.
struct LineQueue {
    CRITICAL_SECTION lock;
    HANDLE ready;
    std::vector<std::string> lines;
    bool ended = false;
};

DWORD WINAPI ReadInput(void* parameter)
{
    LineQueue* queue = static_cast<LineQueue*>(parameter);
    char buffer[4096];
    std::string pending;
    while (std::fgets(buffer, sizeof buffer, stdin)) {
        pending += buffer;
        if (pending.empty() || pending.back() != '\n')
            continue;
        EnterCriticalSection(&queue->lock);
        queue->lines.push_back(pending);
        LeaveCriticalSection(&queue->lock);
        SetEvent(queue->ready);
        pending.clear();
    }
    EnterCriticalSection(&queue->lock);
    if (!pending.empty())
        queue->lines.push_back(pending);
    queue->ended = true;
    LeaveCriticalSection(&queue->lock);
    SetEvent(queue->ready);
    return 0;
}

int RunInput()
{
    static LineQueue queue;
    InitializeCriticalSection(&queue.lock);
    queue.ready = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    CreateThread(nullptr, 0, ReadInput, &queue, 0, nullptr);
    for (;;) {
        EnterCriticalSection(&queue.lock);
        std::vector<std::string> lines;
        lines.swap(queue.lines);
        bool ended = queue.ended;
        LeaveCriticalSection(&queue.lock);
        for (const std::string& line : lines)
            if (!RunLine(line))
                return 1;
        if (ended && lines.empty())
            return 0;
        if (lines.empty()) {
            MSG message;
            while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
                TranslateMessage(&message);
                DispatchMessageW(&message);
            }
            MsgWaitForMultipleObjects(1, &queue.ready, FALSE, INFINITE, QS_ALLINPUT);
        }
    }
}

} // namespace

int main(int argc, char** argv)
{
    int first = 1;
    if (argc > 2 && std::strcmp(argv[1], "--timeout") == 0) {
        DefaultTimeout = std::atof(argv[2]);
        if (DefaultTimeout <= 0) {
            std::fprintf(stderr, "driver: --timeout needs a positive number of seconds\n");
            return 2;
        }
        first = 3;
    }
    if (first < argc) {
        for (int i = first; i < argc; ++i)
            if (!RunLine(argv[i]))
                return 1;
        return 0;
    }
    return RunInput();
}
