#include "fake_printer.h"

namespace tvx::test {

bool FakePrinter::failsNow()
{
    const int call = m_calls++;
    return m_failAll || m_failing.contains(call);
}

bool FakePrinter::printLine(const QByteArray &line)
{
    if (failsNow())
        return false;
    m_isOpen = true;
    m_open.append(line);
    return true;
}

bool FakePrinter::endDocument()
{
    // Like a real printer, there is nothing to end when no line opened a document.
    if (failsNow() || !m_isOpen)
        return false;
    m_jobs.append(m_open);
    m_open.clear();
    m_isOpen = false;
    return true;
}

bool FakePrinter::showPrinter(QWidget *parent)
{
    ++m_dialogs;
    m_dialogParent = parent;
    return false;
}

} // namespace tvx::test
