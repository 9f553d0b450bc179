#pragma once

#include "app/capture.h"
#include "app/reading_text.h"
#include "app/window_slot.h"
#include "files/open_window.h"
#include "files/save_window.h"
#include "info/about_window.h"
#include "info/help_window.h"
#include "port/port_selection_window.h"

#include <QMainWindow>
#include <QPointer>

#include <memory>

namespace Ui {
class main;
}

namespace tvx {

class CaptureJournal;
class PortLink;
class PortRecovery;
class ReadingFileLoad;
class Printer;
class SerialControl;
class SpokenNotice;

// The program's hub: the reading area, the menus, the serial control and the windows they open.
class MainWindow : public QMainWindow, private CaptureView {
    Q_OBJECT
public:
    explicit MainWindow(std::unique_ptr<SerialControl> comm, QWidget *parent = nullptr);
    ~MainWindow() override;

    // Loads the port and shows the window, or leaves it hidden behind the port selection
    // window when the port cannot be had.
    void start();

    SerialControl &comm() const;
    PortLink &portLink() const;
    ReadingText &readingText() { return m_text; }
    bool capturing() const { return m_capture->running(); }
    CaptureJournal &journal() const { return *m_journal; }
    PortSelectionWindow *portSelectionWindow() const { return m_portWindow.window(); }
    OpenWindow *openWindow() const { return m_openWindow.window(); }
    SaveWindow *saveWindow() const { return m_saveWindow.window(); }

    // Makes the window visible if it is hidden and brings it to the front.
    void showMain();

    // Loads a reading file as the open window does (a file named on the command line or
    // dropped on the window); a failure is told in the same message.
    void openReadingFile(const QString &path);

    // Event handlers, named after their control and event.
    void Form_Load();
    void Command1_Click();
    void mnuexit_Click();
    void mnuport_Click();
    void mnuopen_Click();
    void mnusave_Click();
    void mnuhelp_Click();
    void mnuabout_Click();
    void mnuprint_Click();
    void mnusetup_Click();

    // The printer the reports go to (the printing service's by default); for tests.
    void setPrinter(std::unique_ptr<Printer> printer);

protected:
    void closeEvent(QCloseEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dropEvent(QDropEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void Form_MouseDown(Qt::MouseButton button, const QPoint &globalPos);
    // Another program cut a mapped file short: if it is the one shown, the text goes, and the
    // user is told why.
    void readingFileCut();

    // What a capture shows in this window.
    void setReadingAreaVisible(bool visible) override;
    void setNoticeVisible(bool visible) override;
    bool noticeVisible() const override;
    void beep() override;

    std::unique_ptr<Ui::main> m_ui;
    std::unique_ptr<SerialControl> m_comm;
    std::unique_ptr<PortLink> m_portLink;
    std::unique_ptr<PortRecovery> m_portRecovery;
    ReadingText m_text;
    std::unique_ptr<Capture> m_capture;
    std::unique_ptr<CaptureJournal> m_journal;
    SpokenNotice *m_spokenNotice = nullptr;
    bool m_startupFailed = false;
    // Between the reading area's bottom and the surface's, whatever the window's height.
    int m_readingMargin = 0;
    WindowSlot<PortSelectionWindow> m_portWindow;
    WindowSlot<OpenWindow> m_openWindow;
    WindowSlot<SaveWindow> m_saveWindow;
    WindowSlot<HelpWindow> m_helpWindow;
    WindowSlot<AboutWindow> m_aboutWindow;
    QPointer<ReadingFileLoad> m_load;
    // Lives as long as the window, so the choice made with Print Setup holds.
    std::unique_ptr<Printer> m_printer;
};

} // namespace tvx
