#pragma once

#include <QByteArray>
#include <QString>

namespace tvx::helptext {

// The help text exactly as stored: 76 lines, each ending in CR LF, one character per byte.
QByteArray bytes();

// The text as the help window shows it: each byte one Latin-1 character, and each CR LF pair
// one line break (a text box would otherwise show CR and LF as two).
QString forDisplay(const QByteArray &bytes);

} // namespace tvx::helptext
