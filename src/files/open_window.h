#pragma once

#include <QPointer>
#include <QWidget>

#include <memory>

namespace Ui {
class frmopen;
}

namespace tvx {

class ReadingFileLoad;
class ReadingText;

// The open window: finds a reading file by drive, folder and pattern, or takes a typed path,
// and loads the whole file as the reading text (read in slices: the windows go on answering).
// A failed load says why, keeps the window open and leaves the reading text as it was.
class OpenWindow : public QWidget {
    Q_OBJECT
public:
    explicit OpenWindow(ReadingText &text, QWidget *parent = nullptr);
    ~OpenWindow() override;

    // Loads the file named in the path box and closes the window once it is loaded.
    void direct();

    void Drive1_Change();
    void Dir1_Change();
    void File1_PathChange();
    void cmbext_Change();
    void cmbext_Click();
    void File1_Click();
    void File1_DblClick();
    void cmdok_Click();

Q_SIGNALS:
    // The file is loaded, or a transmission took its place: the main window comes (back) to the
    // front, where the reading text shows.
    void mainWindowWanted();

private:
    void Form_Load();

    std::unique_ptr<Ui::frmopen> m_ui;
    ReadingText &m_text;
    QPointer<ReadingFileLoad> m_load;
};

} // namespace tvx
