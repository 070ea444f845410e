#include "uninstaller_copy.h"

#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

#include "../stub/engine/uninstall_log.h"

namespace zevrin {

bool WriteUninstallerCopy(const ManifestFile& f, const std::string& copy, std::string* error)
{
    static const uint8_t Terminator[8] = {0x7F, 0x7F, 0, 0, 0, 0, 0, 0};
    std::string prefix = (f.sourceRef.line ? f.sourceRef : f.ref).Prefix();
    std::ifstream in(f.source, std::ios::binary);
    std::vector<uint8_t> data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (!in.good() && !in.eof()) {
        *error = prefix + "cannot read the uninstaller '" + f.source + "'";
        return false;
    }
    if (data.size() < 8 || std::memcmp(&data[data.size() - 8], Terminator, 8) != 0) {
        *error = prefix + "'" + f.source + "' cannot be the uninstaller: it must end with an empty log record "
                                           "(bytes 7F 7F 00 00 00 00 00 00), which the installer overwrites";
        return false;
    }
    std::vector<uint8_t> group = {static_cast<uint8_t>(f.uninstallerTexts.size()),
                                  static_cast<uint8_t>(f.uninstallerTexts.size() >> 8)};
    for (const std::string& text : f.uninstallerTexts)
        group.insert(group.end(), text.c_str(), text.c_str() + text.size() + 1);
    std::vector<uint8_t> head = {static_cast<uint8_t>(LogTagTexts), static_cast<uint8_t>(LogTagTexts >> 8), 0, 0};
    for (int i = 0; i < 4; ++i)
        head.push_back(static_cast<uint8_t>(group.size() >> (8 * i)));
    data.insert(data.end() - 8, head.begin(), head.end());
    data.insert(data.end() - 8, group.begin(), group.end());
    std::ofstream out(copy, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
    out.close();
    if (!out) {
        *error = prefix + "cannot write '" + copy + "'";
        return false;
    }
    return true;
}

} // namespace zevrin
