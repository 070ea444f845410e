#include "upgrade.h"

#include <cstring>

#include "../shared/checksum.h"
#include "../shared/state.h"
#include "file_table.h"
#include "paths.h"

namespace zevrin {

namespace {

bool SameFolded(const char* a, const char* b) { return std::strlen(a) == std::strlen(b) && StartsWithFolded(a, b); }

bool SameText(const LogText& a, const LogText& b)
{
    if (a.length != b.length)
        return false;
    for (uint16_t i = 0; i < a.length; ++i)
        if (FoldCase(a.text[i]) != FoldCase(b.text[i]))
            return false;
    return true;
}

uint32_t FoldedHash(const char* text)
{
    uint32_t hash = 2166136261u;
    for (; *text; ++text)
        hash = (hash ^ static_cast<uint8_t>(FoldCase(*text))) * 16777619u;
    return hash;
}

// Full paths of a list of items, hashed, for look-ups by path.
struct PathSet {
    char (*paths)[PathSize] = nullptr;
    uint32_t* hashes = nullptr;
    uint32_t count = 0;

    bool Contains(const char* path) const
    {
        uint32_t hash = FoldedHash(path);
        for (uint32_t i = 0; i < count; ++i)
            if (hashes[i] == hash && SameFolded(paths[i], path))
                return true;
        return false;
    }
    void Free()
    {
        FreeAndClear(&paths);
        FreeAndClear(&hashes);
        count = 0;
    }
};

// The paths of the items of `items` (files when `files`, else shortcuts).
bool CollectPaths(ByteCursor items, uint32_t count, bool files, const char* dir, PathSet* set)
{
    *set = PathSet();
    if (!count)
        return true;
    if (!AllocWithRetry(count * PathSize, &set->paths) || !AllocWithRetry(count * 4, &set->hashes)) {
        set->Free();
        return false;
    }
    for (uint32_t i = 0; i < count; ++i) {
        LogItem item = files ? NextLogFile(&items) : NextLogShortcut(&items);
        if (!LogItemPath(item, dir, set->paths[set->count]))
            continue;
        set->hashes[set->count] = FoldedHash(set->paths[set->count]);
        ++set->count;
    }
    return true;
}

bool IsRelativeFolder(const LogText& folder)
{
    return (folder.length == 1 && folder.text[0] == '.') ||
           (folder.length > 2 && folder.text[0] == '.' && folder.text[1] == '\\');
}

// The item's path inside its install folder ("sub\name"), for the keep
// patterns; false for an item outside it.
bool RelativePath(const LogItem& item, char* out)
{
    if (!IsRelativeFolder(item.folder))
        return false;
    uint16_t sub = item.folder.length > 2 ? static_cast<uint16_t>(item.folder.length - 2) : 0;
    if (sub + 1u + item.name.length >= PathSize)
        return false;
    size_t at = 0;
    if (sub) {
        std::memcpy(out, item.folder.text + 2, sub);
        out[sub] = '\\';
        at = sub + 1u;
    }
    std::memcpy(out + at, item.name.text, item.name.length);
    out[at + item.name.length] = 0;
    return true;
}

bool MatchOne(const char* pattern, const char* end, const char* text)
{
    while (pattern < end) {
        if (*pattern == '*') {
            while (pattern < end && *pattern == '*')
                ++pattern;
            if (pattern == end)
                return true;
            for (const char* from = text;; ++from) {
                if (MatchOne(pattern, end, from))
                    return true;
                if (!*from)
                    return false;
            }
        }
        if (!*text || (*pattern != '?' && FoldCase(*pattern) != FoldCase(*text)))
            return false;
        ++pattern;
        ++text;
    }
    return *text == 0;
}

// A path of a NUL-separated list that ends with an empty one.
bool InList(const char* list, const char* path)
{
    for (; list && *list; list += std::strlen(list) + 1)
        if (SameFolded(list, path))
            return true;
    return false;
}

// A growing buffer for the merged log; a failed allocation sticks.
struct Out {
    uint8_t* data = nullptr;
    uint32_t used = 0;
    uint32_t size = 0;
    bool failed = false;

    void Put(const void* bytes, uint32_t length)
    {
        if (failed || !length)
            return;
        if (used + length > size) {
            uint32_t grown = size ? size : 4096;
            while (grown < used + length)
                grown *= 2;
            uint8_t* bigger = nullptr;
            if (!AllocWithRetry(grown, &bigger)) {
                failed = true;
                return;
            }
            if (used)
                std::memcpy(bigger, data, used);
            FreeAndClear(&data);
            data = bigger;
            size = grown;
        }
        std::memcpy(data + used, bytes, length);
        used += length;
    }
    void U32(uint32_t value)
    {
        uint8_t bytes[4] = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
                            static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)};
        Put(bytes, 4);
    }
    void Text(const char* text, uint32_t length)
    {
        uint8_t count[2] = {static_cast<uint8_t>(length), static_cast<uint8_t>(length >> 8)};
        Put(count, 2);
        Put(text, length);
    }
    void Text(const LogText& text) { Text(text.text, text.length); }
    void Byte(uint8_t value) { Put(&value, 1); }
    // A head with a zero length, patched by End.
    uint32_t Begin(uint16_t tag)
    {
        uint32_t at = used;
        uint8_t head[LogHeadSize] = {static_cast<uint8_t>(tag), static_cast<uint8_t>(tag >> 8), 0, 0, 0, 0, 0, 0};
        Put(head, LogHeadSize);
        return at;
    }
    void End(uint32_t head)
    {
        if (failed)
            return;
        uint32_t length = used - head - LogHeadSize;
        for (int i = 0; i < 4; ++i)
            data[head + 4 + i] = static_cast<uint8_t>(length >> (8 * i));
    }
    void PatchU32(uint32_t at, uint32_t value)
    {
        if (failed)
            return;
        for (int i = 0; i < 4; ++i)
            data[at + i] = static_cast<uint8_t>(value >> (8 * i));
    }
};

// The rest of a checked cursor, as it is.
void PutRest(Out* out, ByteCursor items) { out->Put(items.Bytes(0), items.Left()); }

} // namespace

bool AcceptPrevious(PreviousInstall* previous, uint8_t* bytes, uint32_t size, bool beside, const char* path,
                    const char* registered, const char* key, bool perUser)
{
    ForgetPrevious(previous);
    if (!bytes)
        return false;
    previous->bytes = bytes;
    previous->size = size;
    UninstallLogView& log = previous->log;
    size_t keyLength = std::strlen(key);
    bool accepted = std::strlen(path) < PathSize &&
                    (beside ? ReadUninstallLogBeside(bytes, size, &log) : ReadUninstallLog(bytes, size, &log)) == LogOk &&
                    log.hasKey &&
                    log.perUser == perUser && log.key.length == keyLength && StartsWithFolded(log.key.text, key) &&
                    FindInstallDir(log, path, registered, previous->installDir);
    if (!accepted) {
        ForgetPrevious(previous);
        return false;
    }
    std::memcpy(previous->uninstaller, path, std::strlen(path) + 1);
    return true;
}

void ForgetPrevious(PreviousInstall* previous)
{
    FreeAndClear(&previous->bytes);
    previous->size = 0;
    previous->log = UninstallLogView();
    previous->installDir[0] = 0;
    previous->uninstaller[0] = 0;
}

bool CountedBefore(const PreviousInstall& previous, const char* path)
{
    if (!previous.bytes)
        return false;
    ByteCursor items = previous.log.files;
    for (uint32_t i = 0; i < previous.log.fileCount; ++i) {
        LogItem item = NextLogFile(&items);
        char old[PathSize];
        if ((item.flags & LogItemShared) && LogItemPath(item, previous.installDir, old) && SameFolded(old, path))
            return true;
    }
    return false;
}

bool MatchesKeep(const char* keep, const char* relative)
{
    if (!keep)
        return false;
    while (*keep) {
        const char* end = std::strchr(keep, '|');
        if (!end)
            end = keep + std::strlen(keep);
        if (end > keep && MatchOne(keep, end, relative))
            return true;
        keep = *end ? end + 1 : end;
    }
    return false;
}

bool OldFilePath(const PreviousInstall& previous, uint32_t index, char* out)
{
    ByteCursor items = previous.log.files;
    LogItem item;
    for (uint32_t i = 0; i <= index && i < previous.log.fileCount; ++i)
        item = NextLogFile(&items);
    return index < previous.log.fileCount && LogItemPath(item, previous.installDir, out);
}

LogSum OldFileSum(const PreviousInstall& previous, uint32_t index)
{
    if (!previous.log.hasSums || index >= previous.log.fileCount)
        return LogSum();
    ByteCursor sums = previous.log.sums;
    sums.Skip(index * 8);
    return NextLogSum(&sums);
}

bool ChangedSince(const char* path, const LogSum& installed)
{
    if (installed.size == LogNoSum)
        return false;
    FileHandle file = OpenExisting(path, 0);
    if (file == INVALID_FILE_HANDLE)
        return false;
    bool changed = FileLength(file) != installed.size || FileChecksum(file) != installed.sum;
    CloseFile(file);
    return changed;
}

bool PlanUpgrade(const PreviousInstall& previous, const UninstallLogView& fresh, const char* freshDir,
                 const char* tablePaths, const char* keep, UpgradePlan* plan)
{
    ForgetPlan(plan);
    const UninstallLogView& old = previous.log;
    PathSet files, shortcuts;
    bool ok = CollectPaths(fresh.files, fresh.fileCount, true, freshDir, &files) &&
              CollectPaths(fresh.shortcuts, fresh.shortcutCount, false, "", &shortcuts) &&
              AllocZeroedWithRetry(old.fileCount + 1, &plan->files) &&
              AllocZeroedWithRetry(old.shortcutCount + 1, &plan->shortcuts) &&
              AllocZeroedWithRetry(old.folderCount + 1, &plan->folders);
    if (ok) {
        ByteCursor items = old.files;
        for (uint32_t i = 0; i < old.fileCount; ++i) {
            LogItem item = NextLogFile(&items);
            char path[PathSize];
            char relative[PathSize];
            if (!LogItemPath(item, previous.installDir, path))
                plan->files[i] = FateKeep;
            else if (files.Contains(path))
                plan->files[i] = FateShipped;
            else if (InList(tablePaths, path) || !old.hasSums || (RelativePath(item, relative) && MatchesKeep(keep, relative)))
                plan->files[i] = FateKeep;
            else
                plan->files[i] = FateRemove;
        }
        items = old.shortcuts;
        for (uint32_t i = 0; i < old.shortcutCount; ++i) {
            char path[PathSize];
            LogItem item = NextLogShortcut(&items);
            plan->shortcuts[i] = !LogItemPath(item, "", path) ? FateKeep
                                 : shortcuts.Contains(path)    ? FateShipped
                                                               : FateRemove;
        }
        for (uint32_t i = 0; i < old.folderCount; ++i)
            plan->folders[i] = 1;
        plan->sameRegistryValue = old.hasRegistryValue && fresh.hasRegistryValue &&
                                  old.registryRoot == fresh.registryRoot &&
                                  SameText(old.registryKey, fresh.registryKey) &&
                                  SameText(old.registryValue, fresh.registryValue);
        plan->sameProfileEntry = old.hasProfileEntry && fresh.hasProfileEntry &&
                                 SameText(old.profileFile, fresh.profileFile) &&
                                 SameText(old.profileSection, fresh.profileSection) &&
                                 SameText(old.profileKey, fresh.profileKey);
    }
    files.Free();
    shortcuts.Free();
    if (!ok)
        ForgetPlan(plan);
    return ok;
}

void ForgetPlan(UpgradePlan* plan)
{
    FreeAndClear(&plan->files);
    FreeAndClear(&plan->shortcuts);
    FreeAndClear(&plan->folders);
    plan->sameRegistryValue = plan->sameProfileEntry = false;
}

bool BuildMergedLog(const PreviousInstall& previous, const UninstallLogView& fresh, const char* freshDir,
                    const UpgradePlan& plan, uint8_t** result, uint32_t* size)
{
    *result = nullptr;
    *size = 0;
    const UninstallLogView& old = previous.log;
    Out out;

    // 4661: the new version's items, then the old ones kept.
    uint32_t head = out.Begin(LogTagFiles);
    out.U32(0);
    PutRest(&out, fresh.files);
    uint32_t count = fresh.fileCount;
    ByteCursor items = old.files;
    for (uint32_t i = 0; i < old.fileCount; ++i) {
        LogItem item = NextLogFile(&items);
        char path[PathSize];
        char folder[PathSize];
        const char* name;
        if (plan.files[i] != FateKeep || !LogItemPath(item, previous.installDir, path) ||
            !SplitLogPath(path, freshDir, folder, &name))
            continue;
        out.Text(folder, static_cast<uint32_t>(std::strlen(folder)));
        out.Text(name, static_cast<uint32_t>(std::strlen(name)));
        out.Byte(item.flags);
        ++count;
    }
    out.PatchU32(head + LogHeadSize, count);
    out.End(head);
    uint32_t fileCount = count;

    // 4662: the new shortcuts, then the old ones kept (full paths).
    uint32_t kept = 0;
    for (uint32_t i = 0; i < old.shortcutCount; ++i)
        kept += plan.shortcuts[i] == FateKeep;
    if (fresh.shortcutCount || kept) {
        head = out.Begin(LogTagShortcuts);
        out.U32(fresh.shortcutCount + kept);
        PutRest(&out, fresh.shortcuts);
        items = old.shortcuts;
        for (uint32_t i = 0; i < old.shortcutCount; ++i) {
            LogItem item = NextLogShortcut(&items);
            if (plan.shortcuts[i] != FateKeep)
                continue;
            out.Text(item.folder);
            out.Text(item.name);
        }
        out.End(head);
    }

    // 4664 as the new version wrote it.
    if (fresh.hasKey || fresh.perUser) {
        head = out.Begin(LogTagUninstallKey);
        out.U32(fresh.perUser ? LogRootCurrentUser : LogRootLocalMachine);
        out.Text(fresh.key);
        out.End(head);
    }

    if (fresh.hasFolders) {
        // The old folders still there first: each was made before any of
        // this run's, so a parent stays before its children.
        head = out.Begin(LogTagFolders);
        out.U32(0);
        count = 0;
        LogText* listed = nullptr;
        if (!AllocWithRetry((old.folderCount + fresh.folderCount + 1) * static_cast<uint32_t>(sizeof(LogText)),
                            &listed)) {
            FreeAndClear(&out.data);
            return false;
        }
        ByteCursor folders = old.folders;
        for (uint32_t i = 0; i < old.folderCount; ++i) {
            LogText folder = NextLogFolder(&folders);
            if (plan.folders[i])
                listed[count++] = folder;
        }
        uint32_t oldListed = count;
        folders = fresh.folders;
        for (uint32_t i = 0; i < fresh.folderCount; ++i) {
            LogText folder = NextLogFolder(&folders);
            bool known = false;
            for (uint32_t j = 0; j < oldListed && !known; ++j)
                known = SameText(listed[j], folder);
            if (!known)
                listed[count++] = folder;
        }
        for (uint32_t i = 0; i < count; ++i)
            out.Text(listed[i]);
        FreeAndClear(&listed);
        out.PatchU32(head + LogHeadSize, count);
        out.End(head);

        if (fresh.hasRegistryValue) {
            // Key parts the old version made are still the product's.
            uint8_t made = fresh.registryMadeParts;
            if (plan.sameRegistryValue && old.registryMadeParts > made)
                made = old.registryMadeParts;
            head = out.Begin(LogTagRegistryValue);
            out.U32(fresh.registryRoot);
            out.Text(fresh.registryKey);
            out.Text(fresh.registryValue);
            out.Byte(made);
            out.End(head);
        }
        if (fresh.hasProfileEntry) {
            head = out.Begin(LogTagProfileEntry);
            out.Text(fresh.profileFile);
            out.Text(fresh.profileSection);
            out.Text(fresh.profileKey);
            out.Byte(static_cast<uint8_t>(fresh.profileFlags | (plan.sameProfileEntry ? old.profileFlags : 0)));
            out.End(head);
        }
    }

    if (fresh.hasSums) {
        head = out.Begin(LogTagFileSums);
        out.U32(fileCount);
        PutRest(&out, fresh.sums);
        for (uint32_t i = 0; i < old.fileCount; ++i) {
            if (plan.files[i] != FateKeep)
                continue;
            // Only the items written above: those whose path splits.
            char path[PathSize];
            char folder[PathSize];
            const char* name;
            if (!OldFilePath(previous, i, path) || !SplitLogPath(path, freshDir, folder, &name))
                continue;
            LogSum sum = OldFileSum(previous, i);
            out.U32(sum.size);
            out.U32(sum.sum);
        }
        out.End(head);
    }
    out.Begin(LogTagEnd);
    if (out.failed) {
        FreeAndClear(&out.data);
        return false;
    }
    *result = out.data;
    *size = out.used;
    return true;
}

} // namespace zevrin
