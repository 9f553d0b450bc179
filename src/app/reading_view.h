#pragma once

#include <QObject>

class QPlainTextEdit;

namespace tvx {

class ReadingText;

// Shows the reading text in the reading area: bytes decoded one to one (Latin-1), CR LF, LF and
// CR each shown as one line break. Blocks are added at the end as they come, at a cost that
// depends on the block only, never on how long the text already is.
class ReadingView : public QObject {
    Q_OBJECT
public:
    // A run this long without a line break is broken for display, so that a device sending no
    // line breaks at all does not make every further block slower to lay out.
    static constexpr int MaxRun = 512;

    ReadingView(ReadingText &text, QPlainTextEdit &area, QObject *parent = nullptr);

private:
    // The displayed form of bytes that follow a CR (or not) and a run of runLength characters.
    static QString displayed(const QByteArray &bytes, bool *afterCr, int *runLength);

    void show();
    void add(const QByteArray &block);

    ReadingText &m_text;
    QPlainTextEdit &m_area;
    bool m_afterCr = false;
    int m_runLength = 0;
};

} // namespace tvx
