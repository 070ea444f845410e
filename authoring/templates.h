// The template blob of a package (header record 4674): eight Win32 dialog
// templates, built from a resource script with the MinGW resource
// compiler. Layout of the blob: docs/package-format.md; control ids of
// the default set: authoring/templates/controls.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace zevrin {
struct TemplateFault;
}

const int TemplateCount = 8;
// Template n is the RT_DIALOG resource TemplateResourceBase + n.
const uint16_t TemplateResourceBase = 100;
// The stub copies a template and everything behind it in the blob into a
// block of this size, so no template may start further than this from the
// end of the blob.
const size_t TemplateBlockSize = 16384;
const uint16_t ResourceTypeDialog = 5;  // RT_DIALOG

// One resource of a compiled .res file. Type and name are either an
// ordinal (isId) or a UTF-16 string.
struct ResName {
    bool isId = true;
    uint16_t id = 0;
    std::u16string text;
};
struct ResResource {
    ResName type;
    ResName name;
    uint16_t language = 0;
    uint16_t memoryFlags = 0;
    std::vector<uint8_t> data;
};

// Splits a .res file into its resources, in file order; the empty entry a
// .res starts with (type 0) is dropped. The input is checked as untrusted:
// every length is bounded by the bytes present. False with a message (no
// file name in it) for anything malformed.
bool ParseResFile(const std::vector<uint8_t>& bytes, std::vector<ResResource>* resources,
                  std::string* error);

// Packs the dialogs with ids 100..107 into a blob: eight u32 offsets from
// the start of the blob, then the templates in order, each padded to a
// multiple of 4 bytes. `source` names the input in error messages
// ("default.rc: no dialog for template 7 (resource id 107)"). Refuses a
// missing dialog, one present in two languages, a template that is not a
// well-formed dialog template, and a blob in which a template's tail is
// longer than TemplateBlockSize.
bool PackTemplateBlob(const std::vector<ResResource>& resources, const std::string& source,
                      std::vector<uint8_t>* blob, std::string* error);

// Compiles a resource script with `i686-w64-mingw32-windres -O res` (or
// the program named by the environment variable ZEVRIN_WINDRES) into a
// temporary .res and packs it. A path ending in ".res" is read as an
// already compiled file instead.
bool BuildTemplateBlob(const std::string& rcPath, std::vector<uint8_t>* blob, std::string* error);

// Where the default templates are: templates/default.res or
// templates/default.rc beside the running program, else default.res or
// default.rc in the directory compiled in as ZEVRIN_TEMPLATE_DIR (a string
// literal). A .res is preferred: it needs no resource compiler at run
// time. Empty when none exists.
std::string DefaultTemplatePath();

// The blob of the default templates; empty with `error` set on failure.
std::vector<uint8_t> DefaultTemplateBlob(std::string* error);

// A dialog template taken apart: classic DLGTEMPLATE or DLGTEMPLATEEX.
// Class is an ordinal (0x80 button, 0x81 edit, 0x82 static, 0x83 list box,
// 0x84 scroll bar, 0x85 combo box) or a name.
struct DialogItem {
    uint32_t id = 0;
    uint32_t style = 0;
    uint32_t exStyle = 0;
    int16_t x = 0, y = 0, cx = 0, cy = 0;
    ResName windowClass;
    ResName title;
};
struct DialogInfo {
    bool extended = false;
    uint32_t style = 0;
    uint32_t exStyle = 0;
    int16_t x = 0, y = 0, cx = 0, cy = 0;
    ResName dialogClass;     // an empty name: the system's dialog class
    std::u16string title;
    uint16_t pointSize = 0;  // with DS_SETFONT
    std::u16string font;
    std::vector<DialogItem> items;
};

// Walks a dialog template as the dialog manager would, inside `size`
// bytes. False with a message when it runs past the end.
bool ParseDialogTemplate(const uint8_t* data, size_t size, DialogInfo* info, std::string* error);

// Template n of a blob (its bytes up to the next template or the end), or
// false when the offset table is damaged.
bool TemplateFromBlob(const std::vector<uint8_t>& blob, int n, const uint8_t** data,
                      size_t* size);

// What the installer's template check (stub/startup/templates.h) found
// wrong with template `fault.number` of `blob`, in words that name the
// control and its class: "control 1020 (item 5 of 6) is of class
// \"NoSuchClass\", which the installer cannot make".
std::string TemplateFaultText(const std::vector<uint8_t>& blob, const zevrin::TemplateFault& fault);
