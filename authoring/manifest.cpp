// Manifest loading: TOML (toml++) to a checked Manifest. Every value is
// taken through a Reader that knows the table's key path, so a problem is
// reported as "file:line: key: what is wrong", and every key that is not
// read is reported as unknown (a misspelt key must not be ignored).
#include "manifest.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <sys/stat.h>
#include <utility>

#include <toml++/toml.h>

#include "../stub/shared/messages.h"
#include "../uninstaller/texts.h"
#include "pe_resources.h"
#include "platform.h"

namespace zevrin {

std::string SourceRef::Prefix() const
{
    std::string out = file;
    if (line)
        out += ":" + std::to_string(line);
    out += ": ";
    if (!key.empty())
        out += key + ": ";
    return out;
}

namespace {

// Paths and names in the package are read into 260-byte buffers.
const size_t PathLimit = 259;
// A version resource string; with all of them the resource stays far
// below its 64 KB.
const size_t MaxVersionText = 1024;
// The installer builds "Software\Microsoft\Windows\CurrentVersion\Uninstall\"
// + the name in a path buffer.
const size_t UninstallKeyPrefixLength = 51;
// The uninstall name is also a display name; the path buffer is the
// tighter bound.
static_assert(PathLimit - UninstallKeyPrefixLength <= MaxShownText, "uninstall name over the shown-text bound");
const size_t FaceNameLimit = 31; // LOGFONTA lfFaceName[32]

struct ManifestError {
    unsigned line;
    std::string key;
    std::string message;
    std::string file = std::string(); // an included file; empty: the manifest
};

// The errors of the manifest being read. A part of the manifest that
// stands on its own (a table, a [[files]] entry, a text) gives up at its
// first error, which is kept here, and the reading goes on with the next
// part, so that one run reports every error that does not follow from
// another, as a compiler does.
std::vector<ManifestError>* ActiveErrors = nullptr;

void Keep(const ManifestError& error)
{
    if (!ActiveErrors)
        throw error;
    ActiveErrors->push_back(error);
}

template <class Read> void Independently(Read read)
{
    try {
        read();
    } catch (const ManifestError& error) {
        Keep(error);
    }
}

const char* TypeName(const toml::node& node)
{
    switch (node.type()) {
    case toml::node_type::string: return "a string";
    case toml::node_type::integer: return "an integer";
    case toml::node_type::floating_point: return "a number";
    case toml::node_type::boolean: return "true or false";
    case toml::node_type::table: return "a table";
    case toml::node_type::array: return "an array";
    default: return "a date or time";
    }
}

unsigned LineOf(const toml::node& node) { return node.source().begin.line; }
// The file a node was read from (an included one, say); empty when unknown.
std::string FileOf(const toml::node& node) { return node.source().path ? *node.source().path : std::string(); }

std::string Lower(std::string text)
{
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// ------------------------------------------------------------- characters

// Windows-1252 bytes 0x80..0x9F and their Unicode code points (0 = unused).
const uint16_t Cp1252High[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178,
};

std::string CodePointName(uint32_t cp)
{
    char text[32];
    std::snprintf(text, sizeof text, "U+%04X", static_cast<unsigned>(cp));
    return text;
}

} // namespace

namespace {

// The code point at p (advanced past it); false with a message at bad
// UTF-8. `position` counts bytes, for the message.
bool NextCodePoint(const unsigned char*& p, const unsigned char* end, size_t& position, uint32_t* out,
                   std::string* problem)
{
    uint32_t cp;
    int length;
    if (*p < 0x80) {
        cp = *p;
        length = 1;
    } else if ((*p & 0xE0) == 0xC0) {
        cp = *p & 0x1F;
        length = 2;
    } else if ((*p & 0xF0) == 0xE0) {
        cp = *p & 0x0F;
        length = 3;
    } else if ((*p & 0xF8) == 0xF0) {
        cp = *p & 0x07;
        length = 4;
    } else {
        *problem = "is not valid UTF-8 (byte " + std::to_string(position) + ")";
        return false;
    }
    if (end - p < length) {
        *problem = "is not valid UTF-8 (cut off at the end)";
        return false;
    }
    for (int i = 1; i < length; ++i) {
        if ((p[i] & 0xC0) != 0x80) {
            *problem = "is not valid UTF-8 (byte " + std::to_string(position + i) + ")";
            return false;
        }
        cp = cp << 6 | (p[i] & 0x3F);
    }
    static const uint32_t Smallest[5] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < Smallest[length] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
        *problem = "is not valid UTF-8 (byte " + std::to_string(position) + ")";
        return false;
    }
    p += length;
    position += length;
    *out = cp;
    return true;
}

} // namespace

bool Utf8ToAnsi(const std::string& utf8, std::string* ansi, std::string* problem)
{
    std::string out;
    out.reserve(utf8.size());
    const unsigned char* p = reinterpret_cast<const unsigned char*>(utf8.data());
    const unsigned char* end = p + utf8.size();
    size_t position = 0;
    while (p < end) {
        uint32_t cp;
        if (!NextCodePoint(p, end, position, &cp, problem))
            return false;
        int byte = -1;
        if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) {
            byte = static_cast<int>(cp);
        } else {
            for (int i = 0; i < 32; ++i)
                if (Cp1252High[i] && Cp1252High[i] == cp)
                    byte = 0x80 + i;
        }
        if (byte < 0) {
            *problem = "has the character " + CodePointName(cp) +
                       ", which Windows-1252 (the installer's character set) cannot store";
            return false;
        }
        if (byte < 0x20 && byte != '\t' && byte != '\n' && byte != '\r') {
            *problem = byte == 0 ? "has a NUL character" : "has the control character " + CodePointName(cp);
            return false;
        }
        out.push_back(static_cast<char>(byte));
    }
    *ansi = std::move(out);
    return true;
}

bool Utf8ToUtf16(const std::string& utf8, std::u16string* out, std::string* problem)
{
    std::u16string text;
    const unsigned char* p = reinterpret_cast<const unsigned char*>(utf8.data());
    const unsigned char* end = p + utf8.size();
    size_t position = 0;
    while (p < end) {
        uint32_t cp;
        if (!NextCodePoint(p, end, position, &cp, problem))
            return false;
        if (cp < 0x20) {
            *problem = cp == 0 ? "has a NUL character" : "has the control character " + CodePointName(cp);
            return false;
        }
        if (cp >= 0x10000) {
            text.push_back(static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10)));
            text.push_back(static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF)));
        } else {
            text.push_back(static_cast<char16_t>(cp));
        }
    }
    *out = std::move(text);
    return true;
}

std::u16string AnsiToUtf16(const std::string& ansi)
{
    std::u16string text;
    for (char c : ansi) {
        unsigned char byte = static_cast<unsigned char>(c);
        uint16_t high = byte >= 0x80 && byte < 0xA0 ? Cp1252High[byte - 0x80] : 0;
        text.push_back(static_cast<char16_t>(high ? high : byte));
    }
    return text;
}

namespace {

std::string DirectoryOf(const std::string& path)
{
    size_t slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// ------------------------------------------------------------- variables

// The variables of the manifest being read: [define] and -D NAME=VALUE.
const std::map<std::string, std::string>* ActiveVariables = nullptr;

bool IsVariableName(const std::string& name)
{
    if (name.empty() || std::isdigit(static_cast<unsigned char>(name[0])))
        return false;
    for (char c : name)
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_')
            return false;
    return true;
}

// Replaces every ${NAME}; $${ is a literal ${. A value may use other
// variables. False with the problem for an unknown name or a loop.
bool ExpandVariables(const std::string& text, std::string* out, std::string* problem, int depth = 0)
{
    std::string result;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text.compare(i, 3, "$${") == 0) {
            result += "${";
            i += 2;
            continue;
        }
        if (text.compare(i, 2, "${") != 0) {
            result.push_back(text[i]);
            continue;
        }
        size_t close = text.find('}', i + 2);
        if (close == std::string::npos) {
            *problem = "'${' without a closing '}' (write $${ for a literal ${)";
            return false;
        }
        std::string name = text.substr(i + 2, close - i - 2);
        const std::string* defined = nullptr;
        if (ActiveVariables) {
            auto found = ActiveVariables->find(name);
            if (found != ActiveVariables->end())
                defined = &found->second;
        }
        if (!defined) {
            std::string known;
            if (ActiveVariables)
                for (const auto& variable : *ActiveVariables)
                    known += (known.empty() ? "" : ", ") + variable.first;
            *problem = "unknown variable ${" + name + "} (" +
                       (known.empty() ? std::string("none is defined") : "defined: " + known) +
                       "; define it in [define] or with -D " + name + "=VALUE)";
            return false;
        }
        if (depth > 16) {
            *problem = "${" + name + "} refers back to itself";
            return false;
        }
        std::string value;
        if (!ExpandVariables(*defined, &value, problem, depth + 1))
            return false;
        result += value;
        i = close;
    }
    *out = std::move(result);
    return true;
}

// -------------------------------------------------------------- the reader

class Reader {
public:
    Reader(const toml::table& table, std::string path) : table_(table), path_(std::move(path)) {}

    std::string KeyPath(const std::string& key) const { return path_.empty() ? key : path_ + "." + key; }
    const std::string& Path() const { return path_; }
    unsigned Line() const { return LineOf(table_); }

    const toml::node* Find(const std::string& key)
    {
        used_.insert(key);
        return table_.get(key);
    }

    [[noreturn]] void Fail(const toml::node* node, const std::string& key, const std::string& message) const
    {
        throw ManifestError{node ? LineOf(*node) : Line(), key.empty() ? path_ : KeyPath(key), message,
                            FileOf(node ? *node : table_)};
    }

    const toml::node& Expect(const toml::node* node, const std::string& key, toml::node_type type,
                             const char* what) const
    {
        if (node->type() != type)
            Fail(node, key, std::string("expected ") + what + ", found " + TypeName(*node));
        return *node;
    }

    bool Bool(const std::string& key, bool fallback, bool* present = nullptr)
    {
        const toml::node* node = Find(key);
        if (present)
            *present = node != nullptr;
        if (!node)
            return fallback;
        return Expect(node, key, toml::node_type::boolean, "true or false").as_boolean()->get();
    }

    int64_t Integer(const std::string& key, int64_t min, int64_t max, int64_t fallback, bool* present = nullptr)
    {
        const toml::node* node = Find(key);
        if (present)
            *present = node != nullptr;
        if (!node)
            return fallback;
        int64_t value = Expect(node, key, toml::node_type::integer, "an integer").as_integer()->get();
        if (value < min || value > max)
            Fail(node, key, "expected an integer from " + std::to_string(min) + " to " + std::to_string(max) +
                                ", found " + std::to_string(value));
        return value;
    }

    // The raw UTF-8 string, or false when absent.
    bool RawString(const std::string& key, std::string* out, const toml::node** where = nullptr)
    {
        const toml::node* node = Find(key);
        if (where)
            *where = node;
        if (!node)
            return false;
        *out = Expanded(node, key);
        return true;
    }

    // A string value with its variables replaced.
    std::string Expanded(const toml::node* node, const std::string& key) const
    {
        std::string text(Expect(node, key, toml::node_type::string, "a string").as_string()->get());
        std::string expanded, problem;
        if (!ExpandVariables(text, &expanded, &problem))
            Fail(node, key, problem);
        return expanded;
    }

    // A string stored in the package: converted to Windows-1252, at most
    // `limit` bytes.
    bool Ansi(const std::string& key, std::string* out, size_t limit, const toml::node** where = nullptr)
    {
        const toml::node* node;
        std::string raw;
        if (!RawString(key, &raw, &node))
            return false;
        if (where)
            *where = node;
        *out = ToAnsi(node, key, raw, limit);
        return true;
    }

    std::string ToAnsi(const toml::node* node, const std::string& key, const std::string& raw, size_t limit) const
    {
        std::string ansi, problem;
        if (!Utf8ToAnsi(raw, &ansi, &problem))
            Fail(node, key, problem);
        if (ansi.size() > limit)
            Fail(node, key, "is " + std::to_string(ansi.size()) + " characters long; at most " +
                                std::to_string(limit) + " fit");
        return ansi;
    }

    // One of `names`; returns its index.
    int Choice(const std::string& key, const std::vector<const char*>& names, int fallback, bool* present = nullptr)
    {
        const toml::node* node;
        std::string value;
        bool found = RawString(key, &value, &node);
        if (present)
            *present = found;
        if (!found)
            return fallback;
        for (size_t i = 0; i < names.size(); ++i)
            if (Lower(value) == names[i])
                return static_cast<int>(i);
        std::string list;
        for (size_t i = 0; i < names.size(); ++i)
            list += (i ? (i + 1 == names.size() ? " or " : ", ") : "") + std::string(names[i]);
        Fail(node, key, "expected one of " + list + ", found \"" + value + "\"");
    }

    const toml::table* Table(const std::string& key)
    {
        const toml::node* node = Find(key);
        if (!node)
            return nullptr;
        return Expect(node, key, toml::node_type::table, "a table").as_table();
    }

    // Reports every key nobody asked for; what was read stands.
    void Finish() const
    {
        for (auto&& [key, node] : table_) {
            std::string name(key.str());
            if (!used_.count(name))
                Keep(ManifestError{LineOf(node), KeyPath(name), "unknown key", FileOf(node)});
        }
    }

private:
    const toml::table& table_;
    std::string path_;
    std::set<std::string> used_;
};

// ------------------------------------------------------------------ names

bool IsReservedDeviceName(const std::string& component)
{
    std::string base = Lower(component.substr(0, component.find('.')));
    static const char* const Names[] = {"con", "prn", "aux", "nul"};
    for (const char* name : Names)
        if (base == name)
            return true;
    return base.size() == 4 && (base.compare(0, 3, "com") == 0 || base.compare(0, 3, "lpt") == 0) &&
           base[3] >= '1' && base[3] <= '9';
}

// A problem with one file or folder name component, or empty.
std::string ComponentProblem(const std::string& component)
{
    if (component.empty())
        return "has an empty folder name (two '\\' in a row, or one at the start or end)";
    if (component == "." || component == "..")
        return "may not use '.' or '..' (files stay inside their folder)";
    for (char c : component) {
        unsigned char u = static_cast<unsigned char>(c);
        if (u < 0x20)
            return "has a control character";
        if (std::strchr("<>:\"|?*/", c))
            return std::string("has the character '") + c + "', which Windows does not allow in file names";
    }
    char last = component.back();
    if (last == ' ' || last == '.')
        return "has a name ending in a space or '.', which Windows drops";
    if (IsReservedDeviceName(component))
        return "uses the device name '" + component + "'";
    return std::string();
}

// Splits at '\'; checks every component.
std::string RelativePathProblem(const std::string& path)
{
    if (path.empty())
        return "is empty";
    size_t start = 0;
    for (;;) {
        size_t end = path.find('\\', start);
        std::string problem = ComponentProblem(path.substr(start, end == std::string::npos ? end : end - start));
        if (!problem.empty())
            return problem;
        if (end == std::string::npos)
            return std::string();
        start = end + 1;
    }
}

// A path inside the install folder, '*' and '?' allowed: never a drive,
// a root, a climb out, or the '|' that separates the patterns.
std::string KeepPatternProblem(const std::string& pattern)
{
    if (pattern.empty())
        return "is empty";
    if (pattern.find_first_of(":|\"<>") != std::string::npos)
        return "holds a character no path inside the install folder has (: | \" < >)";
    if (pattern[0] == '\\')
        return "starts with '\\': name a path inside the install folder";
    size_t start = 0;
    for (;;) {
        size_t end = pattern.find('\\', start);
        std::string part = pattern.substr(start, end == std::string::npos ? end : end - start);
        if (part.empty() || part == "." || part == "..")
            return "has an empty, '.' or '..' part";
        if (end == std::string::npos)
            return std::string();
        start = end + 1;
    }
}

std::string Slashes(std::string path)
{
    std::replace(path.begin(), path.end(), '/', '\\');
    return path;
}

// Folder macros the installer expands at the start of the default folder.
const char* const FolderMacros[] = {"#windows#", "#system#", "#program files#", "#user program files#"};
const char FolderMacroList[] = "#Windows#, #System#, #Program Files#, #User Program Files#";

std::string FolderProblem(const std::string& folder)
{
    if (folder.empty())
        return "is empty";
    for (char c : folder) {
        if (static_cast<unsigned char>(c) < 0x20)
            return "has a control character";
        if (std::strchr("<>\"|?*/", c))
            return std::string("has the character '") + c + "', which Windows does not allow in folder names";
    }
    if (folder[0] == '#') {
        size_t close = folder.find('#', 1);
        if (close == std::string::npos)
            return std::string("starts with '#' but has no closing '#' (macros: ") + FolderMacroList + ")";
        std::string macro = Lower(folder.substr(0, close + 1));
        bool known = false;
        for (const char* m : FolderMacros)
            known = known || macro == m;
        if (!known)
            return "uses the unknown folder macro " + folder.substr(0, close + 1) + " (macros: " + FolderMacroList +
                   ")";
    }
    return std::string();
}

// ------------------------------------------------------------------ texts

// Slots that the installer fills with one argument. 'e': an error text,
// formatted only when it contains "%s".
struct FormatRule {
    int group, index;
    char kind; // 's', 'd' or 'e'
    const char* argument;
};
const FormatRule FormatRules[] = {
    {2, 7, 'd', "the size in megabytes"},   {3, 2, 's', "the install folder"},
    {5, 4, 's', "the error text"},          {6, 9, 'e', "the file"},
    {6, 16, 'e', "the file"},               {6, 17, 'e', "the file"},
    {6, 21, 'e', "the file"},               {6, 22, 'e', "the file"},
    {6, 28, 'd', "the disk number"},        {6, 29, 's', "the file"},
    {6, 30, 's', "the file"},
};

std::string FormatProblem(const std::string& text, const FormatRule& rule)
{
    if (rule.kind == 'e' && text.find("%s") == std::string::npos)
        return std::string(); // shown as it stands
    char expected = rule.kind == 'd' ? 'd' : 's';
    int count = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%')
            continue;
        size_t j = i + 1;
        if (j < text.size() && text[j] == '%') {
            i = j;
            continue;
        }
        if (expected == 'd' && j < text.size() && text[j] == 'l')
            ++j;
        char c = j < text.size() ? text[j] : 0;
        bool match = expected == 's' ? c == 's' : (c == 'd' || c == 'i' || c == 'u');
        if (!match)
            return "'%" + std::string(c ? 1 : 0, c) + "' is not a placeholder here; it takes one %" +
                   expected + " (" + rule.argument + "); write %% for a percent sign";
        ++count;
        i = j;
    }
    if (count > 1)
        return "has " + std::to_string(count) + " placeholders; it takes one %" + std::string(1, expected) +
               " (" + rule.argument + ")";
    return std::string();
}

struct NamedText {
    const char* name;
    int index;
};

struct PageTexts {
    const char* name;
    int group;
    std::vector<NamedText> keys;
};

const std::vector<PageTexts>& Pages()
{
    static const std::vector<PageTexts> pages = {
        {"welcome", 0, {{"heading", 0}, {"text1", 1}, {"text2", 2}, {"text3", 3}, {"text4", 4}}},
        {"information", 1, {{"heading", 0}, {"text1", 1}, {"text2", 2}, {"text3", 3}, {"text4", 4}}},
        {"directory",
         2,
         {{"heading", 0},
          {"text1", 1},
          {"text2", 2},
          {"text3", 3},
          {"text4", 4},
          {"required_label", 5},
          {"available_label", 6},
          {"size_format", 7}}},
        {"ready", 3, {{"heading", 0}, {"text1", 1}, {"text2", 2}, {"text3", 3}, {"text4", 4}}},
        {"progress", 4, {{"heading", 0}, {"text1", 1}, {"text2", 2}, {"text3", 3}, {"text4", 4}}},
        {"finish",
         5,
         {{"heading", 0},
          {"text1", 1},
          {"text2", 2},
          {"text3", 3},
          {"error_format", 4},
          {"view_button", 5},
          {"launch_checkbox", 6},
          {"restart_notice", 7}}},
        {"messages",
         6,
         {{"browse_title", 1},
          {"browse_folder_label", 2},
          {"browse_drives_label", 3},
          {"checking", 4},
          {"invalid_folder", 5},
          {"create_folder", 6},
          {"write_protected", 7},
          {"cannot_install", 8},
          {"access_check_failed", 9},
          {"disk_space", 11},
          {"cancel_installing", 13},
          {"exit_question", 14},
          {"not_completed", 15},
          {"cannot_open", 16},
          {"cannot_create", 17},
          {"checksum_error", 21},
          {"access_denied", 22},
          {"insert_disk", 28},
          {"newer_file", 29},
          {"other_language", 30},
          {"invalid_data", 31}}},
        {"buttons",
         7,
         {{"back", 0}, {"next", 1}, {"exit", 2}, {"start", 3}, {"ok", 4}, {"cancel", 5}, {"restart", 6}}},
    };
    return pages;
}

const int MaxTextIndex = 255;

struct Slot {
    std::string text;
    SourceRef ref;
    std::string file; // the file the text was read from, as the manifest names it; empty for a string
};

bool IsInformationText(int group, int index) { return group == 1 && index == 1; }

// A text as the package stores it: the information text fills a
// multi-line edit field, which breaks lines only at CR LF.
std::string StoredText(int group, int index, const std::string& text)
{
    if (!IsInformationText(group, index))
        return text;
    std::string crlf;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r'))
            crlf.push_back('\r');
        crlf.push_back(text[i]);
    }
    return crlf;
}

// Why a text is too long for the control or box that shows it, or empty.
std::string TextLengthProblem(int group, int index, const std::string& text, const std::string& file)
{
    size_t bound = IsInformationText(group, index) ? MaxInformationText : MaxShownText;
    size_t stored = StoredText(group, index, text).size();
    if (stored <= bound)
        return std::string();
    std::string length = file.empty() ? "is " + std::to_string(stored) + " characters long"
                                      : "'" + file + "' is " + std::to_string(stored) + " bytes";
    if (stored != text.size())
        length += " once its line breaks are CR LF";
    return length + "; at most " + std::to_string(bound) + " fit";
}

std::string Replace(std::string text, const std::string& what, const std::string& with)
{
    for (size_t at = 0; (at = text.find(what, at)) != std::string::npos; at += with.size())
        text.replace(at, what.size(), with);
    return text;
}

// The wording a package gets for every text the manifest leaves out.
// "<product>" stands for the product name.
std::map<std::pair<int, int>, std::string> DefaultTexts(bool folderEditable)
{
    std::map<std::pair<int, int>, std::string> t;
    // Page 0: welcome.
    t[{0, 0}] = "Welcome";
    t[{0, 1}] = "Welcome to the <product> Setup program. It will install <product> on your computer.";
    t[{0, 2}] = "Please close all other programs before you continue, so that Setup can replace "
                "files that they may be using.";
    t[{0, 3}] = "Click Next to continue, or Exit to leave Setup without installing anything.";
    t[{0, 4}] = "";
    // Page 1: information; index 1 (the text itself) is empty unless the
    // manifest gives one, and then the page is shown.
    t[{1, 0}] = "Information";
    t[{1, 1}] = "";
    t[{1, 2}] = "Please read the following information before you continue.";
    t[{1, 3}] = "";
    t[{1, 4}] = "";
    // Page 2: install folder. 2..4 come back after a failed check.
    t[{2, 0}] = "Installation Folder";
    t[{2, 1}] = "Setup will install <product> in the following folder.";
    t[{2, 2}] = folderEditable ? "To install in this folder, click Next. To install in a different folder, "
                                 "type its name below or click Browse."
                               : "To install in this folder, click Next.";
    t[{2, 3}] = "";
    t[{2, 4}] = "";
    t[{2, 5}] = "Space required:";
    t[{2, 6}] = "Space available:";
    t[{2, 7}] = "%d MB";
    // Page 3: ready. Index 2 is a format: %s = the folder.
    t[{3, 0}] = "Ready to Install";
    t[{3, 1}] = "Setup is ready to install <product>.";
    t[{3, 2}] = "The files will be installed in:\n%s";
    t[{3, 3}] = "Click Start to begin the installation, or Back to change the folder.";
    t[{3, 4}] = "";
    // Page 4: progress.
    t[{4, 0}] = "Installing";
    t[{4, 1}] = "Setup is installing <product>.";
    t[{4, 2}] = "Please wait while the files are copied to your computer.";
    t[{4, 3}] = "";
    t[{4, 4}] = "";
    // Page 5: finish. 2 stays empty so that the launch box can move up;
    // 4 is the error format; 5 and 6 are filled in from the files.
    t[{5, 0}] = "Setup Complete";
    t[{5, 1}] = "Setup has finished installing <product> on your computer.";
    t[{5, 2}] = "";
    t[{5, 3}] = "Click Exit to close Setup.";
    t[{5, 4}] = "Setup could not complete the installation.\n\n%s";
    t[{5, 5}] = "";
    t[{5, 6}] = "";
    t[{5, 7}] = "Windows must be restarted to finish the installation. Click Restart to restart it now.";
    // Group 6: title and messages.
    t[{6, 0}] = "<product> Setup";
    t[{6, 1}] = "Please select a directory";
    t[{6, 2}] = "Directory name:";
    t[{6, 3}] = "Drives";
    t[{6, 4}] = "Checking...";
    t[{6, 5}] = "Invalid directory.";
    t[{6, 6}] = "The destination directory doesn't exist. Do you want it to be created?";
    t[{6, 7}] = "One or more files are write-protected. Do you want to overwrite them anyway?";
    t[{6, 8}] = "This program cannot install <product> because of the following reason:";
    t[{6, 9}] = "The access to the following file is denied:\n%s";
    t[{6, 10}] = "";
    t[{6, 11}] = "There is not enough disk space in the target directory. Do you want to try anyway?";
    t[{6, 12}] = "";
    t[{6, 13}] = "Do you want to cancel the installation?";
    t[{6, 14}] = "Install has not completed. Are you sure you want to exit?";
    t[{6, 15}] = "The Install wizard did not complete the installation successfully.";
    t[{6, 16}] = "Cannot open the following file:\n%s";
    t[{6, 17}] = "Cannot create the following file:\n%s";
    for (int i = 18; i <= 20; ++i)
        t[{6, i}] = "";
    t[{6, 21}] = "CRC error - cannot install the following file:\n%s";
    t[{6, 22}] = "The access to the following file is denied:\n%s";
    for (int i = 23; i <= 27; ++i)
        t[{6, i}] = "";
    t[{6, 28}] = "Please insert disk number %d.";
    t[{6, 29}] = "A newer version of the following file is already installed:\n%s\n\n"
                 "Do you want to replace it with the older version?";
    t[{6, 30}] = "The following file is already installed in another language:\n%s\n\n"
                 "Do you want to replace it?";
    t[{6, 31}] = "This file contains invalid data.";
    // Group 7: buttons.
    const char* buttons[] = {"< &Back", "&Next >", "E&xit", "&Start", "OK", "&Cancel", "&Restart"};
    for (int i = 0; i < 7; ++i)
        t[{7, i}] = buttons[i];
    return t;
}

// ------------------------------------------------------------ the parser

class Parser {
public:
    Parser(const std::string& path, Manifest* manifest, const std::vector<std::string>& searchDirs,
           const std::map<std::string, std::string>& defines)
        : path_(path), m_(*manifest), searchDirs_(searchDirs), defines_(defines)
    {
    }
    ~Parser() { ActiveVariables = nullptr; }

    void Run(const toml::table& root);

private:
    struct Expansion; // the files a folder or pattern names
    SourceRef Ref(unsigned line, const std::string& key) const { return SourceRef{path_, line, key}; }
    // Where a value was written: its file (the manifest or an included one).
    SourceRef RefAt(const toml::node& node, const std::string& key) const
    {
        std::string file = FileOf(node);
        return SourceRef{file.empty() ? path_ : file, LineOf(node), key};
    }
    // A relative path names a file beside the manifest that wrote it
    // (`node`'s file), then in the search folders.
    std::string Resolve(const std::string& relative, const toml::node* node) const
    {
        if (relative.empty() || relative[0] == '/')
            return relative;
        std::string file = node ? FileOf(*node) : std::string();
        std::string beside = (file.empty() ? m_.baseDir : DirectoryOf(file)) + "/" + relative;
        if (Exists(beside))
            return beside;
        for (const std::string& dir : searchDirs_)
            if (Exists(dir + "/" + relative))
                return dir + "/" + relative;
        return beside; // reported as missing where it is used
    }
    static bool Exists(const std::string& path)
    {
        struct stat info;
        return ::stat(path.c_str(), &info) == 0;
    }

    void ReadProduct(Reader& root);
    void ReadWizard(Reader& root);
    void ReadFolder(Reader& root);
    void ReadBackground(Reader& root);
    void ReadFrame(Reader& root);
    void ReadTexts(Reader& root);
    void ReadTextTable(Reader& reader, const PageTexts& page);
    void SetText(int group, int index, const std::string& text, const SourceRef& ref,
                 const std::string& file = std::string());
    std::string TextValue(Reader& reader, const std::string& key, const toml::node& node, std::string* file);
    void ReadFiles(Reader& root);
    void ReadFile(const toml::table& table, size_t i);
    void ReadFileSource(Reader& r, ManifestFile& f, Expansion* many);
    void ReadUninstaller(Reader& root);
    void CheckFiles();
    void BuildGroups();

    std::string path_;
    Manifest& m_;
    std::vector<std::string> searchDirs_;
    std::map<std::pair<int, int>, Slot> texts_;
    std::string startPageRaw_;
    unsigned uninstallNameLine_ = 1;
    std::map<std::string, std::string> defines_; // -D, then [define] where -D has none
    void ReadDefines(Reader& root);
    void ExpandFiles(Reader& r, const ManifestFile& f, const Expansion& many);
    bool ReadFilePattern(Reader& r, ManifestFile& f, const std::string& source, const toml::node* sourceNode,
                         Expansion* many);
};

void Parser::Run(const toml::table& root)
{
    Reader reader(root, "");
    // Every string may use the variables: an error here stops the reading.
    ReadDefines(reader);
    Independently([&] { ReadProduct(reader); });
    Independently([&] { ReadWizard(reader); });
    Independently([&] { ReadFolder(reader); });
    Independently([&] { ReadBackground(reader); });
    Independently([&] { ReadFrame(reader); });
    Independently([&] { ReadTexts(reader); });
    Independently([&] { ReadFiles(reader); });
    Independently([&] { ReadUninstaller(reader); });
    reader.Finish();
    CheckFiles();
    BuildGroups();
}

// [define]: NAME = "value", for ${NAME} in any string; -D NAME=VALUE on
// the command line wins.
void Parser::ReadDefines(Reader& root)
{
    ActiveVariables = &defines_;
    const toml::table* table = root.Table("define");
    if (!table)
        return;
    Reader r(*table, "define");
    for (auto&& [key, node] : *table) {
        std::string name(key.str());
        const toml::node* found = r.Find(name);
        if (!IsVariableName(name))
            r.Fail(found, name, "is not a variable name (letters, digits and _, not starting with a digit)");
        std::string value(r.Expect(found, name, toml::node_type::string, "a string").as_string()->get());
        defines_.insert({name, value});
    }
    r.Finish();
}

void Parser::ReadProduct(Reader& root)
{
    const toml::table* table = root.Table("product");
    if (!table)
        throw ManifestError{1, "product", "missing: the manifest needs a [product] table with a name"};
    Reader r(*table, "product");
    const toml::node* node;
    if (!r.Ansi("name", &m_.productName, PathLimit, &node))
        r.Fail(nullptr, "name", "missing: every package needs a product name");
    if (m_.productName.empty())
        r.Fail(node, "name", "is empty");
    std::string title;
    if (r.Ansi("title", &title, PathLimit, &node)) {
        if (title.empty())
            r.Fail(node, "title", "is empty (it captions every window and message box)");
        SetText(6, 0, title, RefAt(*node, "product.title"));
    }
    if (r.Ansi("uninstall_name", &m_.uninstallName, PathLimit - UninstallKeyPrefixLength, &node)) {
        uninstallNameLine_ = LineOf(*node);
        if (m_.uninstallName.empty() || m_.uninstallName.find('\\') != std::string::npos)
            r.Fail(node, "uninstall_name", "must be a non-empty registry key name without '\\'");
    }
    // "user": installed for the one user, without administrator rights.
    bool present;
    if (r.Choice("privileges", {"admin", "user"}, 0, &present) == 1)
        m_.installOptions |= 2u;
    // false: every file its own stream, for stubs that predate copies.
    m_.storeOnce = r.Bool("store_once", true);
    // false: a cancel or failure leaves what was installed so far.
    if (!r.Bool("rollback", true))
        m_.installOptions &= ~8u;
    // false: a new version installs beside the old one's files as before.
    m_.upgrade = r.Bool("upgrade", true);
    if (const toml::node* keep = r.Find("upgrade_keep")) {
        const toml::array* list = keep->as_array();
        if (!list)
            r.Fail(keep, "upgrade_keep", std::string("expected a list of paths, found ") + TypeName(*keep));
        for (const toml::node& item : *list) {
            if (!item.is_string())
                r.Fail(&item, "upgrade_keep", std::string("expected a path, found ") + TypeName(item));
            std::string pattern = Slashes(r.ToAnsi(&item, "upgrade_keep", r.Expanded(&item, "upgrade_keep"), PathLimit));
            std::string problem = KeepPatternProblem(pattern);
            if (!problem.empty())
                r.Fail(&item, "upgrade_keep", "\"" + pattern + "\" " + problem);
            m_.upgradeKeep.push_back(pattern);
        }
    }
    // The programs' version resource: Unicode, so any character will do.
    std::string version;
    if (r.RawString("version", &version, &node)) {
        if (!ParseFileVersion(version, &m_.versionMS, &m_.versionLS))
            r.Fail(node, "version",
                   "expected one to four numbers from 0 to 65535 separated by dots (\"1.2\", \"1.2.3.4\"), found \"" +
                       version + "\"");
        m_.productVersion = version;
    }
    const std::pair<const char*, std::u16string*> texts[] = {
        {"publisher", &m_.publisher}, {"copyright", &m_.copyright}, {"description", &m_.description}};
    for (const auto& text : texts) {
        std::string raw, problem;
        if (!r.RawString(text.first, &raw, &node))
            continue;
        if (!Utf8ToUtf16(raw, text.second, &problem))
            r.Fail(node, text.first, problem);
        if (text.second->size() > MaxVersionText)
            r.Fail(node, text.first, "is " + std::to_string(text.second->size()) + " characters long; at most " +
                                         std::to_string(MaxVersionText) + " fit");
    }
    std::string icon;
    if (r.RawString("icon", &icon, &node)) {
        if (Lower(icon).size() < 4 || Lower(icon).compare(icon.size() - 4, 4, ".ico") != 0)
            r.Fail(node, "icon", "expected an icon file (.ico), found \"" + icon + "\"");
        m_.icon = Resolve(icon, node);
        m_.iconRef = RefAt(*node, "product.icon");
    }
    r.Finish();
}

void Parser::ReadWizard(Reader& root)
{
    const toml::table* table = root.Table("wizard");
    if (!table)
        return;
    Reader r(*table, "wizard");
    bool present;
    int page = r.Choice("start_page", {"welcome", "information", "directory", "ready", "progress", "finish"}, -1,
                        &present);
    if (present) {
        m_.hasStartPage = true;
        m_.startPage = static_cast<uint16_t>(page);
    }
    const toml::node* node;
    std::string templates;
    if (r.RawString("templates", &templates, &node)) {
        std::string lower = Lower(templates);
        if (lower.size() < 4 || (lower.compare(lower.size() - 3, 3, ".rc") != 0 &&
                                 lower.compare(lower.size() - 4, 4, ".res") != 0))
            r.Fail(node, "templates", "expected a resource script (.rc) or a compiled one (.res)");
        m_.templates = Resolve(templates, node);
        m_.templatesRef = RefAt(*node, "wizard.templates");
    }
    // "file": one file a tick, as packages without the record install.
    if (r.Choice("pacing", {"time", "file"}, 0, &present) == 1)
        m_.installOptions &= ~1u;
    r.Finish();
}

uint32_t RootIndex(Reader& r, const toml::node* node, const std::string& value)
{
    static const char* const Roots[4][2] = {{"hkcr", "hkey_classes_root"},
                                            {"hkcu", "hkey_current_user"},
                                            {"hklm", "hkey_local_machine"},
                                            {"hku", "hkey_users"}};
    for (uint32_t i = 0; i < 4; ++i)
        if (Lower(value) == Roots[i][0] || Lower(value) == Roots[i][1])
            return i;
    r.Fail(node, "root", "expected one of HKCR, HKCU, HKLM or HKU, found \"" + value + "\"");
}

// Whether a folder text starts with one of the machine's own folders,
// which a per-user installation may not write.
bool InSystemFolder(const std::string& folder)
{
    std::string lower = Lower(folder);
    return lower.rfind("#windows#", 0) == 0 || lower.rfind("#system#", 0) == 0;
}

// "X:\..." or "\\server\...": a profile file anywhere else is looked for
// in the Windows folder.
bool IsFullWindowsPath(const std::string& path)
{
    return (path.size() >= 3 && std::isalpha(static_cast<unsigned char>(path[0])) && path[1] == ':' &&
            path[2] == '\\') ||
           (path.size() >= 3 && path[0] == '\\' && path[1] == '\\');
}

const char PerUserReason[] = "a per-user package ([product] privileges = \"user\") ";

void Parser::ReadFolder(Reader& root)
{
    const toml::table* table = root.Table("folder");
    bool perUser = m_.PerUser();
    m_.defaultFolder = (perUser ? "#User Program Files#\\" : "#Program Files#\\") + m_.productName;
    // What a per-user installation records, it records for its user.
    if (perUser)
        m_.registryRoot = 1;
    m_.headerFlags |= 2; // editable unless the manifest says otherwise
    if (!table) {
        std::string problem = FolderProblem(m_.defaultFolder);
        if (!problem.empty())
            throw ManifestError{1, "folder.default",
                                "the default folder made from the product name " + problem +
                                    "; give [folder] default"};
        return;
    }
    Reader r(*table, "folder");
    const toml::node* node = nullptr;
    if (r.Ansi("default", &m_.defaultFolder, PathLimit, &node)) {
        std::string problem = FolderProblem(m_.defaultFolder);
        if (!problem.empty())
            r.Fail(node, "default", problem);
        const std::string& folder = m_.defaultFolder;
        bool rooted = folder[0] == '#' || folder[0] == '\\' ||
                      (folder.size() >= 3 && std::isalpha(static_cast<unsigned char>(folder[0])) && folder[1] == ':' &&
                       folder[2] == '\\');
        if (!rooted)
            m_.warnings.push_back(RefAt(*node, "folder.default").Prefix() + "'" + folder +
                                  "' is relative: the installer would take it from whatever folder it was started "
                                  "in; start it with #Program Files# or a drive (C:\\)");
        if (perUser && InSystemFolder(folder))
            r.Fail(node, "default", std::string(PerUserReason) + "cannot install into the Windows or System folder; "
                                                                   "use #User Program Files#");
    } else {
        std::string problem = FolderProblem(m_.defaultFolder);
        if (!problem.empty())
            r.Fail(nullptr, "default", "the folder made from the product name " + problem + "; give one");
    }
    if (!r.Bool("editable", true))
        m_.headerFlags &= ~2u;

    if (const toml::table* registry = r.Table("registry")) {
        Reader g(*registry, "folder.registry");
        m_.hasRegistry = true;
        std::string rootName;
        const toml::node* rootNode;
        if (g.RawString("root", &rootName, &rootNode))
            m_.registryRoot = RootIndex(g, rootNode, rootName);
        const toml::node* keyNode;
        if (!g.Ansi("key", &m_.registryKey, PathLimit, &keyNode))
            g.Fail(nullptr, "key", "missing: the registry key that holds the folder");
        if (m_.registryKey.empty() || m_.registryKey[0] == '\\' || m_.registryKey.back() == '\\')
            g.Fail(keyNode, "key", "must be a key path such as \"Software\\\\Vendor\\\\Product\"");
        m_.hasRegistryValue = g.Ansi("value", &m_.registryValue, PathLimit);
        if (g.Bool("record", false)) {
            m_.headerFlags |= 4;
            if (perUser && m_.registryRoot != 1)
                g.Fail(rootNode, "root", std::string(PerUserReason) + "records its folder under HKCU");
        }
        g.Finish();
    }
    if (const toml::table* profile = r.Table("profile")) {
        Reader g(*profile, "folder.profile");
        m_.hasProfile = true;
        const char* keys[] = {"file", "section", "key"};
        std::string* fields[] = {&m_.profileFile, &m_.profileSection, &m_.profileKey};
        for (int i = 0; i < 3; ++i) {
            const toml::node* field;
            if (!g.Ansi(keys[i], fields[i], PathLimit, &field))
                g.Fail(nullptr, keys[i], "missing: a profile location needs file, section and key");
            if (fields[i]->empty())
                g.Fail(field, keys[i], "is empty");
        }
        if (g.Bool("record", false)) {
            m_.headerFlags |= 8;
            if (perUser && !IsFullWindowsPath(m_.profileFile))
                g.Fail(g.Find("file"), "file", std::string(PerUserReason) +
                                                   "cannot record into a profile file in the Windows folder; "
                                                   "give a full path (C:\\...)");
        }
        g.Finish();
    }
    r.Finish();
}

uint32_t Colour(Reader& r, const std::string& key, uint32_t fallback)
{
    const toml::node* node;
    std::string text;
    if (!r.RawString(key, &text, &node))
        return fallback;
    unsigned value = 0;
    bool ok = text.size() == 7 && text[0] == '#';
    for (size_t i = 1; ok && i < 7; ++i) {
        char c = static_cast<char>(std::tolower(static_cast<unsigned char>(text[i])));
        ok = std::isxdigit(static_cast<unsigned char>(c)) != 0;
        value = value * 16 + static_cast<unsigned>(c <= '9' ? c - '0' : c - 'a' + 10);
    }
    if (!ok)
        r.Fail(node, key, "expected a colour as \"#RRGGBB\", found \"" + text + "\"");
    // COLORREF is 0x00BBGGRR.
    return (value >> 16 & 0xFF) | (value & 0xFF00) | (value & 0xFF) << 16;
}

void PutU32(uint8_t* p, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<uint8_t>(v >> (8 * i));
}

void Parser::ReadBackground(Reader& root)
{
    const toml::table* table = root.Table("background");
    bool fullScreen = false;
    bool titleGiven = false;
    unsigned line = 1;
    uint32_t text = 0xFFFFFF, shadow = 0;
    std::string face = "Times New Roman";
    int64_t size = 40, weight = 700;
    bool italic = true, underline = false;
    if (table) {
        Reader r(*table, "background");
        line = r.Line();
        fullScreen = r.Bool("full_screen", false);
        const toml::node* node;
        titleGiven = r.Ansi("title", &m_.backgroundTitle, MaxShownText, &node);
        std::string picture;
        if (r.RawString("picture", &picture, &node)) {
            m_.backgroundPicture = Resolve(picture, node);
            m_.backgroundPictureRef = RefAt(*node, "background.picture");
        }
        text = Colour(r, "text_color", text);
        shadow = Colour(r, "shadow_color", shadow);
        if (const toml::table* font = r.Table("font")) {
            Reader f(*font, "background.font");
            if (f.Ansi("face", &face, FaceNameLimit, &node) && face.empty())
                f.Fail(node, "face", "is empty");
            size = f.Integer("size", 1, 1000, size);
            weight = f.Integer("weight", 1, 1000, weight);
            italic = f.Bool("italic", italic);
            underline = f.Bool("underline", underline);
            f.Finish();
        }
        r.Finish();
    }
    if (fullScreen)
        m_.headerFlags |= 1;
    // Full screen shows the product name unless the manifest says otherwise
    // (an empty title shows none).
    if (!titleGiven && fullScreen)
        m_.backgroundTitle = m_.productName;
    m_.hasBackgroundTitle = !m_.backgroundTitle.empty();
    if (!fullScreen && (m_.hasBackgroundTitle || !m_.backgroundPicture.empty()))
        m_.warnings.push_back(Ref(line, "background").Prefix() +
                              "the title and picture are only shown with full_screen = true");

    uint8_t* style = m_.titleStyle;
    std::memset(style, 0, sizeof m_.titleStyle);
    PutU32(style, shadow);
    PutU32(style + 4, text);
    uint8_t* font = style + 8; // LOGFONTA
    PutU32(font, static_cast<uint32_t>(-size)); // lfHeight < 0: character height in pixels
    PutU32(font + 16, static_cast<uint32_t>(weight));
    font[20] = italic;
    font[21] = underline;
    std::memcpy(font + 28, face.data(), face.size()); // lfFaceName, NUL-padded
}

void Parser::ReadFrame(Reader& root)
{
    const toml::table* table = root.Table("frame");
    if (!table)
        return;
    Reader r(*table, "frame");
    const toml::node* node;
    std::string picture;
    if (r.RawString("picture", &picture, &node)) {
        m_.framePicture = Resolve(picture, node);
        m_.framePictureRef = RefAt(*node, "frame.picture");
    }
    r.Finish();
}

void Parser::SetText(int group, int index, const std::string& text, const SourceRef& ref, const std::string& file)
{
    auto found = texts_.find({group, index});
    if (found != texts_.end())
        throw ManifestError{ref.line, ref.key,
                            "sets text " + std::to_string(group) + "." + std::to_string(index) +
                                " again (already set by " + found->second.ref.key + " on line " +
                                std::to_string(found->second.ref.line) + ")"};
    for (const FormatRule& rule : FormatRules) {
        if (rule.group == group && rule.index == index) {
            std::string problem = FormatProblem(text, rule);
            if (!problem.empty())
                throw ManifestError{ref.line, ref.key, problem};
        }
    }
    std::string problem = TextLengthProblem(group, index, text, file);
    if (!problem.empty())
        throw ManifestError{ref.line, ref.key, problem};
    texts_[{group, index}] = Slot{text, ref, file};
}

// A text is a string, or { file = "...", encoding = "utf-8" | "windows-1252" }.
// Its length is checked by SetText, as stored. `file`: the file it was
// read from, or empty.
std::string Parser::TextValue(Reader& reader, const std::string& key, const toml::node& node, std::string* file)
{
    file->clear();
    if (node.is_string())
        return reader.ToAnsi(&node, key, reader.Expanded(&node, key), std::string::npos);
    if (!node.is_table())
        reader.Fail(&node, key, std::string("expected a string or { file = \"...\" }, found ") + TypeName(node));
    Reader r(*node.as_table(), reader.KeyPath(key));
    const toml::node* fileNode;
    if (!r.RawString("file", file, &fileNode))
        r.Fail(nullptr, "", "expected { file = \"...\" }");
    int encoding = r.Choice("encoding", {"utf-8", "windows-1252"}, 0);
    r.Finish();
    std::string resolved = Resolve(*file, fileNode);
    m_.readFiles.push_back({resolved, RefAt(*fileNode, reader.KeyPath(key))});
    std::ifstream in(resolved, std::ios::binary);
    if (!in)
        r.Fail(fileNode, "file", "cannot read '" + resolved + "': " + std::strerror(errno));
    std::ostringstream content;
    content << in.rdbuf();
    if (in.bad())
        r.Fail(fileNode, "file", "cannot read '" + resolved + "'");
    std::string raw = content.str();
    std::string ansi;
    if (encoding == 0) {
        if (raw.compare(0, 3, "\xEF\xBB\xBF") == 0)
            raw.erase(0, 3);
        std::string problem;
        if (!Utf8ToAnsi(raw, &ansi, &problem))
            r.Fail(fileNode, "file", "'" + *file + "' " + problem);
    } else {
        for (char c : raw) {
            unsigned char u = static_cast<unsigned char>(c);
            if ((u < 0x20 && c != '\t' && c != '\n' && c != '\r') || (u >= 0x80 && u < 0xA0 && !Cp1252High[u - 0x80]))
                r.Fail(fileNode, "file", "'" + *file + "' has a byte (" + std::to_string(u) +
                                             ") that is not a Windows-1252 text character");
        }
        ansi = raw;
    }
    return ansi;
}

void Parser::ReadTextTable(Reader& reader, const PageTexts& page)
{
    for (const NamedText& named : page.keys) {
        const toml::node* node = reader.Find(named.name);
        if (!node)
            continue;
        Independently([&] {
            std::string file;
            std::string text = TextValue(reader, named.name, *node, &file);
            SetText(page.group, named.index, text, RefAt(*node, reader.KeyPath(named.name)), file);
        });
    }
    reader.Finish();
}

bool AllDigits(const std::string& text)
{
    return !text.empty() && text.size() <= 3 &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// Named tables per page, and numbered texts: "6.31" = "..." (quoted) or
// 6.31 = "..." (a dotted key: table "6", key "31").
void Parser::ReadTexts(Reader& root)
{
    const toml::table* table = root.Table("texts");
    if (table) {
        Reader r(*table, "texts");
        for (const PageTexts& page : Pages()) {
            Independently([&] {
                if (const toml::table* sub = r.Table(page.name)) {
                    Reader p(*sub, r.KeyPath(page.name));
                    ReadTextTable(p, page);
                }
            });
        }
        for (auto&& [key, node] : *table) {
            std::string name(key.str());
            bool numbered = false;
            int group = -1, index = -1;
            size_t dot = name.find('.');
            if (dot != std::string::npos && AllDigits(name.substr(0, dot)) && AllDigits(name.substr(dot + 1))) {
                group = std::stoi(name.substr(0, dot));
                index = std::stoi(name.substr(dot + 1));
                numbered = true;
            }
            if (numbered || (AllDigits(name) && node.is_table())) {
                r.Find(name);
                std::vector<std::pair<int, const toml::node*>> items;
                if (numbered) {
                    items.push_back({index, &node});
                } else {
                    group = std::stoi(name);
                    for (auto&& [sub, value] : *node.as_table()) {
                        std::string index_text(sub.str());
                        if (!AllDigits(index_text))
                            Keep(ManifestError{LineOf(value), r.KeyPath(name + "." + index_text),
                                               "expected a text number such as 6.31 (group.index)", FileOf(value)});
                        else
                            items.push_back({std::stoi(index_text), &value});
                    }
                }
                for (auto& item : items) {
                    Independently([&] {
                        std::string shown = std::to_string(group) + "." + std::to_string(item.first);
                        if (group >= TextGroupCount)
                            r.Fail(item.second, shown, "there are text groups 0 to 8 only");
                        if (item.first > MaxTextIndex)
                            r.Fail(item.second, shown, "text numbers go up to " + std::to_string(MaxTextIndex));
                        std::string file;
                        std::string text = TextValue(r, shown, *item.second, &file);
                        SetText(group, item.first, text, Ref(LineOf(*item.second), "texts." + shown), file);
                    });
                }
            }
        }
        r.Finish();
    }
}

// ------------------------------------------------------------------ files

// '*' and '?' within one path component, '**' across them ("**/" also
// matches no folder at all).
bool GlobMatch(const char* pattern, const char* text)
{
    for (; *pattern; ++pattern, ++text) {
        if (pattern[0] == '*' && pattern[1] == '*') {
            const char* rest = pattern + 2;
            if (*rest == '/' && GlobMatch(rest + 1, text))
                return true;
            for (const char* at = text;; ++at) {
                if (GlobMatch(rest, at))
                    return true;
                if (!*at)
                    return false;
            }
        }
        if (*pattern == '*') {
            for (const char* at = text;; ++at) {
                if (GlobMatch(pattern + 1, at))
                    return true;
                if (!*at || *at == '/')
                    return false;
            }
        }
        if (!*text || (*pattern == '?' ? *text == '/' : *pattern != *text))
            return false;
    }
    return !*text;
}

bool HasWildcard(const std::string& text) { return text.find_first_of("*?") != std::string::npos; }

// An exclude pattern without '/' is matched against the file name at any
// depth, one with '/' against the whole relative path.
bool Excluded(const std::vector<std::string>& excludes, const std::string& relative)
{
    std::string base = relative.substr(relative.find_last_of('/') + 1);
    for (const std::string& pattern : excludes)
        if (GlobMatch(pattern.c_str(), pattern.find('/') == std::string::npos ? base.c_str() : relative.c_str()))
            return true;
    return false;
}

// The regular files below `root`, as paths relative to it, in byte order
// (so a package does not depend on the order the disk lists them in).
// Linked folders are not followed.
std::vector<std::string> FilesBelow(const std::string& root)
{
    std::vector<std::string> out;
    std::vector<std::string> pending = {""};
    while (!pending.empty()) {
        std::string folder = pending.back();
        pending.pop_back();
        std::string path = folder.empty() ? root : root + "/" + folder;
        DIR* dir = ::opendir(path.c_str());
        if (!dir)
            continue;
        while (dirent* entry = ::readdir(dir)) {
            std::string name = entry->d_name;
            if (name == "." || name == "..")
                continue;
            std::string relative = folder.empty() ? name : folder + "/" + name;
            struct stat info;
            if (::lstat((root + "/" + relative).c_str(), &info) != 0)
                continue;
            if (S_ISDIR(info.st_mode))
                pending.push_back(relative);
            else if (S_ISREG(info.st_mode) ||
                     (S_ISLNK(info.st_mode) && ::stat((root + "/" + relative).c_str(), &info) == 0 &&
                      S_ISREG(info.st_mode)))
                out.push_back(relative);
        }
        ::closedir(dir);
    }
    std::sort(out.begin(), out.end());
    return out;
}

bool IsMenuMacro(const std::string& entry)
{
    std::string lower = Lower(entry);
    return lower == "#start menu#" || lower == "#startup#";
}

// The file to pack and its destination name (by default the source's).
void Parser::ReadFileSource(Reader& r, ManifestFile& f, Expansion* many)
{
    bool external = f.uninstallMode == UninstallExternal;
    const toml::node* sourceNode;
    std::string source;
    if (r.RawString("source", &source, &sourceNode)) {
        if (source.empty())
            r.Fail(sourceNode, "source", "is empty");
        f.source = Resolve(source, sourceNode);
        f.sourceRef = RefAt(*sourceNode, r.KeyPath("source"));
        if (!external && ReadFilePattern(r, f, source, sourceNode, many))
            return;
    } else if (!external) {
        r.Fail(nullptr, "source", "missing: the file to pack (only external files may leave it out)");
    }

    const toml::node* nameNode = nullptr;
    std::string name;
    if (r.Ansi("name", &name, PathLimit, &nameNode)) {
        name = Slashes(name);
    } else if (!source.empty()) {
        std::string base = source.substr(source.find_last_of("/\\") + 1);
        name = r.ToAnsi(sourceNode, "source", base, PathLimit);
    } else {
        r.Fail(nullptr, "name", "missing: an external file without a source needs a name");
    }
    std::string problem = RelativePathProblem(name);
    if (!problem.empty())
        r.Fail(nameNode ? nameNode : sourceNode, nameNode ? "name" : "source",
               nameNode ? problem : "the file name taken from it " + problem + "; give a name");
    f.name = name;
}

// Where the file goes and what the installer does with it.
void ReadFileHandling(Reader& r, ManifestFile& f)
{
    bool external = f.uninstallMode == UninstallExternal;
    f.location = static_cast<uint8_t>(r.Choice("location", {"install", "windows", "shared", "font"}, LocationInstall));
    f.afterAction = static_cast<uint8_t>(r.Choice("after", {"none", "view", "launch"}, AfterNone));
    f.sharedCount = r.Bool("shared_count", false);
    if (r.Choice("uninstall", {"remove", "leave"}, 0) == 1 && !external)
        f.uninstallMode = UninstallLeave;
    f.specialKind = static_cast<uint8_t>(r.Choice("special", {"none", "screen_saver", "self_register"}, SpecialNone));
    f.iconIndex = static_cast<uint16_t>(r.Integer("icon_index", 0, 65535, 0));
    f.uninstaller = r.Bool("uninstaller", false);
    f.checkVersion = r.Bool("check_version", false);
    f.checkLanguage = r.Bool("check_language", false);
    f.keepTimes = r.Bool("keep_times", !external);
}

// Overrides of the version resource, only with the check they serve.
void ReadFileVersion(Reader& r, ManifestFile& f)
{
    const toml::node* versionNode;
    std::string version;
    if (r.RawString("version", &version, &versionNode)) {
        unsigned parts[4];
        char tail;
        if (std::sscanf(version.c_str(), "%u.%u.%u.%u%c", &parts[0], &parts[1], &parts[2], &parts[3], &tail) != 4 ||
            parts[0] > 65535 || parts[1] > 65535 || parts[2] > 65535 || parts[3] > 65535 ||
            version.find_first_not_of("0123456789.") != std::string::npos)
            r.Fail(versionNode, "version", "expected four numbers 0..65535 such as \"1.2.0.15\", found \"" +
                                               version + "\"");
        if (!f.checkVersion)
            r.Fail(versionNode, "version", "is only used with check_version = true");
        f.hasVersion = true;
        f.versionMS = parts[0] << 16 | parts[1];
        f.versionLS = parts[2] << 16 | parts[3];
    }
    bool languageGiven;
    const toml::node* languageNode = r.Find("language");
    f.language = static_cast<uint16_t>(r.Integer("language", 0, 65535, 0, &languageGiven));
    if (languageGiven) {
        if (!f.checkLanguage)
            r.Fail(languageNode, "language", "is only used with check_language = true");
        f.hasLanguage = true;
    }
}

// A shortcut's name and arguments; `backslashProblem` says why a '\' in
// the name is refused.
void ReadShortcut(Reader& s, std::string* name, std::string* args, const char* backslashProblem)
{
    const toml::node* node;
    if (!s.Ansi("name", name, PathLimit - 4, &node))
        s.Fail(nullptr, "name", "missing: the name of the shortcut");
    std::string linkProblem = ComponentProblem(*name);
    if (name->find('\\') != std::string::npos)
        linkProblem = backslashProblem;
    if (!linkProblem.empty())
        s.Fail(node, "name", linkProblem);
    s.Ansi("args", args, PathLimit);
}

// `folders`: one string or an array, joined with ';' as the installer
// reads them.
std::string ReadMenuFolders(Reader& s)
{
    std::vector<std::string> folders;
    const toml::node* foldersNode = s.Find("folders");
    if (foldersNode) {
        if (foldersNode->is_string()) {
            folders.push_back(s.ToAnsi(foldersNode, "folders", std::string(foldersNode->as_string()->get()),
                                       PathLimit));
        } else if (const toml::array* list = foldersNode->as_array()) {
            for (size_t k = 0; k < list->size(); ++k) {
                const toml::node& item = *list->get(k);
                std::string key = "folders[" + std::to_string(k) + "]";
                if (!item.is_string())
                    s.Fail(&item, key, std::string("expected a string, found ") + TypeName(item));
                folders.push_back(s.ToAnsi(&item, key, std::string(item.as_string()->get()), PathLimit));
            }
        } else {
            s.Fail(foldersNode, "folders", std::string("expected a string or an array of strings, found ") +
                                               TypeName(*foldersNode));
        }
    }
    for (std::string& folder : folders) {
        folder = Slashes(folder);
        std::string folderProblem;
        if (folder.find(';') != std::string::npos)
            folderProblem = "may not contain ';' (give several folders as an array)";
        else if (folder[0] == '#' && !IsMenuMacro(folder))
            folderProblem = "\"" + folder + "\" is not #Start Menu# or #Startup#";
        else if (!folder.empty() && folder[0] != '#')
            folderProblem = RelativePathProblem(folder);
        if (!folderProblem.empty())
            s.Fail(foldersNode, "folders", folderProblem);
    }
    // An empty part after the last ';' is dropped by the installer: the
    // Programs folder itself ("") goes first instead.
    std::stable_partition(folders.begin(), folders.end(), [](const std::string& s) { return s.empty(); });
    if (folders.size() > 1 && folders[1].empty())
        s.Fail(foldersNode, "folders", "names the Programs folder (\"\") twice");
    std::string joined;
    for (size_t k = 0; k < folders.size(); ++k)
        joined += (k ? ";" : "") + folders[k];
    if (joined.size() > PathLimit)
        s.Fail(foldersNode, "folders", "are " + std::to_string(joined.size()) + " characters together; at most " +
                                           std::to_string(PathLimit) + " fit");
    return joined;
}

void ReadFileShortcuts(Reader& r, ManifestFile& f)
{
    if (const toml::table* menu = r.Table("start_menu")) {
        Reader s(*menu, r.KeyPath("start_menu"));
        ReadShortcut(s, &f.menuName, &f.menuArgs, "may not contain '\\' (put sub-folders in folders)");
        f.menuFolders = ReadMenuFolders(s);
        s.Finish();
    }
    if (const toml::table* desktop = r.Table("desktop")) {
        Reader d(*desktop, r.KeyPath("desktop"));
        ReadShortcut(d, &f.desktopName, &f.desktopArgs, "may not contain '\\'");
        d.Finish();
    }
}

// Combinations the installer would quietly ignore. A key's node stands
// for "given": some of them are refused even at their default value.
void CheckFileCombinations(Reader& r, const ManifestFile& f)
{
    bool external = f.uninstallMode == UninstallExternal;
    const toml::node* nameNode = r.Find("name");
    if (r.Find("shared_count") && f.sharedCount && f.location == LocationInstall)
        r.Fail(r.Find("shared_count"), "shared_count", "only counts files outside the install folder "
                                                       "(location windows, shared or font)");
    if ((f.location == LocationShared || f.location == LocationFont) && f.name.find('\\') != std::string::npos)
        r.Fail(nameNode ? nameNode : r.Find("source"), nameNode ? "name" : "source",
               "a shared system file or font goes into a folder Windows names; it cannot have sub-folders");
    if (r.Find("icon_index") && f.menuName.empty())
        r.Fail(r.Find("icon_index"), "icon_index", "is only used with a start_menu shortcut");
    if (external) {
        if (r.Find("location"))
            r.Fail(r.Find("location"), "location", "does not apply to an external file, which stays beside SETUP.EXE");
        if (f.checkVersion || f.checkLanguage)
            r.Fail(r.Find(f.checkVersion ? "check_version" : "check_language"),
                   f.checkVersion ? "check_version" : "check_language",
                   "does not apply to an external file, which is never copied");
        if (r.Find("keep_times") && f.keepTimes)
            r.Fail(r.Find("keep_times"), "keep_times", "does not apply to an external file, which is never copied");
        if (f.uninstaller)
            r.Fail(r.Find("uninstaller"), "uninstaller", "the uninstaller must be installed, not external");
        if (f.specialKind == SpecialScreenSaver)
            r.Fail(r.Find("special"), "special", "an external file is never installed as a screen saver");
        if (r.Find("shared_count") && f.sharedCount)
            r.Fail(r.Find("shared_count"), "shared_count", "does not apply to an external file");
        if (r.Find("uninstall"))
            r.Fail(r.Find("uninstall"), "uninstall", "does not apply to an external file, which is never removed");
    }
}

// What only an administrator may do: the machine's own folders, shared
// counts, fonts and libraries registered for every user.
void CheckPerUserFile(Reader& r, const ManifestFile& f)
{
    if (f.location == LocationWindows || f.location == LocationShared)
        r.Fail(r.Find("location"), "location",
               std::string(PerUserReason) + "cannot install into the Windows or System folder");
    if (f.location == LocationFont)
        r.Fail(r.Find("location"), "location",
               std::string(PerUserReason) + "cannot install fonts: they are the machine's; keep fonts in a "
                                            "machine-wide package");
    if (f.sharedCount)
        r.Fail(r.Find("shared_count"), "shared_count", std::string(PerUserReason) + "cannot count shared files");
    if (f.specialKind == SpecialSelfRegister)
        r.Fail(r.Find("special"), "special",
               std::string(PerUserReason) + "cannot register a library, which registers itself for every user");
}

struct Parser::Expansion {
    bool many = false;
    std::string root;                  // the folder the names are relative to (host path)
    std::string prefix;                // the destination folder, '\\'-terminated, or empty
    std::vector<std::string> relative; // the files, '/'-separated, in order
    const toml::node* sourceNode = nullptr;
};

// A source that is a folder or has wildcards: every file it names, below
// the folder or the pattern's fixed part, sub-folders kept. `name` is the
// destination folder; `exclude` drops files. False for a single file.
bool Parser::ReadFilePattern(Reader& r, ManifestFile& f, const std::string& source, const toml::node* sourceNode,
                             Expansion* many)
{
    struct stat info;
    bool folder = !HasWildcard(source) && ::stat(f.source.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
    const toml::node* excludeNode = r.Find("exclude");
    if (!folder && !HasWildcard(source)) {
        if (excludeNode)
            r.Fail(excludeNode, "exclude", "only for a source that is a folder or a pattern");
        return false;
    }
    // The fixed folder, then the pattern below it.
    std::string fixed = source, pattern = "**";
    if (!folder) {
        size_t wild = source.find_first_of("*?");
        size_t slash = source.rfind('/', wild);
        fixed = slash == std::string::npos ? "." : source.substr(0, slash);
        pattern = slash == std::string::npos ? source : source.substr(slash + 1);
    }
    many->many = true;
    many->sourceNode = sourceNode;
    many->root = Resolve(fixed, sourceNode);
    if (::stat(many->root.c_str(), &info) != 0 || !S_ISDIR(info.st_mode))
        r.Fail(sourceNode, "source", "'" + fixed + "' is not a folder");
    std::vector<std::string> excludes;
    if (excludeNode) {
        const toml::array* list = excludeNode->as_array();
        if (!list)
            r.Fail(excludeNode, "exclude", std::string("expected a list of patterns, found ") + TypeName(*excludeNode));
        for (const toml::node& item : *list) {
            if (!item.is_string())
                r.Fail(&item, "exclude", std::string("expected a pattern, found ") + TypeName(item));
            excludes.push_back(r.Expanded(&item, "exclude"));
        }
    }
    for (const std::string& relative : FilesBelow(many->root))
        if (GlobMatch(pattern.c_str(), relative.c_str()) && !Excluded(excludes, relative))
            many->relative.push_back(relative);
    if (many->relative.empty())
        r.Fail(sourceNode, "source", "'" + source + "' names no file" + (excludes.empty() ? "" : " (after exclude)"));
    const toml::node* nameNode = nullptr;
    std::string name;
    if (r.Ansi("name", &name, PathLimit, &nameNode) && !name.empty()) {
        name = Slashes(name);
        while (!name.empty() && name.back() == '\\')
            name.pop_back();
        std::string problem = RelativePathProblem(name);
        if (!problem.empty())
            r.Fail(nameNode, "name", problem);
        many->prefix = name + "\\";
    }
    f.name = "*";
    return true;
}

// One entry per file of a folder or pattern, each checked as a name.
void Parser::ExpandFiles(Reader& r, const ManifestFile& f, const Expansion& many)
{
    const char* single[] = {"after", "uninstaller", "start_menu", "desktop", "special", "version", "language",
                            "icon_index", "check_version", "check_language"};
    for (const char* key : single)
        if (const toml::node* node = r.Find(key))
            r.Fail(node, key, "is for one file; the source names a folder or a pattern");
    for (const std::string& relative : many.relative) {
        Independently([&] {
            ManifestFile one = f;
            one.source = many.root + "/" + relative;
            std::string name = r.ToAnsi(many.sourceNode, "source", many.prefix + Slashes(relative), PathLimit);
            std::string problem = RelativePathProblem(name);
            if (!problem.empty())
                r.Fail(many.sourceNode, "source", "'" + relative + "': " + problem);
            one.name = name;
            m_.files.push_back(one);
        });
    }
}

void Parser::ReadFile(const toml::table& table, size_t i)
{
    Reader r(table, "files[" + std::to_string(i) + "]");
    ManifestFile f;
    f.ref = RefAt(table, r.Path());
    f.uninstallMode = r.Bool("external", false) ? UninstallExternal : UninstallRemove;
    Expansion many;
    ReadFileSource(r, f, &many);
    ReadFileHandling(r, f);
    if (m_.PerUser())
        CheckPerUserFile(r, f);
    ReadFileVersion(r, f);
    ReadFileShortcuts(r, f);
    if (many.many)
        ExpandFiles(r, f, many);
    else
        CheckFileCombinations(r, f);
    r.Finish();
    if (!many.many)
        m_.files.push_back(f);
}

void Parser::ReadFiles(Reader& root)
{
    const toml::node* node = root.Find("files");
    if (!node)
        return;
    const toml::array* list = node->as_array();
    if (!list || !list->is_array_of_tables())
        root.Fail(node, "files", std::string("expected [[files]] tables, found ") + TypeName(*node));
    for (size_t i = 0; i < list->size(); ++i)
        Independently([&] { ReadFile(*list->get(i)->as_table(), i); });
}

// [uninstaller]: the project's uninstaller packed as the last file, in
// the install folder, with the publisher's texts; it names the uninstall
// entry (the product's name unless uninstall_name is given).
void Parser::ReadUninstaller(Reader& root)
{
    const toml::table* table = root.Table("uninstaller");
    if (!table)
        return;
    Reader r(*table, "uninstaller");
    ManifestFile f;
    f.ref = RefAt(*table, r.Path());
    f.projectUninstaller = true;
    f.uninstaller = true;
    f.name = "uninstall.exe";
    // Our uninstaller reads the folders made and the remembered folder.
    m_.installOptions |= 4u;
    // Its log is what an upgrade reads: the installed version's files.
    if (m_.upgrade)
        m_.installOptions |= 16u;
    const toml::node* node = nullptr;
    if (r.Ansi("name", &f.name, PathLimit, &node)) {
        std::string problem = f.name.find_first_of("\\/") != std::string::npos
                                  ? "names a folder; the uninstaller lies in the install folder itself"
                                  : ComponentProblem(f.name);
        if (!problem.empty())
            r.Fail(node, "name", problem);
    }
    std::string program;
    if (r.RawString("program", &program, &node)) {
        if (program.empty())
            r.Fail(node, "program", "is empty");
        f.source = Resolve(program, node);
        f.sourceRef = RefAt(*node, r.KeyPath("program"));
    }
    f.menuFolders = "";
    if (const toml::table* menu = r.Table("start_menu")) {
        Reader m(*menu, r.KeyPath("start_menu"));
        m.Ansi("folder", &f.menuFolders, PathLimit);
        if (!m.Ansi("name", &f.menuName, PathLimit, &node) || f.menuName.empty())
            m.Fail(node, "name", "missing: the shortcut's name");
        m.Finish();
    }
    f.uninstallerTexts.assign(UninstallTextCount, std::string());
    f.uninstallerTexts[UninstallTitle] = m_.productName + " Uninstall";
    if (const toml::table* texts = r.Table("texts")) {
        Reader t(*texts, r.KeyPath("texts"));
        for (unsigned i = 0; i < UninstallTextCount; ++i) {
            Independently([&] {
                if (!t.Ansi(UninstallTexts[i].name, &f.uninstallerTexts[i], MaxShownText, &node))
                    return;
                FormatRule rule = {0, 0, 's', i == UninstallSharedQuestion ? "the file" : "the product"};
                std::string problem = FormatProblem(f.uninstallerTexts[i], rule);
                if (!problem.empty())
                    t.Fail(node, UninstallTexts[i].name, problem);
            });
        }
        t.Finish();
    }
    r.Finish();
    if (m_.uninstallName.empty() && m_.productName.find('\\') == std::string::npos &&
        m_.productName.size() <= PathLimit - UninstallKeyPrefixLength)
        m_.uninstallName = m_.productName;
    m_.files.push_back(f);
}

// Why `later` cannot have its destination: `earlier` has it already,
// perhaps in other letters, which Windows does not tell apart. Names both
// entries with their lines and sources: the files of a folder entry share
// its key and line.
std::string ClashProblem(const ManifestFile& later, const ManifestFile& earlier)
{
    std::string where = earlier.ref.file == later.ref.file
                            ? "line " + std::to_string(earlier.ref.line)
                            : earlier.ref.file + ":" + std::to_string(earlier.ref.line);
    if (!earlier.source.empty())
        where += ", from '" + earlier.source + "'";
    std::string problem = "'" + later.name + "'";
    if (!later.source.empty())
        problem += " (from '" + later.source + "')";
    problem += " is already the destination of " + earlier.ref.key;
    if (earlier.name == later.name)
        return problem + " (" + where + ")";
    return problem + " as '" + earlier.name + "' (" + where + "): Windows does not tell file names apart by letter case";
}

void Parser::CheckFiles()
{
    const ManifestFile* uninstaller = nullptr;
    const ManifestFile* viewed = nullptr;
    const ManifestFile* launched = nullptr;
    std::map<std::string, const ManifestFile*> destinations;
    for (const ManifestFile& f : m_.files) {
        if (f.uninstaller) {
            if (uninstaller)
                Keep(ManifestError{f.ref.line, f.ref.key + ".uninstaller",
                                   "a package has one uninstaller; " + uninstaller->ref.key + " is already it",
                                   f.ref.file});
            else
                uninstaller = &f;
        }
        const ManifestFile** mark = f.afterAction == AfterView ? &viewed : f.afterAction == AfterLaunch ? &launched
                                                                                                         : nullptr;
        if (mark) {
            if (*mark)
                Keep(ManifestError{f.ref.line, f.ref.key + ".after",
                                   std::string("only one file can be ") +
                                       (f.afterAction == AfterView ? "viewed" : "launched") +
                                       " after installation; " + (*mark)->ref.key + " already is",
                                   f.ref.file});
            else
                *mark = &f;
        }
        // Shared files and fonts land in folders only the target system
        // knows; only the install and Windows folders can clash here.
        if (f.location == LocationInstall || f.location == LocationWindows) {
            std::string where = f.uninstallMode == UninstallExternal ? "beside SETUP.EXE"
                                : f.location == LocationInstall    ? "install"
                                                                   : "windows";
            auto placed = destinations.insert({where + ":" + Lower(f.name), &f});
            if (!placed.second)
                Keep(ManifestError{f.ref.line, f.ref.key + ".name", ClashProblem(f, *placed.first->second),
                                   f.ref.file});
        }
    }
    if (m_.files.empty())
        m_.warnings.push_back(Ref(1, "files").Prefix() + "no [[files]]: the package installs nothing");
    if (!m_.uninstallName.empty() && !uninstaller)
        m_.warnings.push_back(Ref(uninstallNameLine_, "product.uninstall_name").Prefix() +
                              "no file is the uninstaller, so the installer registers no uninstall entry");

    // Texts that name files of the table.
    if (viewed && !texts_.count({5, 5})) {
        std::string base = viewed->name.substr(viewed->name.find_last_of('\\') + 1);
        texts_[{5, 5}] = Slot{"&View " + base, {}, {}};
    }
    if (launched && !texts_.count({5, 6}))
        texts_[{5, 6}] = Slot{"&Start " + m_.productName + " now", {}, {}};
}

void Parser::BuildGroups()
{
    // No default of a format text names the product, so a '%' in the
    // name never reaches a format.
    std::map<std::pair<int, int>, std::string> all = DefaultTexts((m_.headerFlags & 2) != 0);
    for (auto& entry : all)
        entry.second = Replace(entry.second, "<product>", m_.productName);
    for (auto& entry : texts_)
        all[entry.first] = entry.second.text;

    int groups = 8;
    for (auto& entry : all)
        if (entry.first.first == 8)
            groups = 9;
    m_.groups.assign(groups, std::vector<std::string>());
    for (auto& entry : all) {
        std::vector<std::string>& group = m_.groups[entry.first.first];
        if (group.size() <= static_cast<size_t>(entry.first.second))
            group.resize(entry.first.second + 1);
        group[entry.first.second] = StoredText(entry.first.first, entry.first.second, entry.second);
    }
}


// ------------------------------------------------------------- includes

const size_t MaxIncludeDepth = 16;

std::string Place(const toml::node& node, const std::string& fallback)
{
    std::string file = FileOf(node);
    return (file.empty() ? fallback : file) + ":" + std::to_string(LineOf(node));
}

// Adds `from`'s keys to `into`: tables are merged, [[files]] and other
// arrays of tables appended; a value set in both is an error naming both
// places.
void MergeTables(toml::table& into, toml::table& from, const std::string& prefix, const std::string& path)
{
    for (auto&& [key, value] : from) {
        std::string name(key.str());
        std::string shown = prefix.empty() ? name : prefix + "." + name;
        toml::node* existing = into.get(name);
        if (!existing) {
            value.visit([&into, &name](auto&& concrete) { into.insert(name, std::move(concrete)); });
        } else if (existing->is_table() && value.is_table()) {
            MergeTables(*existing->as_table(), *value.as_table(), shown, path);
        } else if (existing->is_array_of_tables() && value.is_array_of_tables()) {
            toml::array* list = existing->as_array();
            for (toml::node& item : *value.as_array())
                list->push_back(std::move(*item.as_table()));
        } else {
            throw ManifestError{LineOf(value), shown, "is already set at " + Place(*existing, path), FileOf(value)};
        }
    }
}

// include = "common.toml" or a list of them, relative to the including
// file: their tables come first, this file's after (so their [[files]]
// entries are installed before its own). Included files may include
// others, never themselves.
void ResolveIncludes(toml::table& table, const std::string& path, std::vector<std::string>& chain, Manifest* m)
{
    toml::node* node = table.get("include");
    if (!node)
        return;
    std::vector<const toml::node*> names;
    if (node->is_string()) {
        names.push_back(node);
    } else if (toml::array* list = node->as_array()) {
        for (const toml::node& item : *list)
            names.push_back(&item);
    }
    toml::table merged;
    for (const toml::node* name : names) {
        if (!name->is_string())
            throw ManifestError{LineOf(*name), "include",
                                std::string("expected a manifest file name or a list of them, found ") +
                                    TypeName(*name),
                                FileOf(*name)};
        std::string file(name->as_string()->get());
        std::string resolved = file.empty() || file[0] == '/' ? file : DirectoryOf(path) + "/" + file;
        auto fail = [&](const std::string& message) {
            throw ManifestError{LineOf(*name), "include", message, FileOf(*name)};
        };
        char real[PATH_MAX];
        std::string canonical = ::realpath(resolved.c_str(), real) ? real : resolved;
        if (std::find(chain.begin(), chain.end(), canonical) != chain.end())
            fail("'" + file + "' includes itself (through the files that include it)");
        if (chain.size() > MaxIncludeDepth)
            fail("includes nest deeper than " + std::to_string(MaxIncludeDepth));
        std::ifstream in(resolved, std::ios::binary);
        if (!in)
            fail("cannot read '" + resolved + "': " + std::strerror(errno));
        std::ostringstream text;
        text << in.rdbuf();
        m->readFiles.push_back({resolved, SourceRef{FileOf(*name), LineOf(*name), "include"}});
        toml::table included = toml::parse(text.str(), resolved);
        chain.push_back(canonical);
        ResolveIncludes(included, resolved, chain, m);
        chain.pop_back();
        MergeTables(merged, included, "", path);
    }
    if (!node->is_string() && !node->is_array())
        throw ManifestError{LineOf(*node), "include",
                            std::string("expected a manifest file name or a list of them, found ") + TypeName(*node),
                            FileOf(*node)};
    table.erase("include");
    MergeTables(merged, table, "", path);
    table = std::move(merged);
}

} // namespace

bool ParseManifest(const std::string& text, const std::string& path, Manifest* manifest, std::string* error,
                   const std::vector<std::string>& searchDirs, const std::map<std::string, std::string>& defines)
{
    *manifest = Manifest();
    manifest->path = path;
    manifest->baseDir = DirectoryOf(path);
    std::vector<ManifestError> errors;
    struct Collecting {
        explicit Collecting(std::vector<ManifestError>* errors) { ActiveErrors = errors; }
        ~Collecting() { ActiveErrors = nullptr; }
    } collecting(&errors);
    try {
        toml::table root = toml::parse(text, path);
        char real[PATH_MAX];
        std::vector<std::string> chain = {::realpath(path.c_str(), real) ? real : path};
        ResolveIncludes(root, path, chain, manifest);
        Parser(path, manifest, searchDirs, defines).Run(root);
    } catch (const toml::parse_error& e) {
        // In an included file, that file.
        std::string file = e.source().path ? *e.source().path : path;
        *error = file + ":" + std::to_string(e.source().begin.line) + ": " + std::string(e.description());
        return false;
    } catch (const ManifestError& e) {
        errors.push_back(e);
    }
    if (errors.empty())
        return true;
    // In the order of the manifest's lines, each file's together.
    std::vector<std::string> files;
    for (ManifestError& e : errors) {
        if (e.file.empty())
            e.file = path;
        if (std::find(files.begin(), files.end(), e.file) == files.end())
            files.push_back(e.file);
    }
    auto rank = [&files](const ManifestError& e) {
        return std::make_pair(std::find(files.begin(), files.end(), e.file) - files.begin(), e.line);
    };
    std::stable_sort(errors.begin(), errors.end(),
                     [&rank](const ManifestError& a, const ManifestError& b) { return rank(a) < rank(b); });
    error->clear();
    for (const ManifestError& e : errors)
        *error += (error->empty() ? "" : "\n") + SourceRef{e.file, e.line, e.key}.Prefix() + e.message;
    return false;
}

bool LoadManifest(const std::string& path, Manifest* manifest, std::string* error,
                  const std::vector<std::string>& searchDirs, const std::map<std::string, std::string>& defines)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        *error = "cannot open '" + path + "': " + std::strerror(errno);
        return false;
    }
    std::ostringstream text;
    text << in.rdbuf();
    if (in.bad()) {
        *error = "cannot read '" + path + "'";
        return false;
    }
    return ParseManifest(text.str(), path, manifest, error, searchDirs, defines);
}

} // namespace zevrin
