#include "transmission.h"

#include <chrono>
#include <thread>

namespace tvx::sim {

QByteArray sampleTransmission()
{
    QByteArray text;
    // A plausible series: a slow drift with a small wobble, as a logger stores it.
    for (int id = 1; id <= 40; ++id) {
        const int hundredths = 2310 + id * 7 + (id % 5) * 3 - (id % 3) * 4;
        text += ' ' + QByteArray::number(id).rightJustified(3, '0') + "     " +
                QByteArray::number(hundredths / 100) + '.' +
                QByteArray::number(hundredths % 100).rightJustified(2, '0') + "\r\n";
    }
    return text;
}

bool send(const QByteArray &bytes, const Pacing &pacing,
          const std::function<bool(const char *, qint64)> &write)
{
    using Clock = std::chrono::steady_clock;
    auto start = Clock::now();
    qint64 sent = 0;  // bytes written so far
    qint64 paced = 0; // bytes written since the clock last started
    bool paused = pacing.pauseAfter < 0;
    while (sent < bytes.size()) {
        qint64 end = bytes.size();
        if (!paused)
            end = qMin(end, pacing.pauseAfter);
        qint64 due = end;
        if (pacing.charsPerSecond > 0) {
            const auto elapsed =
                std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start);
            due = qMin(end, sent - paced + elapsed.count() * pacing.charsPerSecond / 1000000);
        }
        if (due > sent) {
            if (!write(bytes.constData() + sent, due - sent))
                return false;
            paced += due - sent;
            sent = due;
        }
        if (!paused && sent == pacing.pauseAfter) {
            paused = true;
            std::this_thread::sleep_for(std::chrono::milliseconds(pacing.pauseMs));
            start = Clock::now();
            paced = 0;
        } else if (sent < end) {
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    }
    return true;
}

} // namespace tvx::sim
