#include "row_layout.h"

#include <cmath>

namespace tvx {

namespace {
bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}
} // namespace

RowLayout::RowLayout() : m_glyphs(std::make_shared<GlyphTable>()) {}

RowLayout::RowLayout(const std::array<qreal, 256> &advances, qreal tabWidth)
    : RowLayout(std::make_shared<GlyphTable>(advances), tabWidth)
{
}

RowLayout::RowLayout(std::shared_ptr<const GlyphTable> glyphs, qreal tabWidth)
    : m_glyphs(std::move(glyphs)), m_tabWidth(tabWidth > 0 ? tabWidth : 1)
{
}

qreal RowLayout::advance(uchar c, qreal x) const
{
    if (c == '\t')
        return (std::floor(x / m_tabWidth) + 1) * m_tabWidth - x;
    return m_glyphs->advance(c);
}

std::vector<int> RowLayout::wrap(const char *bytes, int n, qreal width) const
{
    std::vector<int> rows{0};
    int rowStart = 0;
    int afterBlank = 0; // a row may begin here: just after the last blank seen
    qreal x = 0;
    for (int i = 0; i < n; ++i) {
        const char c = bytes[i];
        if (isBlank(c)) {
            x += advance(uchar(c), x);
            afterBlank = i + 1;
            continue;
        }
        qreal w = advance(uchar(c), x);
        // A character that does not fit moves to the next row, with the word it ends; a word
        // wider than a whole row is cut before the character.
        while (x + w > width && i > rowStart) {
            rowStart = afterBlank > rowStart ? afterBlank : i;
            rows.push_back(rowStart);
            x = 0;
            for (int j = rowStart; j < i; ++j)
                x += advance(uchar(bytes[j]), x);
            w = advance(uchar(c), x);
        }
        x += w;
    }
    return rows;
}

std::vector<qreal> RowLayout::positions(const char *bytes, int n) const
{
    std::vector<qreal> xs(size_t(n) + 1, 0);
    for (int i = 0; i < n; ++i)
        xs[size_t(i) + 1] = xs[size_t(i)] + advance(uchar(bytes[i]), xs[size_t(i)]);
    return xs;
}

int RowLayout::hit(const char *bytes, int n, qreal x) const
{
    qreal left = 0;
    for (int i = 0; i < n; ++i) {
        const qreal right = left + advance(uchar(bytes[i]), left);
        if (x < right)
            return x - left < right - x ? i : i + 1;
        left = right;
    }
    return n;
}

} // namespace tvx
