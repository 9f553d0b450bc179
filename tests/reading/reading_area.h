#pragma once

// A reading view of a given size on a text of its own, shown, and what the suites ask of it.

#include "app/reading_text.h"
#include "reading/reading_view.h"

#include <QByteArrayList>

struct Area {
    explicit Area(QSize size = QSize(300, 200))
    {
        view.setReadingText(&text);
        view.resize(size);
        view.show();
    }
    // The rows on screen, as the bytes each shows.
    QByteArrayList shownRows()
    {
        QByteArrayList rows;
        for (const auto &[start, end] : view.visibleRows())
            rows.append(view.bytes().mid(start, end - start));
        return rows;
    }
    // A point in the left half of the character at offset, in the view's viewport: a click
    // there lands before that character.
    QPoint pointAt(qint64 offset)
    {
        const QRect box = view.characterRect(offset);
        return QPoint(box.left() + box.width() / 4, box.center().y());
    }
    tvx::ReadingText text;
    tvx::ReadingView view;
};
