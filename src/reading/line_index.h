#pragma once

#include <QByteArray>

#include <vector>

namespace tvx {

// Where the lines of a reading text begin, so that any line can be found without going over the
// text before it. CR LF, LF and CR each end a line; a text of n breaks has n + 1 lines (the last
// one possibly empty). Every query takes the text the index was built over.
//
// The index stays small whatever the text: it marks the start of every 64th line, and of the
// first line after 4 KiB without a mark, so a line is found by reading at most 4 KiB from a mark
// (or a few dozen short lines). Lines longer than a segment are kept apart with their length.
//
// For the reading area a line is also cut into segments of at most SegmentSize bytes: a segment
// is laid out on its own, so a line of any length costs no more to show than its visible part.
class LineIndex {
public:
    static constexpr qint64 SegmentSize = 64 * 1024;

    // The index of an empty text: one empty line.
    LineIndex() { clear(); }

    void clear();
    // Takes in the bytes of text from offset from on (text up to from is what the index was
    // built over so far). Costs in proportion to the bytes taken in.
    void extend(const QByteArray &text, qint64 from);

    qint64 lineCount() const { return m_lineCount; }
    // The first byte of a line, and the end of its content (where its line break begins).
    qint64 lineStart(const QByteArray &text, qint64 line) const;
    qint64 lineEnd(const QByteArray &text, qint64 line) const;
    // The line that holds offset; an offset inside a line break belongs to the line it ends.
    qint64 lineOf(const QByteArray &text, qint64 offset) const;

    // A part of a line of at most SegmentSize bytes: [start, end) of the text.
    struct Segment {
        qint64 line = 0;
        qint64 start = 0;
        qint64 end = 0;
    };
    qint64 segmentCount() const;
    Segment segment(const QByteArray &text, qint64 index) const;
    // The segment that holds offset (the last of its line for an offset in a line break).
    qint64 segmentOf(const QByteArray &text, qint64 offset) const;

private:
    struct Mark {
        qint64 line;
        qint64 start;
    };
    // A line of more than one segment.
    struct LongLine {
        qint64 line;
        qint64 start;
        qint64 length;
        qint64 extraBefore; // segments beyond the first of the long lines before this one
    };

    static qint64 extraSegments(qint64 length);
    // The line break that starts at or after from and before to, or to if there is none.
    static qint64 nextBreak(const QByteArray &text, qint64 from, qint64 to);
    // The start of the line after the break at offset at.
    static qint64 afterBreak(const QByteArray &text, qint64 at);
    void endLine(qint64 contentEnd, qint64 nextStart);
    // The line, if it is one of the long lines that have ended.
    const LongLine *longLine(qint64 line) const;
    qint64 firstSegment(qint64 line) const;

    std::vector<Mark> m_marks;
    std::vector<LongLine> m_long; // the lines that have ended, in order
    qint64 m_lineCount = 1;
    qint64 m_lastStart = 0;
    qint64 m_size = 0;
    qint64 m_extraDone = 0;   // the extra segments of m_long
    bool m_pendingCr = false; // the text ends with a CR that an LF may still join
};

} // namespace tvx
