#include "journal_folder.h"

#include <QDir>

namespace tvx {

QString journalFolder(const std::function<QString(const char *)> &environment, bool windows)
{
    if (windows) {
        // In Windows's notation on every system, so that the rule is tested everywhere.
        QString local = environment("LOCALAPPDATA").replace(QLatin1Char('/'), QLatin1Char('\\'));
        while (local.endsWith(QLatin1Char('\\')))
            local.chop(1);
        return local + QStringLiteral("\\Tarvix\\captures");
    }
    QString state = environment("XDG_STATE_HOME");
    if (!QDir::isAbsolutePath(state))
        state = environment("HOME") + QStringLiteral("/.local/state");
    return QDir::cleanPath(state + QStringLiteral("/tarvix/captures"));
}

QString journalFolder()
{
#ifdef Q_OS_WIN
    const bool windows = true;
#else
    const bool windows = false;
#endif
    return journalFolder([](const char *name) { return qEnvironmentVariable(name); }, windows);
}

} // namespace tvx
