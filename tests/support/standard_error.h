#pragma once

#include <QStringList>
#include <QTemporaryFile>

namespace tvx::test {

// Takes what this process writes on its standard error, from construction to destruction, so
// that a test can compare the lines a user would read in the terminal.
class StandardError {
public:
    StandardError();
    ~StandardError();
    StandardError(const StandardError &) = delete;
    StandardError &operator=(const StandardError &) = delete;

    // The lines written so far, without their line ends, decoded as the program encodes them.
    QStringList lines();

private:
    QTemporaryFile m_file;
    int m_saved = -1;
};

} // namespace tvx::test
