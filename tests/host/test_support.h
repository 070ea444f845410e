// Small fixtures shared by the host tests: a private temporary folder,
// whole-file reads and writes, and message groups built from strings.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#ifdef _WIN32
#include <direct.h>
#include <io.h>
#else
#include <unistd.h>
#endif

#include "../../stub/shared/state.h"

using namespace zevrin;

class TempDir {
public:
    TempDir()
    {
#ifdef _WIN32
        char base[260];
        const char* tmp = std::getenv("TEMP");
        std::snprintf(base, sizeof base, "%s\\zevrin-XXXXXX", tmp ? tmp : ".");
        _mktemp(base);
        _mkdir(base);
        path_ = base;
#else
        char base[] = "/tmp/zevrin-test-XXXXXX";
        path_ = mkdtemp(base);
#endif
    }
    ~TempDir()
    {
        std::string command =
#ifdef _WIN32
            "rmdir /s /q \"" + path_ + "\"";
#else
            "rm -rf '" + path_ + "'";
#endif
        if (std::system(command.c_str()) != 0) {
        }
    }
    std::string File(const std::string& name) const
    {
#ifdef _WIN32
        return path_ + "\\" + name;
#else
        return path_ + "/" + name;
#endif
    }
    const std::string& Path() const { return path_; }

private:
    std::string path_;
};

inline void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

inline std::vector<uint8_t> ReadBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void AppendU32(std::vector<uint8_t>& out, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

// An unpacked message group: u16 count, then the strings.
inline std::vector<uint8_t> GroupBytes(const std::vector<std::string>& texts)
{
    std::vector<uint8_t> out{static_cast<uint8_t>(texts.size()), static_cast<uint8_t>(texts.size() >> 8)};
    for (const std::string& text : texts) {
        out.insert(out.end(), text.begin(), text.end());
        out.push_back(0);
    }
    return out;
}

// Installs `bytes` as message group `slot`, as the header reader would.
inline void SetMessageGroup(int slot, const std::vector<uint8_t>& bytes)
{
    FreeAndClear(&MessageGroups[slot]);
    AllocWithRetry(static_cast<uint32_t>(bytes.size()), &MessageGroups[slot]);
    if (!bytes.empty())
        std::memcpy(MessageGroups[slot], bytes.data(), bytes.size());
}

inline void ClearMessageGroups()
{
    for (int i = 0; i < MessageGroupCount; ++i)
        FreeAndClear(&MessageGroups[i]);
}
