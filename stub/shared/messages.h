// Text lookup in the package's message groups, and the names of the texts
// the program looks up. Every visible text is a (group, index) pair.
#pragma once

namespace zevrin {

// Groups 0 to 5 hold the texts of wizard page 0 to 5.
enum : unsigned { GroupMessages = 6, GroupButtons = 7 };

// In a page's group: the heading, the texts of controls 1000 to 1003, and
// page-specific texts from index 5 on.
enum : unsigned {
    TextHeading = 0,
    TextInformation = 1,      // page 1: the information page runs only with it
    TextFolderRequiredLabel = 5, // page 2, control 1017
    TextFolderFreeLabel = 6,     // page 2, control 1018
    TextFolderSizeFormat = 7,    // page 2: one "%d", megabytes
    TextReadyFolderFormat = 2,   // page 3: one "%s", the install folder
    TextFinishErrorFormat = 4,   // page 5: one "%s", the error text
    TextFinishViewCaption = 5,   // page 5, control 1014
    TextFinishLaunchCaption = 6, // page 5, control 1015
    TextFinishRestartNotice = 7, // page 5
};

// Group 6: the title, questions and error texts. The error numbers of
// state.h are indices here as well.
enum : unsigned {
    MsgTitle = 0,
    MsgBrowseTitle = 1,
    MsgBrowseFolderLabel = 2,
    MsgBrowseDrivesLabel = 3,
    MsgCheckingSpace = 4,
    MsgInvalidFolder = 5,
    MsgCreateFolder = 6,
    MsgOverwriteProtected = 7,
    MsgCheckFailed = 8,
    MsgNotEnoughSpace = 11,
    MsgCancelInstalling = 13,
    MsgCancelWizard = 14,
    MsgNotCompleted = 15,
    MsgInsertDisk = 28,
    MsgExistingNewer = 29,
    MsgExistingOtherLanguage = 30,
    MsgInvalidData = 31,
};

// Group 7: button captions.
enum : unsigned {
    CaptionBack = 0,
    CaptionNext = 1,
    CaptionCancel = 2,
    CaptionStart = 3,
    CaptionOk = 4,
    CaptionStop = 5,
    CaptionRestart = 6,
};

// The longest texts the platform is handed: a message box, a caption or a
// static text, and the information page's text (an edit control). Longer
// package texts are cut where they are shown; the authoring tool refuses
// them.
const unsigned MaxShownText = 2047;
const unsigned MaxInformationText = 60000;

// Text `index` of message group `group`. Never null: a missing group or
// index, or a group whose strings run out before `index`, gives "".
// Valid until the header data is freed.
const char* GetMessageText(unsigned group, unsigned index);

// Tells the user that the package is damaged (group 6, index 31), when
// the package has that text: before its groups are read there is none.
void ShowInvalidData();

// Fills a package text used as a format: the first "%s" takes `text`, the
// first "%d" (or %i, %u, with an optional l) takes `number`, "%%" is a
// percent sign; anything else is copied as it stands. The texts come from
// the package, so unlike wsprintfA this never reads an argument that was
// not passed. The result is cut to fit `size` bytes and always ends.
void FormatText(char* out, unsigned size, const char* format, const char* text, long number);

} // namespace zevrin
