#pragma once

#include <QByteArray>
#include <QString>

#include <functional>

namespace tvx {

// What tarvix-capture tells on standard error. On a terminal each capture has one line that is
// rewritten in place as the capture goes on (waiting, receiving, written); elsewhere (a log
// file, a pipe) only the line a capture ends with is written, so no control characters end up
// in logs; quiet, only errors. Errors are written in every mode, on lines of their own.
class StatusLine {
public:
    enum class Mode { Live, Final, Quiet };
    using Writer = std::function<void(const QByteArray &bytes)>;

    StatusLine(Mode mode, Writer write) : m_mode(mode), m_write(std::move(write)) {}

    Mode mode() const { return m_mode; }

    // The capture's state of the moment (live mode only; the same text again writes nothing).
    void show(const QString &text);
    // The capture's last state, kept on its own line.
    void finish(const QString &text);
    // "tarvix-capture: " and the text, on a line of its own, below a live line.
    void error(const QString &text);
    // Ends a live line that is still open, keeping what it said.
    void close();

private:
    void put(const QString &text);

    Mode m_mode;
    Writer m_write;
    bool m_open = false; // a live line is on the terminal, not yet ended
    QString m_shown;     // ... saying this
};

} // namespace tvx
