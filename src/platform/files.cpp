#include "files.h"

#include <QSaveFile>

namespace tvx {

bool writeFileAtomically(const QString &path, const QByteArray &bytes, QString *reason)
{
    QSaveFile file(path);
    // Unbuffered, so that a short write (disk full) shows in write() itself: with buffering
    // the failure would only surface in the final flush, which commit() does not report.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        if (reason)
            *reason = file.errorString();
        return false;
    }
    if (file.write(bytes) != bytes.size()) {
        if (reason)
            *reason = file.errorString();
        file.cancelWriting();
        return false;
    }
    const QString error = file.errorString();
    if (!file.commit()) {
        if (reason)
            *reason = file.errorString().isEmpty() ? error : file.errorString();
        return false;
    }
    return true;
}

} // namespace tvx
