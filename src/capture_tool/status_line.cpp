#include "status_line.h"

namespace tvx {

namespace {

// Back to the start of the line and erase it: the live line is rewritten in place.
const QString Rewrite = QStringLiteral("\r\x1b[K");

} // namespace

void StatusLine::put(const QString &text)
{
    m_write(text.toLocal8Bit());
}

void StatusLine::show(const QString &text)
{
    if (m_mode != Mode::Live || (m_open && text == m_shown))
        return;
    put(Rewrite + text);
    m_open = true;
    m_shown = text;
}

void StatusLine::finish(const QString &text)
{
    if (m_mode == Mode::Quiet)
        return;
    put((m_mode == Mode::Live ? Rewrite : QString()) + text + QLatin1Char('\n'));
    m_open = false;
}

void StatusLine::error(const QString &text)
{
    close();
    put(QStringLiteral("tarvix-capture: %1\n").arg(text));
}

void StatusLine::close()
{
    if (!m_open)
        return;
    put(QStringLiteral("\n"));
    m_open = false;
}

} // namespace tvx
