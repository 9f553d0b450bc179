#pragma once

#include <QWidget>

#include <memory>

namespace Ui {
class frmsave;
}

namespace tvx {

class CaptureJournal;
class ReadingText;

// The save window: writes the reading text, followed by CR LF, to the file named by the
// folder list and the name box, then closes and hands back to the main window. A failed save
// says why and keeps the window, with the user's choices, open; when the disk is full it also
// names the journal file that holds the capture shown.
class SaveWindow : public QWidget {
    Q_OBJECT
public:
    explicit SaveWindow(ReadingText &text, const CaptureJournal *journal = nullptr,
                        QWidget *parent = nullptr);
    ~SaveWindow() override;

    // The file a save writes, and what the display shows.
    QString targetPath() const;

    void Drive1_Change();
    void Dir1_Change();
    void txtfilename_Change();
    void cmdsaveok_Click();

Q_SIGNALS:
    // The file was written: the main window comes to the front.
    void mainWindowWanted();

private:
    void Form_Load();
    void showTargetPath();

    std::unique_ptr<Ui::frmsave> m_ui;
    ReadingText &m_text;
    const CaptureJournal *m_journal;
};

} // namespace tvx
