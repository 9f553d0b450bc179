#pragma once

#include "file_pattern.h"

#include "framed_list.h"

namespace tvx {

// The file list: the plain files of one folder whose names match the pattern, by name. Hidden
// files, folders and special files are left out.
class FileList : public FramedList {
    Q_OBJECT
    Q_PROPERTY(QString pattern READ pattern WRITE setPattern)
public:
    explicit FileList(QWidget *parent = nullptr);

    QString path() const { return m_path; }
    // Lists folder and raises pathChanged() when it differs from the folder listed so far.
    void setPath(const QString &folder);

    QString pattern() const { return m_patternText; }
    void setPattern(const QString &pattern);

    // The selected file's name, empty while none is selected.
    QString fileName() const;

Q_SIGNALS:
    void pathChanged();
    // A file became the selected one, or the selected one was clicked again.
    void fileClicked();
    void fileDoubleClicked();

protected:
    void keyPressEvent(QKeyEvent *event) override;

private:
    void fill();

    QString m_path;
    QString m_patternText;
    FilePattern m_pattern;
};

} // namespace tvx
