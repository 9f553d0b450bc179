#include "line_index.h"

#include "line_breaks.h"

#include <algorithm>

namespace tvx {

namespace {
// A mark is set at the first line start this many lines or bytes after the previous mark.
constexpr qint64 MarkLines = 64;
constexpr qint64 MarkBytes = 4096;
} // namespace

void LineIndex::clear()
{
    m_marks.assign(1, Mark{0, 0});
    m_long.clear();
    m_lineCount = 1;
    m_lastStart = 0;
    m_size = 0;
    m_extraDone = 0;
    m_pendingCr = false;
}

qint64 LineIndex::extraSegments(qint64 length)
{
    return length > 0 ? (length - 1) / SegmentSize : 0;
}

qint64 LineIndex::nextBreak(const QByteArray &text, qint64 from, qint64 to)
{
    return linebreaks::next(text.constData(), from, to);
}

qint64 LineIndex::afterBreak(const QByteArray &text, qint64 at)
{
    if (text.at(at) == '\r' && at + 1 < text.size() && text.at(at + 1) == '\n')
        return at + 2;
    return at + 1;
}

void LineIndex::extend(const QByteArray &text, qint64 from)
{
    const qint64 size = text.size();
    qint64 at = from;
    if (m_pendingCr && at < size) {
        m_pendingCr = false;
        // The LF of a CR LF whose CR ended the text before: the line after it starts later.
        if (text.at(at) == '\n') {
            m_lastStart = ++at;
            if (m_marks.back().line == m_lineCount - 1)
                m_marks.back().start = m_lastStart;
        }
    }
    for (;;) {
        const qint64 found = nextBreak(text, at, size);
        if (found == size)
            break;
        at = afterBreak(text, found);
        m_pendingCr = found + 1 == size && text.at(found) == '\r';
        endLine(found, at);
    }
    m_size = size;
}

void LineIndex::endLine(qint64 contentEnd, qint64 nextStart)
{
    const qint64 length = contentEnd - m_lastStart;
    if (const qint64 extra = extraSegments(length)) {
        m_long.push_back({m_lineCount - 1, m_lastStart, length, m_extraDone});
        m_extraDone += extra;
    }
    ++m_lineCount;
    m_lastStart = nextStart;
    const Mark &mark = m_marks.back();
    if (m_lineCount - 1 - mark.line >= MarkLines || nextStart - mark.start >= MarkBytes)
        m_marks.push_back({m_lineCount - 1, nextStart});
}

const LineIndex::LongLine *LineIndex::longLine(qint64 line) const
{
    const auto it = std::lower_bound(m_long.cbegin(), m_long.cend(), line,
                                     [](const LongLine &l, qint64 n) { return l.line < n; });
    return it != m_long.cend() && it->line == line ? &*it : nullptr;
}

qint64 LineIndex::lineStart(const QByteArray &text, qint64 line) const
{
    if (line <= 0)
        return 0;
    if (line >= m_lineCount - 1)
        return m_lastStart;
    if (const LongLine *l = longLine(line))
        return l->start;
    // A long line between the mark and the line would have put a mark after itself.
    const auto mark = std::upper_bound(m_marks.cbegin(), m_marks.cend(), line,
                                       [](qint64 n, const Mark &m) { return n < m.line; }) -
                      1;
    qint64 at = mark->start;
    for (qint64 n = mark->line; n < line; ++n)
        at = afterBreak(text, nextBreak(text, at, m_size));
    return at;
}

qint64 LineIndex::lineEnd(const QByteArray &text, qint64 line) const
{
    if (line >= m_lineCount - 1)
        return m_size;
    if (const LongLine *l = longLine(line))
        return l->start + l->length;
    return nextBreak(text, lineStart(text, line), m_size);
}

qint64 LineIndex::lineOf(const QByteArray &text, qint64 offset) const
{
    if (offset >= m_lastStart)
        return m_lineCount - 1;
    offset = std::max<qint64>(offset, 0);
    const auto l = std::upper_bound(m_long.cbegin(), m_long.cend(), offset,
                                    [](qint64 o, const LongLine &n) { return o < n.start; });
    if (l != m_long.cbegin()) {
        const LongLine &before = *(l - 1);
        if (offset < afterBreak(text, before.start + before.length))
            return before.line;
    }
    const auto mark = std::upper_bound(m_marks.cbegin(), m_marks.cend(), offset,
                                       [](qint64 o, const Mark &m) { return o < m.start; }) -
                      1;
    qint64 line = mark->line;
    for (qint64 at = mark->start;; ++line) {
        const qint64 found = nextBreak(text, at, offset);
        if (found == offset)
            return line;
        at = afterBreak(text, found);
        if (at > offset)
            return line;
    }
}

qint64 LineIndex::segmentCount() const
{
    return m_lineCount + m_extraDone + extraSegments(m_size - m_lastStart);
}

qint64 LineIndex::firstSegment(qint64 line) const
{
    const auto l = std::lower_bound(m_long.cbegin(), m_long.cend(), line,
                                    [](const LongLine &n, qint64 x) { return n.line < x; });
    return line + (l == m_long.cend() ? m_extraDone : l->extraBefore);
}

LineIndex::Segment LineIndex::segment(const QByteArray &text, qint64 index) const
{
    index = std::clamp<qint64>(index, 0, segmentCount() - 1);
    qint64 extraBefore = 0;
    const auto l =
        std::upper_bound(m_long.cbegin(), m_long.cend(), index,
                         [](qint64 g, const LongLine &n) { return g < n.line + n.extraBefore; });
    if (l != m_long.cbegin()) {
        const LongLine &before = *(l - 1);
        const qint64 part = index - (before.line + before.extraBefore);
        const qint64 start = before.start + part * SegmentSize;
        if (part <= extraSegments(before.length))
            return {before.line, start,
                    std::min(start + SegmentSize, before.start + before.length)};
        extraBefore = before.extraBefore + extraSegments(before.length);
    }
    // Only the last line, still growing, can be long beyond the lines of m_long.
    const qint64 line = std::min(index - extraBefore, m_lineCount - 1);
    const qint64 lineBegin = lineStart(text, line);
    const qint64 start = lineBegin + (index - extraBefore - line) * SegmentSize;
    return {line, start, std::min(start + SegmentSize, lineEnd(text, line))};
}

qint64 LineIndex::segmentOf(const QByteArray &text, qint64 offset) const
{
    const qint64 line = lineOf(text, offset);
    const qint64 start = lineStart(text, line);
    const qint64 part = std::min(std::max<qint64>(offset - start, 0) / SegmentSize,
                                 extraSegments(lineEnd(text, line) - start));
    return firstSegment(line) + part;
}

} // namespace tvx
