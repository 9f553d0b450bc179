#pragma once

#include <QByteArray>

#include <functional>

namespace tvx::sim {

// What the instrument sends when the user presses "Recall" and "Save": its stored readings, one
// per line, in the "ID  Reading" columns, CR LF after each line.
QByteArray sampleTransmission();

// How the bytes go out on the line.
struct Pacing {
    int charsPerSecond = 120; // 1200 baud, 10 bits a character (start, 8 data, stop); 0 = at once
    qint64 pauseAfter = -1;   // a pause after this many bytes (-1: none) ...
    int pauseMs = 0;          // ... of this length
};

// Sends bytes through write() (which must take them all) at the pace given, unchanged and in
// order; returns false as soon as a write fails.
bool send(const QByteArray &bytes, const Pacing &pacing,
          const std::function<bool(const char *, qint64)> &write);

} // namespace tvx::sim
