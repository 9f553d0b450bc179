#pragma once

#include <QString>

namespace tvx {

class Capture;
class ReadingText;
class SpokenNotice;

// What a screen reader user is told of a capture: what the flashing notice shows, once a
// capture (not at every flash), and how many lines came.
namespace capturenotice {

// Says "DATA CAPTURING WAIT" through notice when each capture begins, and linesReceived() when
// it ends.
void follow(Capture &capture, const ReadingText &text, SpokenNotice &notice);

// "40 lines received": the lines of the text, the last one counted when it holds anything.
QString linesReceived(const ReadingText &text);

} // namespace capturenotice
} // namespace tvx
