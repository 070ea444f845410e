// The package header reader, the template check and the text lookup on
// arbitrary bytes. Input byte 0 picks the mode:
//   odd:        the rest is one unpacked message group, looked up directly;
//   0 (mod 4):  the rest is a package header read through ReadPackageHeader
//               (behind a 16-byte stand-in for the program's image);
//   2 (mod 4):  byte 1 holds the run's mode (bit 0 full screen, bits 1-3 the
//               start page, 7 = wizard), the rest is a template blob, checked
//               whole and as one dialog template.
// Every text found must end inside its buffer; a file table the reader
// keeps must be walkable entry by entry, and a refused one must be gone;
// an accepted package must hold every template its run loads.
#include <cstdlib>
#include <cstring>
#include <string>

#include "fuzz_support.h"
#include "stub/engine/file_table.h"
#include "stub/shared/message_script.h"
#include "stub/shared/messages.h"
#include "stub/shared/state.h"
#include "stub/startup/header.h"
#include "stub/startup/templates.h"

using namespace zevrin;

namespace {

const uint32_t StandInImage = 16;

void LookUpEverything()
{
    for (unsigned group = 0; group <= MessageGroupCount; ++group)
        for (unsigned index = 0; index < 70; ++index) {
            const char* text = GetMessageText(group, index);
            FUZZ_CHECK(text != nullptr);
            volatile size_t length = std::strlen(text); // ASan sees a walk past the buffer
            (void)length;
        }
}

void WalkFileTable()
{
    if (!FileTable) {
        FUZZ_CHECK(EntryCount == 0 && FirstEntry == nullptr);
        return;
    }
    FUZZ_CHECK(CheckFileTable(FileTable, BlockSize(FileTable)));
    FUZZ_CHECK(FirstEntry == FileTable + 4);
    const uint8_t* entry = FirstEntry;
    for (uint32_t i = 0; i < EntryCount; ++i) {
        for (int n = 0; n < EntryStringCount; ++n) {
            volatile size_t length = std::strlen(EntryString(entry, n));
            (void)length;
        }
        entry = NextEntry(entry);
        FUZZ_CHECK(entry <= FileTable + BlockSize(FileTable));
    }
}

void ReadHeader(const uint8_t* data, size_t size)
{
    std::string file(StandInImage, 'S');
    file.append(reinterpret_cast<const char*>(data), size);
    FileHandle handle = fuzz::MemoryFile(reinterpret_cast<const uint8_t*>(file.data()), file.size());
    std::snprintf(PackageSourcePath, PathSize, "/proc/self/fd/%d",
                  static_cast<int>(reinterpret_cast<intptr_t>(handle)));
    for (int i = 0; i < 4; ++i)
        StampRecord[6 + i] = static_cast<uint8_t>(StandInImage >> (8 * i));
    ForgetPackageHeader();
    ScriptMessageAnswers({});
    bool read = ReadPackageHeader();
    FUZZ_CHECK(read == (LastHeaderFault.problem == HeaderOk));
    if (read) {
        TemplateFault bad;
        FUZZ_CHECK(StartPage == WizardMode || StartPage < EndPage);
        FUZZ_CHECK(CheckTemplateBlob(TemplateBlob, TemplateBlobSize, HeaderFlags & FlagFullScreen, StartPage, &bad));
    }
    LookUpEverything();
    WalkFileTable();
    FreeHeaderData();
}

void LookUpGroup(const uint8_t* data, size_t size)
{
    char* group = nullptr;
    if (!AllocWithRetry(static_cast<uint32_t>(size), &group))
        return;
    if (size)
        std::memcpy(group, data, size);
    MessageGroups[6] = group;
    LookUpEverything();
    FreeAndClear(&MessageGroups[6]);
}

// In a block of exactly its size, so that a read past it faults.
void CheckTemplates(const uint8_t* data, size_t size)
{
    if (size < 1)
        return;
    bool fullScreen = data[0] & 1;
    unsigned page = (data[0] >> 1) & 7;
    uint16_t startPage = page == 7 ? WizardMode : static_cast<uint16_t>(page);
    size_t length = size - 1;
    uint8_t* blob = static_cast<uint8_t*>(std::malloc(length ? length : 1));
    FUZZ_CHECK(blob != nullptr);
    if (length)
        std::memcpy(blob, data + 1, length);
    TemplateFault bad;
    CheckTemplateBlob(blob, static_cast<uint32_t>(length), fullScreen, startPage, &bad);
    CheckDialogTemplate(blob, static_cast<uint32_t>(length), page, &bad); // page: any template number
    std::free(blob);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1 || size > (1u << 20))
        return 0;
    fuzz::MemoryFile(data, 0); // its descriptor stays open across inputs
    int fds = fuzz::OpenDescriptorCount();
    if (data[0] & 1)
        LookUpGroup(data + 1, size - 1);
    else if (data[0] & 2)
        CheckTemplates(data + 1, size - 1);
    else
        ReadHeader(data + 1, size - 1);
    FUZZ_CHECK(fuzz::OpenDescriptorCount() == fds);
    return 0;
}
