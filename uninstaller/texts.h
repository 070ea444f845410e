// The uninstaller's texts: one message group, indices fixed here, each
// with its name in the manifest and its English default. The authoring
// tool writes the publisher's group into the uninstaller it packs; a text
// the group lacks (or leaves empty) is the default.
#pragma once

namespace zevrin {

enum : unsigned {
    UninstallTitle = 0,          // caption of every message box
    UninstallConfirm = 1,        // %s: the product
    UninstallSharedQuestion = 2, // %s: the shared file
    UninstallDone = 3,           // %s: the product
    UninstallLeft = 4,           // followed by the list of what is left
    UninstallRestart = 5,
    UninstallDamaged = 6,
    UninstallNoLog = 7,
    UninstallMoved = 8,
    UninstallTextCount = 9
};

struct UninstallText {
    const char* name; // key in the manifest's [uninstaller.texts]
    const char* text; // the default
};

const UninstallText UninstallTexts[UninstallTextCount] = {
    {"title", "Uninstall"},
    {"confirm", "Do you want to remove %s and all of its components?"},
    {"shared_file", "The shared file\r\n%s\r\nis no longer used by any program. Do you want to remove it?"},
    {"done", "%s was removed from your computer."},
    {"left", "Some items could not be removed. You can remove them yourself:"},
    {"restart", "Some files are in use. They will be removed when Windows restarts."},
    {"damaged", "The uninstall information is damaged. Nothing was removed."},
    {"no_log", "There is no uninstall information: the program was not installed. Nothing was removed."},
    {"moved", "The uninstaller is not in the folder the program was installed to. Nothing was removed."},
};

} // namespace zevrin
