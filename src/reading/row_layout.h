#pragma once

#include "reading/glyph_table.h"

#include <QtGlobal>

#include <array>
#include <memory>
#include <vector>

namespace tvx {

// How a run of Latin-1 bytes is cut into rows at a width: after a blank (space or tab) where
// possible, anywhere within a word too long for a row. Blanks may hang past the edge. Widths come
// from a table of the 256 characters' advances; a tab reaches the next tab stop.
class RowLayout {
public:
    RowLayout();
    RowLayout(const std::array<qreal, 256> &advances, qreal tabWidth);
    RowLayout(std::shared_ptr<const GlyphTable> glyphs, qreal tabWidth);

    // Where the advances come from, and the glyphs that draw the characters.
    const GlyphTable &glyphs() const { return *m_glyphs; }

    // The width of character c when it begins at x.
    qreal advance(uchar c, qreal x) const;
    // Where the rows of bytes[0, n) begin when cut at width; the first row begins at 0.
    std::vector<int> wrap(const char *bytes, int n, qreal width) const;
    // The x of each character boundary of a row: n + 1 values, the first 0.
    std::vector<qreal> positions(const char *bytes, int n) const;
    // The character boundary of a row nearest to x (0 to n).
    int hit(const char *bytes, int n, qreal x) const;

private:
    std::shared_ptr<const GlyphTable> m_glyphs;
    qreal m_tabWidth = 1;
};

} // namespace tvx
