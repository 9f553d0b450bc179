// What the reading area puts on the clipboard: the exact bytes, as text and as UTF-8, of the
// selection only, and a large selection made ready off the window's thread.

#include "reading_area.h"

#include "reading/clipboard_writer.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>
#include <QTest>

using namespace tvx;

namespace {

QClipboard *clipboard()
{
    return QGuiApplication::clipboard();
}

// What a program that pastes gets: the UTF-8 bytes of the text.
QByteArray pasted()
{
    const QMimeData *data = clipboard()->mimeData();
    return data ? data->data(QStringLiteral("text/plain")) : QByteArray();
}

// Bytes of every value, so that any slip of the conversion shows.
QByteArray allBytes(qint64 size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (qint64 i = 0; i < size; ++i)
        bytes[i] = char((i * 7 + i / 256) & 0xff);
    return bytes;
}

} // namespace

class TestReadingClipboard : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void copyIsExact_data();
    void copyIsExact();
    void conversion_data();
    void conversion();
    void largeCopyMadeReadyBeside_data();
    void largeCopyMadeReadyBeside();
    void laterCopyWins();
    void endsInTheMiddleOfACopy();
    void copyHoldsOnlyTheSelection_data();
    void copyHoldsOnlyTheSelection();
    void mouseSelectionIsThePrimarySelection();
};

void TestReadingClipboard::copyIsExact_data()
{
    QTest::addColumn<qint64>("anchor");
    QTest::addColumn<qint64>("position");
    QTest::addColumn<QByteArray>("utf8");
    // "ab\r\ncd\ref\n\xb5g"
    QTest::newRow("over CR LF") << qint64(1) << qint64(5) << QByteArray("b\r\nc");
    QTest::newRow("backwards") << qint64(5) << qint64(1) << QByteArray("b\r\nc");
    QTest::newRow("ending inside CR LF") << qint64(0) << qint64(3) << QByteArray("ab\r");
    QTest::newRow("CR alone and LF alone") << qint64(5) << qint64(10) << QByteArray("d\ref\n");
    QTest::newRow("Latin-1 at the end") << qint64(10) << qint64(99) << QByteArray("\xc2\xb5g");
    QTest::newRow("everything") << qint64(0) << qint64(12) << QByteArray("ab\r\ncd\ref\n\xc2\xb5g");
}

void TestReadingClipboard::copyIsExact()
{
    QFETCH(qint64, anchor);
    QFETCH(qint64, position);
    QFETCH(QByteArray, utf8);
    Area area;
    area.text.replace("ab\r\ncd\ref\n\xb5g");
    clipboard()->clear();
    area.view.setSelection(anchor, position);
    QTest::keyClick(&area.view, Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(pasted(), utf8);
    const QString copied = QString::fromUtf8(utf8);
    QCOMPARE(clipboard()->text(), copied);
    // What was copied stays as it was when blocks arrive, and when the text is replaced.
    area.text.append("\r\nmore");
    QCOMPARE(clipboard()->text(), copied);
    area.text.replace("other");
    QCOMPARE(pasted(), utf8);
    area.text.replace("ab\r\ncd\ref\n\xb5g");
    // Ctrl+C with nothing selected leaves the clipboard as it was.
    area.view.setSelection(2, 2);
    QTest::keyClick(&area.view, Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(pasted(), utf8);
    // Ctrl+A takes all of it.
    QTest::keyClick(&area.view, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(&area.view, Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(pasted(), QByteArray("ab\r\ncd\ref\n\xc2\xb5g"));
}

void TestReadingClipboard::conversion_data()
{
    QTest::addColumn<QByteArray>("latin1");
    QTest::newRow("nothing") << QByteArray();
    QTest::newRow("ASCII only") << QByteArray("001  23.16\r\n");
    QTest::newRow("every byte") << allBytes(256 * 3);
    QTest::newRow("high bytes only") << QByteArray("\x80\xff\xb0\xb5");
    // The conversion goes in pieces of 4 MiB: a character on either side of a seam.
    QByteArray seam(4 * 1024 * 1024 + 2, 'x');
    seam[4 * 1024 * 1024 - 1] = '\xe9';
    seam[4 * 1024 * 1024] = '\xb0';
    QTest::newRow("over the seam of two pieces") << seam;
}

void TestReadingClipboard::conversion()
{
    QFETCH(QByteArray, latin1);
    QCOMPARE(latin1ToUtf8(latin1.constData(), latin1.size()), QString::fromLatin1(latin1).toUtf8());
}

void TestReadingClipboard::largeCopyMadeReadyBeside_data()
{
    QTest::addColumn<qint64>("size");
    QTest::addColumn<bool>("atOnce");
    // 1 MiB, converted in well under a millisecond.
    QTest::newRow("at the limit") << qint64(1024 * 1024) << true;
    QTest::newRow("a byte over it") << qint64(1024 * 1024 + 1) << false;
    QTest::newRow("many pieces") << qint64(9) * 1024 * 1024 + 3 << false;
}

// Up to the limit the clipboard holds the copy at once; beyond it, the clipboard is emptied at
// once (a paste meanwhile never gives what was copied before) and holds the copy when ready.
void TestReadingClipboard::largeCopyMadeReadyBeside()
{
    QFETCH(qint64, size);
    QFETCH(bool, atOnce);
    const QByteArray text = allBytes(size + 2);
    ClipboardWriter writer;
    clipboard()->setText(QStringLiteral("copied before"));
    writer.put(QClipboard::Clipboard, text, 1, size + 1);
    const QByteArray expected = QString::fromLatin1(text.mid(1, size)).toUtf8();
    if (atOnce) {
        QVERIFY(!writer.converting(QClipboard::Clipboard));
        QCOMPARE(pasted(), expected);
        return;
    }
    // The conversion's end is taken in through the event loop, so until then the clipboard
    // is empty.
    QVERIFY(writer.converting(QClipboard::Clipboard));
    QVERIFY(!writer.converting(QClipboard::Selection));
    QCOMPARE(pasted(), QByteArray());
    QVERIFY(clipboard()->mimeData()->formats().isEmpty());
    QTRY_VERIFY_WITH_TIMEOUT(!writer.converting(QClipboard::Clipboard), 20000);
    QTRY_COMPARE(pasted().size(), expected.size());
    QVERIFY(pasted() == expected);
}

// A copy made while a larger one is still being converted stays on the clipboard; the primary
// selection converted meanwhile is not disturbed.
void TestReadingClipboard::laterCopyWins()
{
    const QByteArray text = allBytes(32 * 1024 * 1024);
    ClipboardWriter writer;
    writer.put(QClipboard::Selection, text, 1, text.size());
    writer.put(QClipboard::Clipboard, text, 0, text.size());
    writer.put(QClipboard::Clipboard, QByteArray("later\xb0"), 0, 6);
    QCOMPARE(pasted(), QByteArray("later\xc2\xb0"));
    QTRY_VERIFY_WITH_TIMEOUT(!writer.converting(QClipboard::Clipboard), 20000);
    QTest::qWait(50); // the finished conversion's answer comes through the event loop
    QCOMPARE(pasted(), QByteArray("later\xc2\xb0"));
    QTRY_VERIFY_WITH_TIMEOUT(!writer.converting(QClipboard::Selection), 20000);
    QCOMPARE(clipboard()->mimeData(QClipboard::Selection)->data(QStringLiteral("text/plain")),
             QString::fromLatin1(text.mid(1)).toUtf8());
}

// The program ending while a large copy is converted ends the conversion with it, and nothing
// reaches the clipboard afterwards.
void TestReadingClipboard::endsInTheMiddleOfACopy()
{
    const QByteArray text = allBytes(64 * 1024 * 1024);
    {
        ClipboardWriter writer;
        writer.put(QClipboard::Clipboard, text, 0, text.size());
    }
    QTest::qWait(50);
    QCOMPARE(pasted(), QByteArray());
    QVERIFY(text.isDetached());
}

void TestReadingClipboard::copyHoldsOnlyTheSelection_data()
{
    QTest::addColumn<qint64>("selected");
    QTest::newRow("two rows") << qint64(24);
    QTest::newRow("a large part") << qint64(2 * 1024 * 1024);
}

// Once the reading text is replaced (a capture starts), nothing of it is kept for the clipboard
// but the selected bytes.
void TestReadingClipboard::copyHoldsOnlyTheSelection()
{
    QFETCH(qint64, selected);
    QByteArray reading(8 * 1024 * 1024, '7');
    Area area;
    area.text.replace(reading);
    area.view.setSelection(100, 100 + selected);
    area.view.copy();
    area.text.clear();
    // The text's bytes are held by this test alone again.
    QTRY_VERIFY_WITH_TIMEOUT(reading.isDetached(), 20000);
    QTRY_COMPARE(pasted(), QByteArray(selected, '7'));
}

// As in the toolkit's text boxes on X11, whatever the mouse or Shift with a caret key selects is
// offered as the primary selection, for a middle-click in another program; the clipboard is left
// as it was.
void TestReadingClipboard::mouseSelectionIsThePrimarySelection()
{
    QVERIFY(clipboard()->supportsSelection());
    Area area;
    area.text.replace("first line\r\nsecond \xb5g\r\nthird");
    clipboard()->setText(QStringLiteral("copied before"));
    QWidget *surface = area.view.viewport();
    const auto primary = [] {
        const QMimeData *data = clipboard()->mimeData(QClipboard::Selection);
        return data ? data->data(QStringLiteral("text/plain")) : QByteArray();
    };
    QTest::mouseDClick(surface, Qt::LeftButton, {}, area.pointAt(14));
    QCOMPARE(primary(), QByteArray("second"));
    QTest::mouseClick(surface, Qt::LeftButton, {}, area.pointAt(14));
    QCOMPARE(primary(), QByteArray("second \xc2\xb5g"));
    QTest::mousePress(surface, Qt::LeftButton, {}, area.pointAt(6));
    QTest::mouseMove(surface, area.pointAt(14));
    QTest::mouseRelease(surface, Qt::LeftButton, {}, area.pointAt(14));
    QCOMPARE(primary(), QByteArray("line\r\nse"));
    // A click that selects nothing leaves the primary selection as it was.
    QTest::mouseClick(surface, Qt::LeftButton, {}, area.pointAt(2));
    QCOMPARE(primary(), QByteArray("line\r\nse"));
    // The caret stays where the click left it; Shift+End selects from there.
    QTest::keyClick(&area.view, Qt::Key_End, Qt::ShiftModifier);
    QCOMPARE(primary(), QByteArray("rst line"));
    QTest::keyClick(&area.view, Qt::Key_Right);
    QCOMPARE(primary(), QByteArray("rst line"));
    QCOMPARE(clipboard()->text(), QStringLiteral("copied before"));
}

QTEST_MAIN(TestReadingClipboard)
#include "tst_reading_clipboard.moc"
