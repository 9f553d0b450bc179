#include "capture_notice.h"

#include "app/capture.h"
#include "app/reading_text.h"
#include "app/spoken_notice.h"

#include <QTimer>

namespace tvx::capturenotice {

void follow(Capture &capture, const ReadingText &text, SpokenNotice &notice)
{
    // Said once the window has hidden the reading area and moved the keyboard focus, so that
    // what the screen reader says of the new focus comes first and does not cut the notice short.
    QObject::connect(&capture, &Capture::began, &notice, [&notice] {
        QTimer::singleShot(0, &notice,
                           [&notice] { notice.say(QStringLiteral("DATA CAPTURING WAIT")); });
    });
    // The window has shown the readings again by then.
    QObject::connect(&capture, &Capture::finished, &notice,
                     [&notice, &text] { notice.say(linesReceived(text)); });
}

QString linesReceived(const ReadingText &text)
{
    const QByteArray &bytes = text.bytes();
    const bool lastEmpty = bytes.isEmpty() || bytes.endsWith('\r') || bytes.endsWith('\n');
    const qint64 lines = text.lines().lineCount() - (lastEmpty ? 1 : 0);
    return lines == 1 ? QStringLiteral("1 line received")
                      : QStringLiteral("%1 lines received").arg(lines);
}

} // namespace tvx::capturenotice
