#pragma once

#include <QFont>
#include <QRawFont>

#include <array>
#include <bitset>

namespace tvx {

// The glyph and the advance of each of the 256 Latin-1 characters in the reading area's font,
// asked of the font the first time a character is laid out or drawn: asking for all of them
// when the font is set costs more than a start-up's whole layout, and a reading uses a few
// dozen. Characters that are not shown (characters.h) take no room. Without a font (a fixed
// table), the advances are given and no glyph is known.
class GlyphTable {
public:
    GlyphTable() = default;
    explicit GlyphTable(const std::array<qreal, 256> &advances);
    explicit GlyphTable(const QFont &font);

    qreal advance(uchar c) const
    {
        if (!m_known[c])
            learn(c);
        return m_advances[c];
    }
    quint32 glyph(uchar c) const
    {
        if (!m_known[c])
            learn(c);
        return m_glyphs[c];
    }
    // The font's glyphs are drawn from this one; invalid when the font offers none (then the
    // text is drawn as text), or when the table has no font.
    const QRawFont &rawFont() const;

private:
    void learn(uchar c) const;

    QFont m_font;
    bool m_hasFont = false;
    // Made when first needed: finding the font's file is a good part of a start-up's work.
    mutable QRawFont m_rawFont;
    mutable bool m_rawFontMade = false;
    mutable std::array<qreal, 256> m_advances{};
    mutable std::array<quint32, 256> m_glyphs{};
    mutable std::bitset<256> m_known;
};

} // namespace tvx
