// Where the package's dialog templates lie in its template blob (header
// record 4674). Pages and the folder browser are made from copies of
// them, so the copying lives with the pages.
#pragma once

#include <cstdint>

namespace zevrin {

enum : unsigned {
    TemplateFrameWindowed = 0,
    TemplateFrameFullScreen = 1,
    TemplateDirectory = 2,
    TemplateInformation = 3,
    TemplateProgress = 4,
    TemplateWelcomeReady = 5,
    TemplateFinish = 6,
    TemplateFolderBrowser = 7,
    NoTemplate = 8, // a page without a dialog; never loaded
};
// The blob opens with the u32 offsets of templates 0..7.
const uint32_t TemplateOffsetTableSize = 4 * NoTemplate;
// A template is used from a zeroed block of this size, filled with the
// template and whatever follows it in the blob.
const uint32_t TemplateBlockBytes = 16384;

// Where template `number` starts in the blob and how many of its bytes a
// load copies (the rest of the blob, at most TemplateBlockBytes). False
// when the offset table is short or the offset lies in it or past the blob.
bool TemplateSpan(const uint8_t* blob, uint32_t size, unsigned number, uint32_t* offset, uint32_t* length);

// The controls without which a template's dialog cannot do its work: the
// frame's three buttons and the placeholder every page is moved onto;
// the directory page's folder field (Next installs into what it holds);
// the information page's text (its whole content); the finish page's
// main text (the one place an error is told). Any other control may be
// left out; the pages skip what is not there.
struct NeededControls {
    const uint16_t* ids;
    unsigned count;
};
NeededControls ControlsNeeded(unsigned number);

} // namespace zevrin
