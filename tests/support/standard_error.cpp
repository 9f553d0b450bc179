#include "standard_error.h"

#include <QFile>

#include <cstdio>

#include <unistd.h>

namespace tvx::test {

StandardError::StandardError()
{
    std::fflush(stderr);
    if (!m_file.open())
        return;
    m_saved = ::dup(STDERR_FILENO);
    if (m_saved >= 0 && ::dup2(m_file.handle(), STDERR_FILENO) < 0) {
        ::close(m_saved);
        m_saved = -1;
    }
}

StandardError::~StandardError()
{
    std::fflush(stderr);
    if (m_saved < 0)
        return;
    ::dup2(m_saved, STDERR_FILENO);
    ::close(m_saved);
}

QStringList StandardError::lines()
{
    std::fflush(stderr);
    if (m_saved < 0)
        return {QStringLiteral("<standard error could not be taken>")};
    // Read through a file of its own: the taken descriptor keeps its place at the end.
    QFile written(m_file.fileName());
    if (!written.open(QIODevice::ReadOnly))
        return {QStringLiteral("<standard error could not be read>")};
    QString text = QString::fromLocal8Bit(written.readAll());
    if (text.endsWith(QLatin1Char('\n')))
        text.chop(1);
    return text.isEmpty() ? QStringList() : text.split(QLatin1Char('\n'));
}

} // namespace tvx::test
