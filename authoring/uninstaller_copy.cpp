#include "uninstaller_copy.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <vector>

#include "../stub/engine/uninstall_log.h"
#include "pe_resources.h"
#include "platform.h"

namespace zevrin {

namespace {

const uint32_t DirectorySecurity = 4; // the certificate table

// The whole file and its modification time; false with errno set.
bool ReadProgram(const std::string& path, std::vector<uint8_t>* data, uint64_t* writeTime)
{
    FILE* file = std::fopen(path.c_str(), "rb");
    if (!file)
        return false;
    struct stat info;
    bool ok = ::fstat(::fileno(file), &info) == 0;
    if (ok)
        *writeTime = WriteTimeOf(::fileno(file), info);
    uint8_t chunk[1 << 16];
    size_t got;
    while (ok && (got = std::fread(chunk, 1, sizeof chunk, file)) > 0)
        data->insert(data->end(), chunk, chunk + got);
    ok = ok && !std::ferror(file);
    int saved = errno;
    std::fclose(file);
    errno = saved;
    return ok;
}

} // namespace

std::vector<uint8_t> UninstallerTextsGroup(const ManifestFile& f)
{
    std::vector<uint8_t> group = {static_cast<uint8_t>(f.uninstallerTexts.size()),
                                  static_cast<uint8_t>(f.uninstallerTexts.size() >> 8)};
    for (const std::string& text : f.uninstallerTexts)
        group.insert(group.end(), text.c_str(), text.c_str() + text.size() + 1);
    return group;
}

void PackLogBeside(Manifest* m, const ManifestFile& f)
{
    m->installOptions |= 32u;
    m->uninstallerTextsBeside = UninstallerTextsGroup(f);
}

bool IsSignedProgram(const std::vector<uint8_t>& data)
{
    PeLayout layout;
    return ReadPeLayout(data.data(), data.size(), &layout, nullptr) && layout.DirectorySize(DirectorySecurity, data.data());
}

bool WriteUninstallerCopy(ManifestFile* f, const std::string& copy, std::string* error, const ProgramLook* look,
                          bool* isSigned)
{
    static const uint8_t Terminator[8] = {0x7F, 0x7F, 0, 0, 0, 0, 0, 0};
    std::string prefix = (f->sourceRef.line ? f->sourceRef : f->ref).Prefix();
    std::vector<uint8_t> data;
    uint64_t writeTime = 0;
    if (!ReadProgram(f->source, &data, &writeTime)) {
        *error = prefix + "cannot read the uninstaller '" + f->source + "': " + std::strerror(errno);
        return false;
    }
    // A signed program is packed untouched: its texts and log go beside it.
    if (isSigned && IsSignedProgram(data)) {
        *isSigned = true;
        f->logBeside = true;
        f->hasWriteTime = true;
        f->writeTime = writeTime;
        return true;
    }
    if (data.size() < 8 || std::memcmp(&data[data.size() - 8], Terminator, 8) != 0) {
        *error = prefix + "'" + f->source + "' cannot be the uninstaller: it must end with an empty log record "
                                            "(bytes 7F 7F 00 00 00 00 00 00), which the installer overwrites";
        return false;
    }
    // A Windows program gets the package's level, version and icon; a
    // stand-in that is no PE image is packed as it is.
    PeLayout layout;
    bool pe = ReadPeLayout(data.data(), data.size(), &layout, nullptr);
    std::string problem;
    if (pe && look && !ApplyProgramLook(&data, *look, &problem)) {
        *error = prefix + "the uninstaller '" + f->source + "': " + problem;
        return false;
    }
    std::vector<uint8_t> group = UninstallerTextsGroup(*f);
    std::vector<uint8_t> head = {static_cast<uint8_t>(LogTagTexts), static_cast<uint8_t>(LogTagTexts >> 8), 0, 0};
    for (int i = 0; i < 4; ++i)
        head.push_back(static_cast<uint8_t>(group.size() >> (8 * i)));
    data.insert(data.end() - 8, head.begin(), head.end());
    data.insert(data.end() - 8, group.begin(), group.end());
    // Summed with its texts; the installer's log makes the sum stale.
    if (pe)
        SetPeChecksum(&data);
    std::ofstream out(copy, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
    out.close();
    if (!out) {
        *error = prefix + "cannot write '" + copy + "'";
        return false;
    }
    f->source = copy;
    f->hasWriteTime = true;
    f->writeTime = writeTime;
    return true;
}

} // namespace zevrin
