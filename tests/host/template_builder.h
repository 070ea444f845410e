// Dialog templates written field by field, for the header reader's tests
// and the fuzz seeds: sound ones, and damaged ones made by leaving a field
// out or cutting the bytes short. No resource compiler is needed.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class DialogWriter {
public:
    static const uint32_t ChildVisible = 0x50000000; // WS_CHILD | WS_VISIBLE
    static const uint32_t SetFont = 0x40;            // DS_SETFONT

    // DLGTEMPLATE: style, extended style, item count, x, y, cx, cy.
    DialogWriter& Classic(uint32_t style, uint16_t items)
    {
        U32(style).U32(0).U16(items);
        return U16(0).U16(0).U16(200).U16(100);
    }
    // DLGTEMPLATEEX: version 1, signature 0xFFFF, help id, extended
    // style, style, item count, x, y, cx, cy.
    DialogWriter& Extended(uint32_t style, uint16_t items)
    {
        extended_ = true;
        U16(1).U16(0xFFFF).U32(0).U32(0).U32(style).U16(items);
        return U16(0).U16(0).U16(200).U16(100);
    }
    // A name or ordinal field.
    DialogWriter& None() { return U16(0); }
    DialogWriter& Ordinal(uint16_t n) { return U16(0xFFFF).U16(n); }
    DialogWriter& Text(const std::u16string& text, bool terminated = true)
    {
        for (char16_t c : text)
            U16(c);
        return terminated ? U16(0) : *this;
    }
    // The font block of DS_SETFONT: point size (weight, italic, character
    // set when extended) and face name.
    DialogWriter& Font(const std::u16string& face = u"MS Shell Dlg", bool terminated = true)
    {
        U16(8);
        if (extended_)
            U16(400).U8(0).U8(1);
        return Text(face, terminated);
    }
    // An item's fixed part, on a 4-byte boundary: (help id,) styles, x, y,
    // cx, cy, id. Class, title and creation data follow.
    DialogWriter& Item(uint16_t id)
    {
        while (bytes_.size() % 4)
            U8(0);
        if (extended_)
            U32(0).U32(0).U32(ChildVisible);
        else
            U32(ChildVisible).U32(0);
        U16(7).U16(7).U16(50).U16(14);
        return extended_ ? U32(id) : U16(id);
    }
    // Creation data: a u16 count, then that many bytes.
    DialogWriter& Data(const std::vector<uint8_t>& data)
    {
        U16(static_cast<uint16_t>(data.size()));
        bytes_.insert(bytes_.end(), data.begin(), data.end());
        return *this;
    }
    // A whole item: a static (ordinal class 0x82) or a named class, with
    // a title and no creation data.
    DialogWriter& Static(uint16_t id, const std::u16string& title = u"Text")
    {
        return Item(id).Ordinal(0x82).Text(title).Data({});
    }

    DialogWriter& U8(uint8_t v)
    {
        bytes_.push_back(v);
        return *this;
    }
    DialogWriter& U16(uint16_t v) { return U8(static_cast<uint8_t>(v)).U8(static_cast<uint8_t>(v >> 8)); }
    DialogWriter& U32(uint32_t v) { return U16(static_cast<uint16_t>(v)).U16(static_cast<uint16_t>(v >> 16)); }

    const std::vector<uint8_t>& Bytes() const { return bytes_; }

private:
    std::vector<uint8_t> bytes_;
    bool extended_ = false;
};

// A child dialog with a font: the controls `ids` (statics), then `extra`
// more numbered from `first` (the second of a named class, with creation
// data).
inline std::vector<uint8_t> DialogOf(const std::vector<uint16_t>& ids, uint16_t first, uint16_t extra, bool extended)
{
    uint16_t items = static_cast<uint16_t>(ids.size() + extra);
    DialogWriter w;
    uint32_t style = DialogWriter::ChildVisible | DialogWriter::SetFont;
    if (extended)
        w.Extended(style, items);
    else
        w.Classic(style, items);
    w.None().None().Text(u"Page").Font();
    for (uint16_t id : ids)
        w.Static(id);
    for (uint16_t i = 0; i < extra; ++i) {
        if (i == 1)
            w.Item(first + i).Text(u"Button").Text(u"&Go").Data({1, 2});
        else
            w.Static(first + i);
    }
    return w.Bytes();
}

// A small well-formed dialog: no menu, the default class, a title and a
// font, and `items` controls 1000, 1001... (the second of a named class,
// with creation data).
inline std::vector<uint8_t> SoundDialog(bool extended = false, uint16_t items = 2)
{
    return DialogOf({}, 1000, items, extended);
}

// The controls the installer needs in template n: the frame's Next,
// Cancel and Back buttons and page placeholder; the directory page's
// folder field; the information and finish pages' main text.
inline std::vector<uint16_t> NeededControlIds(size_t n)
{
    switch (n) {
    case 0:
    case 1: return {1, 2, 1007, 1006};
    case 2: return {1004};
    case 3:
    case 6: return {1000};
    default: return {};
    }
}

// Template n of a sound set: the controls it needs, then `extra` more
// (the second of a named class, with creation data).
inline std::vector<uint8_t> SoundTemplate(size_t n, bool extended = false, uint16_t extra = 2)
{
    return DialogOf(NeededControlIds(n), 1100, extra, extended);
}

// A blob of eight templates: the u32 offset table, then the templates in
// order, each padded to 4 bytes, except template `last`, which goes at the
// very end without padding, so that whatever it leaves open runs into
// the end of the blob.
inline std::vector<uint8_t> TemplateBlobOf(const std::vector<std::vector<uint8_t>>& templates, size_t last = 7)
{
    std::vector<uint8_t> blob(32, 0);
    auto place = [&blob, &templates](size_t n, bool pad) {
        uint32_t at = static_cast<uint32_t>(blob.size());
        for (int i = 0; i < 4; ++i)
            blob[4 * n + i] = static_cast<uint8_t>(at >> (8 * i));
        blob.insert(blob.end(), templates[n].begin(), templates[n].end());
        while (pad && blob.size() % 4)
            blob.push_back(0);
    };
    for (size_t n = 0; n < templates.size(); ++n)
        if (n != last)
            place(n, true);
    if (last < templates.size())
        place(last, false);
    return blob;
}

// Eight sound templates, both forms among them.
inline std::vector<uint8_t> SoundTemplateBlob()
{
    std::vector<std::vector<uint8_t>> templates;
    for (int n = 0; n < 8; ++n)
        templates.push_back(SoundTemplate(n, n % 3 == 1, static_cast<uint16_t>(n % 4)));
    return TemplateBlobOf(templates);
}
