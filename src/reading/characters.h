#pragma once

#include <QChar>

namespace tvx {

// What the reading area makes of each byte, one Latin-1 character each.

// Control characters other than the tab take no room and show nothing; so does the soft hyphen,
// which the toolkit's text boxes show only where a line is broken at it.
inline bool isShown(uchar c)
{
    return (c >= 0xa0 && c != 0xad) || (c >= 0x20 && c < 0x7f);
}

// A double-click takes a run of these; any other character is taken alone.
inline bool isWordCharacter(char c)
{
    const QChar ch = QChar::fromLatin1(c);
    return ch.isLetterOrNumber() || ch == QLatin1Char('_');
}

} // namespace tvx
