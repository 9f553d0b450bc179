#include "glyph_table.h"

#include "reading/characters.h"

#include <QFontMetricsF>

namespace tvx {

GlyphTable::GlyphTable(const std::array<qreal, 256> &advances) : m_advances(advances)
{
    m_known.set();
}

GlyphTable::GlyphTable(const QFont &font) : m_font(font), m_hasFont(true) {}

const QRawFont &GlyphTable::rawFont() const
{
    if (m_hasFont && !m_rawFontMade) {
        m_rawFont = QRawFont::fromFont(m_font);
        m_rawFontMade = true;
    }
    return m_rawFont;
}

void GlyphTable::learn(uchar c) const
{
    m_known.set(c);
    if (!m_hasFont || !isShown(c))
        return;
    const QChar ch = QChar::fromLatin1(char(c));
    const QRawFont &raw = rawFont();
    if (raw.isValid()) {
        const QList<quint32> glyphs = raw.glyphIndexesForString(QString(ch));
        if (glyphs.isEmpty())
            return;
        m_glyphs[c] = glyphs.constFirst();
        m_advances[c] = raw.advancesForGlyphIndexes(glyphs).value(0).x();
    } else {
        m_advances[c] = QFontMetricsF(m_font).horizontalAdvance(ch);
    }
}

} // namespace tvx
