// Measures the reading area with large reading files: how soon a file is shown after Ok, how
// long the event loop is held at a stretch while loading, scrolling, selecting all and copying,
// the memory it takes, what adding a received block costs, and how long a jump takes. Then what
// another program's paste of everything copied costs (xclip, a real X client, reading the
// clipboard while the event loop serves it), with the pasted bytes compared with what the file
// holds, and the memory left once two rows were copied and the text replaced by a short one, as
// a capture replaces it. The same figures are taken for the toolkit's plain text box, as the
// reading area was before, in the same run. Each case runs in a process of its own, so that
// memory figures do not mix.
//
//     view_bench                  all cases, a table on standard output
//     view_bench CASE FILE        one case ("view" or "textbox"), key=value lines
//
// Exit status 1 when a paste gave other bytes than expected.

#include "app/reading_text.h"
#include "files/reading_file.h"
#include "files/reading_file_load.h"
#include "platform/files/files.h"
#include "reading/reading_view.h"

#include <QApplication>
#include <QClipboard>
#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QFile>
#include <QKeyEvent>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QProcess>
#include <QRandomGenerator>
#include <QScrollBar>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTextCursor>
#include <QTextDocumentFragment>
#include <QTimer>

#include <cstdio>
#include <functional>
#include <map>

namespace {

// The reading area's size in the main window, in pixels.
const QSize AreaSize(113, 377);

double msSince(const QElapsedTimer &clock)
{
    return double(clock.nsecsElapsed()) / 1e6;
}

// A figure of /proc/self/status in MB ("VmRSS", "VmHWM").
double memoryMB(const char *field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    const QByteArrayList lines = status.readAll().split('\n');
    for (const QByteArray &line : lines) {
        if (line.startsWith(QByteArray(field) + ':'))
            return line.mid(qstrlen(field) + 1).trimmed().split(' ').value(0).toDouble() / 1024;
    }
    return -1;
}

// The longest time between two turns of the event loop while it runs.
class LoopWatch : public QObject {
public:
    LoopWatch()
    {
        m_timer.setTimerType(Qt::PreciseTimer);
        m_timer.setInterval(1);
        connect(&m_timer, &QTimer::timeout, this, [this] {
            const qint64 now = m_clock.nsecsElapsed();
            m_worst = std::max(m_worst, now - m_last);
            m_last = now;
        });
    }
    void start()
    {
        m_clock.start();
        m_last = 0;
        m_worst = 0;
        m_timer.start();
    }
    double stop()
    {
        m_timer.stop();
        return double(std::max(m_worst, m_clock.nsecsElapsed() - m_last)) / 1e6;
    }

private:
    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_last = 0;
    qint64 m_worst = 0;
};

// The reading area before: received bytes decoded one to one, each line break shown as one,
// and a break of its own after 512 characters in a row.
QString oldDisplayed(const QByteArray &bytes, bool *afterCr, int *runLength)
{
    QString out;
    out.reserve(bytes.size() + bytes.size() / 512 + 1);
    for (const char byte : bytes) {
        const bool wasAfterCr = std::exchange(*afterCr, byte == '\r');
        if (byte == '\n' && wasAfterCr)
            continue;
        if (byte == '\r' || byte == '\n') {
            out.append(QLatin1Char('\n'));
            *runLength = 0;
            continue;
        }
        if (*runLength == 512) {
            out.append(QLatin1Char('\n'));
            *runLength = 0;
        }
        out.append(QLatin1Char(byte));
        ++*runLength;
    }
    return out;
}

// One kind of reading area under measure.
struct Subject {
    QWidget *widget = nullptr;
    QWidget *viewport = nullptr;
    QScrollBar *bar = nullptr;
    std::function<void(const QString &path, std::function<void()> shown)> load;
    std::function<void(const QByteArray &block)> append;
    std::function<void()> copy;
    // What a paste of everything copied must give: the SHA-256 of its bytes, and their count.
    std::function<std::pair<QByteArray, qint64>(const QString &path)> expectedPaste;
    // Selects the first two rows; the UTF-8 a paste of them must give.
    std::function<QByteArray()> selectTwoRows;
    // A new short text in place of the whole, as a capture begins.
    std::function<void(const QByteArray &bytes)> replace;
};

// The paste another program makes: xclip, written to out (a file, or the null device).
struct Paste {
    bool ok = false;
    QString problem;
    double ms = 0;
    double stretchMs = 0;
};

Paste pasteInto(const QString &out)
{
    Paste paste;
    QProcess xclip;
    xclip.setStandardOutputFile(out);
    xclip.setStandardErrorFile(QProcess::nullDevice());
    bool ended = false;
    QObject::connect(&xclip, &QProcess::finished, [&ended] { ended = true; });
    QObject::connect(&xclip, &QProcess::errorOccurred, [&ended](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            ended = true;
    });
    // The clipboard is served by this process's event loop, so it must go on turning.
    QTimer limit;
    limit.setSingleShot(true);
    bool late = false;
    QObject::connect(&limit, &QTimer::timeout, [&] {
        late = true;
        xclip.kill();
    });
    LoopWatch watch;
    QElapsedTimer clock;
    watch.start();
    clock.start();
    limit.start(600 * 1000);
    xclip.start(QStringLiteral("xclip"),
                {QStringLiteral("-selection"), QStringLiteral("clipboard"), QStringLiteral("-o")});
    while (!ended)
        QApplication::processEvents(QEventLoop::WaitForMoreEvents);
    paste.ms = msSince(clock);
    paste.stretchMs = watch.stop();
    limit.stop();
    if (late)
        paste.problem = QStringLiteral("xclip took longer than 10 minutes");
    else if (xclip.error() == QProcess::FailedToStart)
        paste.problem = QStringLiteral("xclip could not be started (make test-deps)");
    else if (xclip.exitStatus() != QProcess::NormalExit || xclip.exitCode() != 0)
        paste.problem = QStringLiteral("xclip ended with status %1").arg(xclip.exitCode());
    paste.ok = paste.problem.isEmpty();
    return paste;
}

// The SHA-256 of a file's bytes, and their count.
std::pair<QByteArray, qint64> fileHash(const QString &path)
{
    QFile file(path);
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (!file.open(QIODevice::ReadOnly) || !hash.addData(&file))
        return {QByteArray(), -1};
    return {hash.result(), file.size()};
}

// The paste from the file it went to compared with what was expected; empty when the same.
QString pasteDifference(const QString &pasted, const std::pair<QByteArray, qint64> &expected)
{
    const auto [hash, size] = fileHash(pasted);
    if (size != expected.second)
        return QStringLiteral("%1 bytes pasted, %2 expected").arg(size).arg(expected.second);
    if (hash != expected.first)
        return QStringLiteral("the %1 bytes pasted differ from those expected").arg(size);
    return QString();
}

// Waits until the clipboard offers text (a large copy is made ready on a thread of its own);
// the time it took, or -1 when it did not within 10 minutes.
double waitForClipboardText()
{
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 600 * 1000) {
        const QMimeData *data = QApplication::clipboard()->mimeData();
        if (data && data->hasFormat(QStringLiteral("text/plain")))
            return msSince(clock);
        QApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
    }
    std::fprintf(stderr, "FAILURE: the clipboard offered no text 10 minutes after the copy\n");
    return -1;
}

// The time of one synchronous step, with the repaint it causes.
double timed(Subject &subject, const std::function<void()> &step)
{
    QElapsedTimer clock;
    clock.start();
    step();
    subject.viewport->repaint();
    return msSince(clock);
}

void key(Subject &subject, int k, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
{
    QKeyEvent press(QEvent::KeyPress, k, modifiers);
    QApplication::sendEvent(subject.widget, &press);
    QKeyEvent release(QEvent::KeyRelease, k, modifiers);
    QApplication::sendEvent(subject.widget, &release);
}

void measure(Subject &subject, const QString &path, const QString &scratch)
{
    subject.widget->resize(AreaSize);
    subject.widget->show();
    QApplication::processEvents();
    const double baseline = memoryMB("VmRSS");
    const qint64 size = QFileInfo(path).size();
    std::map<QString, double> figures;

    // Loading: from Ok to the text on screen.
    LoopWatch watch;
    QElapsedTimer clock;
    bool done = false;
    watch.start();
    clock.start();
    subject.load(path, [&] {
        subject.viewport->repaint();
        figures[QStringLiteral("shown_ms")] = msSince(clock);
        done = true;
    });
    while (!done)
        QApplication::processEvents(QEventLoop::WaitForMoreEvents);
    figures[QStringLiteral("load_stretch_ms")] = watch.stop();
    QApplication::processEvents();
    figures[QStringLiteral("memory_mb")] = memoryMB("VmRSS") - baseline;
    figures[QStringLiteral("peak_mb")] = memoryMB("VmHWM") - baseline;
    figures[QStringLiteral("text_mb")] = double(size) / 1024 / 1024;

    // Scrolling: pages down, rows down, the wheel.
    double scroll = 0;
    for (int i = 0; i < 100; ++i) {
        scroll = std::max(scroll, timed(subject, [&] { key(subject, Qt::Key_PageDown); }));
        scroll = std::max(scroll, timed(subject, [&] { key(subject, Qt::Key_Down); }));
        scroll = std::max(scroll, timed(subject, [&] {
                              QWheelEvent wheel(QPointF(20, 20), QPointF(20, 20), QPoint(),
                                                QPoint(0, -120), Qt::NoButton, Qt::NoModifier,
                                                Qt::NoScrollPhase, false);
                              QApplication::sendEvent(subject.viewport, &wheel);
                          }));
    }
    figures[QStringLiteral("scroll_ms")] = scroll;

    // Jumps: to the end and back, and to scroll positions anywhere.
    double jump = timed(subject, [&] { key(subject, Qt::Key_End, Qt::ControlModifier); });
    jump = std::max(jump, timed(subject, [&] { key(subject, Qt::Key_Home, Qt::ControlModifier); }));
    QRandomGenerator random(17);
    for (int i = 0; i < 100; ++i) {
        const int value = random.bounded(subject.bar->maximum() + 1);
        jump = std::max(jump, timed(subject, [&] { subject.bar->setValue(value); }));
    }
    figures[QStringLiteral("jump_ms")] = jump;

    // The caret: a character, a word, the row's end, a row and a page selected, from wherever
    // the jumps left it (the text box's caret moves the same way).
    double caret = 0;
    for (int i = 0; i < 50; ++i) {
        for (const auto &[k, modifiers] :
             {std::pair(Qt::Key_Right, Qt::NoModifier),
              std::pair(Qt::Key_Right, Qt::ControlModifier), std::pair(Qt::Key_End, Qt::NoModifier),
              std::pair(Qt::Key_Down, Qt::ShiftModifier),
              std::pair(Qt::Key_PageDown, Qt::ShiftModifier)})
            caret = std::max(caret, timed(subject, [&] { key(subject, k, modifiers); }));
    }
    figures[QStringLiteral("caret_ms")] = caret;

    figures[QStringLiteral("select_all_ms")] =
        timed(subject, [&] { key(subject, Qt::Key_A, Qt::ControlModifier); });
    figures[QStringLiteral("copy_ms")] = timed(subject, subject.copy);

    // Another program pastes all that was copied, once it is ready: timed into the null device,
    // then again into a file to compare its bytes with what the file holds.
    figures[QStringLiteral("copy_ready_ms")] = waitForClipboardText();
    const bool xclip = !QStandardPaths::findExecutable(QStringLiteral("xclip")).isEmpty();
    const QString pasted = scratch + QStringLiteral("/pasted");
    const Paste timedPaste = xclip ? pasteInto(QProcess::nullDevice()) : Paste();
    QString problem = timedPaste.problem;
    if (timedPaste.ok) {
        figures[QStringLiteral("paste_ms")] = timedPaste.ms;
        figures[QStringLiteral("paste_stretch_ms")] = timedPaste.stretchMs;
        const Paste checked = pasteInto(pasted);
        problem =
            checked.ok ? pasteDifference(pasted, subject.expectedPaste(path)) : checked.problem;
        QFile::remove(pasted);
    }
    if (xclip)
        figures[QStringLiteral("paste_ok")] = problem.isEmpty() ? 1 : 0;
    if (!problem.isEmpty())
        std::fprintf(stderr, "FAILURE: the paste of all: %s\n", qPrintable(problem));
    QApplication::clipboard()->clear();

    // Adding received blocks of 40 bytes, to the whole text and, apart, to a short one.
    const QByteArray block = " 123     21.50 mg\r\n 124     21.75 mg\r\n";
    std::vector<double> appends;
    for (int i = 0; i < 200; ++i)
        appends.push_back(timed(subject, [&] { subject.append(block); }) * 1000);
    figures[QStringLiteral("append_first_us")] = appends.front();
    std::sort(appends.begin(), appends.end());
    figures[QStringLiteral("append_us")] = appends[appends.size() / 2];
    figures[QStringLiteral("append_max_us")] = appends.back();

    // Two rows copied, then a new short text, as when a capture begins: the copy keeps only
    // its own bytes, so the memory falls back to about the empty area's, and the paste still
    // gives the two rows.
    const QByteArray rows = subject.selectTwoRows();
    key(subject, Qt::Key_C, Qt::ControlModifier);
    waitForClipboardText();
    subject.replace(" 001     21.50 mg\r\n");
    QApplication::processEvents();
    figures[QStringLiteral("kept_mb")] = memoryMB("VmRSS") - baseline;
    const Paste rowsPaste = xclip ? pasteInto(pasted) : Paste();
    problem =
        rowsPaste.ok
            ? pasteDifference(
                  pasted, {QCryptographicHash::hash(rows, QCryptographicHash::Sha256), rows.size()})
            : rowsPaste.problem;
    QFile::remove(pasted);
    if (xclip)
        figures[QStringLiteral("rows_paste_ok")] = problem.isEmpty() ? 1 : 0;
    if (!problem.isEmpty())
        std::fprintf(stderr, "FAILURE: the paste of two rows after a new text: %s\n",
                     qPrintable(problem));

    for (const auto &[name, value] : figures)
        std::printf("%s=%.3f\n", qPrintable(name), value);
}

int runCase(const QString &kind, const QString &path)
{
    Subject subject;
    tvx::ReadingText text;
    if (kind == QLatin1String("view")) {
        auto *view = new tvx::ReadingView;
        view->setReadingText(&text);
        auto *load = new tvx::ReadingFileLoad(text, view);
        subject.widget = view;
        subject.viewport = view->viewport();
        subject.bar = view->verticalScrollBar();
        subject.load = [load](const QString &file, std::function<void()> shown) {
            QObject::connect(load, &tvx::ReadingFileLoad::finished, load,
                             [shown](bool loaded, const QString &reason) {
                                 if (!loaded)
                                     std::fprintf(stderr, "%s\n", qPrintable(reason));
                                 shown();
                             });
            load->start(file);
        };
        subject.append = [&text](const QByteArray &block) { text.append(block); };
        subject.copy = [view] { view->copy(); };
        subject.expectedPaste = [](const QString &file) {
            // Each byte one Latin-1 character, as UTF-8: the toolkit's own conversion.
            QFile in(file);
            QCryptographicHash hash(QCryptographicHash::Sha256);
            qint64 size = 0;
            if (!in.open(QIODevice::ReadOnly))
                return std::pair<QByteArray, qint64>(QByteArray(), -1);
            while (!in.atEnd()) {
                const QByteArray utf8 = QString::fromLatin1(in.read(1 << 20)).toUtf8();
                hash.addData(utf8);
                size += utf8.size();
            }
            return std::pair(hash.result(), size);
        };
        subject.selectTwoRows = [view] {
            view->scrollToTop();
            const auto rows = view->visibleRows();
            view->setSelection(rows.at(0).first, rows.at(2).first);
            return QString::fromLatin1(view->selectedBytes()).toUtf8();
        };
        subject.replace = [&text](const QByteArray &bytes) {
            text.clear();
            text.append(bytes);
        };
    } else {
        auto *box = new QPlainTextEdit;
        box->setReadOnly(true);
        box->setUndoRedoEnabled(false);
        box->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
        box->setLineWrapMode(QPlainTextEdit::WidgetWidth);
        subject.widget = box;
        subject.viewport = box->viewport();
        subject.bar = box->verticalScrollBar();
        auto afterCr = std::make_shared<bool>(false);
        auto run = std::make_shared<int>(0);
        subject.load = [box, afterCr, run](const QString &file, std::function<void()> shown) {
            // As the open window did: the whole file in one go, then the whole display.
            QByteArray bytes;
            QString reason;
            if (!tvx::readWholeFile(file, tvx::readingfile::MaxLoadSize, &bytes, &reason))
                std::fprintf(stderr, "%s\n", qPrintable(reason));
            box->setPlainText(oldDisplayed(bytes, afterCr.get(), run.get()));
            shown();
        };
        subject.append = [box, afterCr, run](const QByteArray &block) {
            QTextCursor cursor(box->document());
            cursor.movePosition(QTextCursor::End);
            cursor.insertText(oldDisplayed(block, afterCr.get(), run.get()));
        };
        subject.copy = [box] { box->copy(); };
        subject.expectedPaste = [](const QString &file) {
            // The text box gives its lines, each ended by LF, as UTF-8.
            QByteArray bytes;
            QString reason;
            tvx::readWholeFile(file, tvx::readingfile::MaxLoadSize, &bytes, &reason);
            bool afterCr = false;
            int run = 0;
            const QByteArray utf8 = oldDisplayed(bytes, &afterCr, &run).toUtf8();
            return std::pair(QCryptographicHash::hash(utf8, QCryptographicHash::Sha256),
                             qint64(utf8.size()));
        };
        subject.selectTwoRows = [box] {
            box->moveCursor(QTextCursor::Start);
            box->moveCursor(QTextCursor::Down, QTextCursor::KeepAnchor);
            box->moveCursor(QTextCursor::Down, QTextCursor::KeepAnchor);
            return box->textCursor().selection().toPlainText().toUtf8();
        };
        subject.replace = [box, afterCr, run](const QByteArray &bytes) {
            // As a capture began: the box emptied, then the first block added.
            box->clear();
            *afterCr = false;
            *run = 0;
            QTextCursor cursor(box->document());
            cursor.insertText(oldDisplayed(bytes, afterCr.get(), run.get()));
        };
    }
    QTemporaryDir scratch;
    measure(subject, path, scratch.path());
    delete subject.widget;
    return 0;
}

// Readings as the instrument sends them, repeated up to size bytes.
bool writeReadings(const QString &path, qint64 size)
{
    QByteArray chunk;
    for (int i = 0; chunk.size() < (1 << 20); ++i) {
        chunk += ' ' + QByteArray::number(i % 1000).rightJustified(3, '0') + "     " +
                 QByteArray::number(20 + i % 7) + '.' +
                 QByteArray::number(i * 37 % 100).rightJustified(2, '0') +
                 (i % 25 ? " mg\r\n"
                         : " \xb5g  21.5\xb0"
                           "C\r\n");
    }
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    for (qint64 written = 0; written < size;) {
        const qint64 n = std::min<qint64>(chunk.size(), size - written);
        if (file.write(chunk.constData(), n) != n)
            return false;
        written += n;
    }
    return true;
}

std::map<QString, double> childFigures(const QString &kind, const QString &path)
{
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(QCoreApplication::applicationFilePath(), {kind, path});
    child.waitForFinished(-1);
    std::map<QString, double> figures;
    const QByteArrayList lines = child.readAllStandardOutput().split('\n');
    for (const QByteArray &line : lines) {
        const qsizetype at = line.indexOf('=');
        if (at > 0)
            figures[QString::fromLatin1(line.left(at))] = line.mid(at + 1).toDouble();
    }
    return figures;
}

int runAll()
{
    QTemporaryDir dir;
    struct File {
        const char *name;
        qint64 size;
        bool textbox;
    };
    const File files[] = {{"10 MB", 10 * 1000 * 1000, true},
                          {"64 MiB", 64 * 1024 * 1024, true},
                          {"1 GiB", 1024 * 1024 * 1024, false}};
    struct Row {
        const char *key;
        const char *label;
        const char *goal;
    };
    const Row rows[] = {
        {"shown_ms", "shown after Ok (ms)", "<= 300 (64 MiB)"},
        {"load_stretch_ms", "event loop held while loading (ms)", "<= 50"},
        {"scroll_ms", "longest scroll step: page, row, wheel (ms)", "<= 50"},
        {"select_all_ms", "select all (ms)", "<= 50"},
        {"copy_ms", "copy all (ms)", "<= 50"},
        {"jump_ms", "longest jump: end, top, any position (ms)", "<= 16"},
        {"caret_ms", "longest caret move, with Shift too (ms)", "<= 16"},
        {"append_us", "adding a block of 40 bytes, median (us)", "as for a short text"},
        {"append_first_us", "the first block after loading (us)", "as for a short text"},
        {"append_max_us", "the slowest of 200 blocks (us)", ""},
        {"memory_mb", "memory after loading (MB)", ""},
        {"peak_mb", "memory at its peak (MB)", ""},
        {"copy_ready_ms", "copy of all ready for a paste (ms)", ""},
        {"paste_ms", "another program's paste of all, xclip (ms)", ""},
        {"paste_stretch_ms", "event loop held while it pastes (ms)", "<= 50"},
        {"paste_ok", "pasted bytes as expected", "yes"},
        {"kept_mb", "memory, 2 rows copied, then a short text (MB)", "about 0"},
        {"rows_paste_ok", "those 2 rows pasted after that", "yes"},
    };
    QStringList failures;
    if (QStandardPaths::findExecutable(QStringLiteral("xclip")).isEmpty())
        std::printf("xclip is not installed (make test-deps): no paste figures.\n");
    std::printf("Reading area %dx%d px, readings with CR LF; each case in its own process.\n",
                AreaSize.width(), AreaSize.height());
    // A short text first: what adding a block costs when there is little to add to.
    const QString shortFile = dir.filePath(QStringLiteral("short.dat"));
    writeReadings(shortFile, 4096);
    const auto shortView = childFigures(QStringLiteral("view"), shortFile);
    const auto shortBox = childFigures(QStringLiteral("textbox"), shortFile);
    std::printf(
        "Adding a block of 40 bytes to a 4 KB text: view %.1f us, text box %.1f us\n",
        shortView.count(QStringLiteral("append_us")) ? shortView.at(QStringLiteral("append_us"))
                                                     : -1,
        shortBox.count(QStringLiteral("append_us")) ? shortBox.at(QStringLiteral("append_us"))
                                                    : -1);
    for (const File &file : files) {
        const QString path = dir.filePath(QString::fromLatin1(file.name).remove(QLatin1Char(' ')));
        if (!writeReadings(path, file.size)) {
            std::printf("%s: the file could not be written\n", file.name);
            continue;
        }
        const auto view = childFigures(QStringLiteral("view"), path);
        const auto box = file.textbox ? childFigures(QStringLiteral("textbox"), path)
                                      : std::map<QString, double>();
        std::printf("\n%s (%lld bytes)\n", file.name, file.size);
        std::printf("  %-44s %12s %12s   %s\n", "", "view", "text box", "goal");
        for (const Row &row : rows) {
            const QString key = QString::fromLatin1(row.key);
            const bool yesNo = key.endsWith(QLatin1String("_ok"));
            const auto show = [&](const std::map<QString, double> &figures) {
                if (!figures.count(key))
                    return QStringLiteral("-");
                if (yesNo)
                    return figures.at(key) == 1 ? QStringLiteral("yes") : QStringLiteral("NO");
                return QString::number(figures.at(key), 'f', 1);
            };
            for (const auto *figures : {&view, &box}) {
                if (yesNo && figures->count(key) && figures->at(key) != 1)
                    failures.append(QStringLiteral("%1, %2: %3")
                                        .arg(QLatin1String(file.name),
                                             figures == &view ? QStringLiteral("view")
                                                              : QStringLiteral("text box"),
                                             QLatin1String(row.label)));
            }
            const double textMB = double(file.size) / 1024 / 1024;
            const QString goal = key == QLatin1String("memory_mb")
                                     ? QStringLiteral("<= %1").arg(1.5 * textMB + 40, 0, 'f', 0)
                                     : QString::fromLatin1(row.goal);
            std::printf("  %-44s %12s %12s   %s\n", row.label, qPrintable(show(view)),
                        qPrintable(show(box)), qPrintable(goal));
        }
        QFile::remove(path);
    }
    if (!failures.isEmpty()) {
        std::printf("\nFAILED: the paste gave other bytes than expected:\n");
        for (const QString &failure : std::as_const(failures))
            std::printf("  %s\n", qPrintable(failure));
        return 1;
    }
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() == 3)
        return runCase(arguments[1], arguments[2]);
    return runAll();
}
