// Hand-made packages for the tests: PackageBuilder lays out header records
// record by record (for the header reader's tests); SetupBuilder makes a
// whole SETUP.EXE with a stamped stub, a file table, the files' streams
// and, when asked, continuation volumes SETUP.D01, SETUP.D02, ...
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "../../stub/engine/file_table.h"
#include "../../stub/shared/checksum.h"
#include "../../stub/startup/header.h"
#include "stream_builder.h"
#include "template_builder.h"
#include "test_support.h"

// A stored stream: the smallest honest compressed body.
inline std::vector<uint8_t> Compress(const std::vector<uint8_t>& data)
{
    return StreamBuilder().Stored(std::string(data.begin(), data.end()), true).Bytes();
}

// Lays out stub + records + terminator + data, as the authoring tool does.
class PackageBuilder {
public:
    explicit PackageBuilder(uint32_t stubLength = 64) : bytes_(stubLength, 'S') {}

    PackageBuilder& Record(uint16_t tag, const std::vector<uint8_t>& body, uint8_t flags = 0)
    {
        return Head(tag, flags, static_cast<uint32_t>(body.size())).Append(body);
    }
    PackageBuilder& Compressed(uint16_t tag, const std::vector<uint8_t>& data)
    {
        std::vector<uint8_t> body;
        AppendU32(body, static_cast<uint32_t>(data.size()));
        std::vector<uint8_t> stream = Compress(data);
        body.insert(body.end(), stream.begin(), stream.end());
        return Record(tag, body, RecordCompressed);
    }
    PackageBuilder& Groups(const std::vector<std::vector<std::string>>& groups)
    {
        std::vector<uint8_t> body{static_cast<uint8_t>(groups.size()), 0};
        for (const auto& texts : groups) {
            std::vector<uint8_t> group = GroupBytes(texts);
            AppendU32(body, static_cast<uint32_t>(group.size()));
            std::vector<uint8_t> stream = Compress(group);
            body.insert(body.end(), stream.begin(), stream.end());
        }
        return Record(TagMessageGroups, body);
    }
    // A template blob: sound unless given.
    PackageBuilder& Templates(const std::vector<uint8_t>& blob = SoundTemplateBlob())
    {
        return Record(zevrin::TagTemplateBlob, blob);
    }
    PackageBuilder& Head(uint16_t tag, uint8_t flags, uint32_t length)
    {
        std::vector<uint8_t> head{static_cast<uint8_t>(tag), static_cast<uint8_t>(tag >> 8), flags, 0};
        AppendU32(head, length);
        return Append(head);
    }
    // Terminator with `data` bytes of file data behind it.
    PackageBuilder& End(uint32_t data, uint32_t declared)
    {
        Head(TagTerminator, 0, declared ? declared : 4);
        std::vector<uint8_t> field;
        AppendU32(field, declared);
        Append(field);
        return Append(std::vector<uint8_t>(data, 0xDA));
    }
    PackageBuilder& End(uint32_t data) { return End(data, data); }
    PackageBuilder& Append(const std::vector<uint8_t>& more)
    {
        bytes_.insert(bytes_.end(), more.begin(), more.end());
        return *this;
    }
    std::vector<uint8_t> bytes_;
};

// Stored blocks of at most 65535 bytes each: any length.
inline std::vector<uint8_t> StoredStream(const std::vector<uint8_t>& data)
{
    StreamBuilder stream;
    size_t at = 0;
    do {
        size_t piece = data.size() - at < 65535 ? data.size() - at : 65535;
        stream.Stored(std::string(data.begin() + at, data.begin() + at + piece), at + piece == data.size());
        at += piece;
    } while (at < data.size());
    return stream.Bytes();
}

// One file of a SetupBuilder package: its bytes and file-table fields.
struct PackageFile {
    std::string name;
    std::vector<uint8_t> data;
    uint8_t flags = 0;
    uint8_t location = 0;
    uint8_t afterAction = 0;
    uint8_t sharedCount = 0;
    uint8_t uninstallMode = 1; // 2: external, no stream
    uint8_t specialKind = 0;
    // MenuFolders, MenuLinkName, MenuLinkArgs, DesktopLinkName, DesktopLinkArgs.
    std::vector<std::string> strings = std::vector<std::string>(5);
    uint64_t times[3] = {};
};

inline uint32_t Checksum(const std::vector<uint8_t>& data)
{
    return zevrin::RotateAddSum(data.data(), static_cast<uint32_t>(data.size()), 0);
}

class SetupBuilder {
public:
    static constexpr uint32_t StampAt = 100;

    uint32_t stubLength = 512;
    std::string title = "Zevrin Test Setup";
    std::vector<PackageFile> files;
    // How each file's bytes become its stream (stored blocks by default).
    std::function<std::vector<uint8_t>(const std::vector<uint8_t>&)> compress = StoredStream;
    // Called with each finished entry (after its fields are set) to damage it.
    std::function<void(size_t index, std::vector<uint8_t>& entry)> tamperEntry;
    // Called with the stream of each file before it is laid out.
    std::function<void(size_t index, std::vector<uint8_t>& stream)> tamperStream;
    // The template blob record; none when empty.
    std::vector<uint8_t> templates = SoundTemplateBlob();
    // More header records, written before the file table (the templates
    // follow it).
    std::function<void(PackageBuilder&)> records;
    // Data bytes in SETUP.EXE, SETUP.D01, ...; the last volume takes the
    // rest. Empty: everything in SETUP.EXE.
    std::vector<uint32_t> split;

    PackageFile& Add(const std::string& name, const std::vector<uint8_t>& data)
    {
        files.push_back(PackageFile());
        files.back().name = name;
        files.back().data = data;
        return files.back();
    }

    // The stub image: filler with the stamp record at StampAt.
    std::vector<uint8_t> Stub() const
    {
        std::vector<uint8_t> stub(stubLength, 'S');
        const uint8_t marker[6] = {0x77, 0x77, 0x67, 0x54, 0x29, 0x48};
        for (int i = 0; i < 6; ++i)
            stub[StampAt + i] = marker[i];
        for (int i = 0; i < 4; ++i)
            stub[StampAt + 6 + i] = static_cast<uint8_t>(stubLength >> (8 * i));
        for (int i = 10; i < 24; ++i)
            stub[StampAt + i] = 0;
        stub[StampAt + 18] = stub[StampAt + 19] = 0xFF;
        return stub;
    }

    std::vector<uint8_t> EntryBytes(size_t index, uint32_t packed) const
    {
        const PackageFile& f = files[index];
        std::vector<uint8_t> entry(zevrin::EntryFixedSize, 0);
        auto put32 = [&entry](uint32_t at, uint32_t value) {
            for (int i = 0; i < 4; ++i)
                entry[at + i] = static_cast<uint8_t>(value >> (8 * i));
        };
        put32(zevrin::EntryPackedSize, packed);
        put32(zevrin::EntryFileSize, static_cast<uint32_t>(f.data.size()));
        put32(zevrin::EntryChecksum, Checksum(f.data));
        entry[zevrin::EntryFlags] = f.flags;
        entry[zevrin::EntryLocation] = f.location;
        entry[zevrin::EntryAfterAction] = f.afterAction;
        entry[zevrin::EntrySharedCount] = f.sharedCount;
        entry[zevrin::EntryUninstallMode] = f.uninstallMode;
        entry[zevrin::EntrySpecialKind] = f.specialKind;
        if (f.flags & (zevrin::FlagCheckVersion | zevrin::FlagCheckLanguage))
            entry.insert(entry.end(), zevrin::VersionBlockSize, 0);
        if (f.flags & zevrin::FlagHasFileTimes)
            for (uint64_t t : f.times)
                for (int i = 0; i < 8; ++i)
                    entry.push_back(static_cast<uint8_t>(t >> (8 * i)));
        std::vector<std::string> strings{f.name};
        strings.insert(strings.end(), f.strings.begin(), f.strings.end());
        strings.resize(zevrin::EntryStringCount);
        for (const std::string& s : strings) {
            entry.insert(entry.end(), s.begin(), s.end());
            entry.push_back(0);
        }
        zevrin::WriteU16(entry.data(), static_cast<uint16_t>(entry.size()));
        if (tamperEntry)
            tamperEntry(index, entry);
        return entry;
    }

    // SETUP.EXE first, then SETUP.D01, ...
    std::vector<std::vector<uint8_t>> Build() const
    {
        std::vector<uint8_t> region;
        std::vector<uint8_t> table;
        AppendU32(table, static_cast<uint32_t>(files.size()));
        for (size_t i = 0; i < files.size(); ++i) {
            std::vector<uint8_t> stream;
            if (files[i].uninstallMode != 2) {
                stream = compress(files[i].data);
                if (tamperStream)
                    tamperStream(i, stream);
            }
            std::vector<uint8_t> entry = EntryBytes(i, static_cast<uint32_t>(stream.size()));
            table.insert(table.end(), entry.begin(), entry.end());
            region.insert(region.end(), stream.begin(), stream.end());
        }

        std::vector<std::string> group6(32);
        group6[0] = title;
        group6[28] = "Please insert disk number %d.";
        group6[31] = "This file contains invalid data.";
        PackageBuilder header(0);
        header.Append(Stub()).Groups({{"Welcome"}, {}, {}, {}, {}, {}, group6});
        if (records)
            records(header);
        header.Compressed(zevrin::TagFileTable, table);
        if (!templates.empty())
            header.Templates(templates);

        std::vector<uint32_t> sizes;
        size_t at = 0;
        for (size_t v = 0; v < split.size() && at < region.size(); ++v) {
            uint32_t size = static_cast<uint32_t>(std::min<size_t>(split[v], region.size() - at));
            sizes.push_back(size);
            at += size;
        }
        if (sizes.empty() || at < region.size())
            sizes.push_back(static_cast<uint32_t>(region.size() - at));

        std::vector<std::vector<uint8_t>> volumes;
        at = 0;
        for (size_t v = 0; v < sizes.size(); ++v) {
            std::vector<uint8_t> volume;
            if (v == 0) {
                // Real packages repeat the data length here; it must not be 0.
                header.Head(zevrin::TagTerminator, 0, sizes[0] ? sizes[0] : 4);
                volume = header.bytes_;
            }
            AppendU32(volume, sizes[v]);
            volume.insert(volume.end(), region.begin() + at, region.begin() + at + sizes[v]);
            at += sizes[v];
            volumes.push_back(volume);
        }
        return volumes;
    }
};

// The file name of volume `v` beside SETUP.EXE: SETUP.EXE, SETUP.D01, ...
inline std::string VolumeFileName(size_t v, const std::string& base = "SETUP")
{
    if (v == 0)
        return base + ".EXE";
    char extension[16];
    std::snprintf(extension, sizeof extension, ".D%02u", static_cast<unsigned>(v));
    return base + extension;
}

// Writes the volumes into `dir`; returns the path of SETUP.EXE.
inline std::string WriteVolumes(const TempDir& dir, const std::vector<std::vector<uint8_t>>& volumes,
                                const std::string& base = "SETUP")
{
    for (size_t v = 0; v < volumes.size(); ++v)
        WriteBytes(dir.File(VolumeFileName(v, base)), volumes[v]);
    return dir.File(VolumeFileName(0, base));
}
