#pragma once

#include <QString>
#include <QStringList>

#include <optional>

namespace tvx {

// Where each capture goes.
enum class OutputKind {
    Folder,         // a new file per capture, named by its start time
    File,           // one reading file, replaced as a whole
    StandardOutput, // the raw bytes
};

// What tarvix-capture is asked to do.
struct CaptureOptions {
    static constexpr qint16 MaxPort = 32767;          // port numbers are signed 16-bit, from 1
    static constexpr double MaxWaitSeconds = 2147483; // the longest timer: 2^31 - 1 ms

    std::optional<qint16> port; // COM n; none: the number in tvx.cfg, else 1
    QString device;             // a device path instead of a port number
    OutputKind output = OutputKind::Folder;
    QString outputPath = QStringLiteral("."); // the folder or the file
    int count = 1;                            // captures to make; 0: until interrupted
    int waitMs = 0;                           // 0: wait for a transmission however long
    QString waitText;                         // the --wait value as given, for messages
    bool quiet = false;
};

// The command line, understood: capture, or print a text and end with a status.
struct ToolCommandLine {
    enum class Action { Capture, Help, Version, Ports, UsageError };
    Action action = Action::Capture;
    CaptureOptions options;
    // The help or version text (standard output), or the usage error (standard error).
    QString text;
};

// --help (-h, -?) and --version (-v) are answered even beside other options, as tarvix
// answers them; --ports (the caller lists the ports) beside any other option of the tool;
// anything else that is not an option of the tool, or a value out of range, is a
// usage error whose text names the problem and points at --help.
ToolCommandLine parseToolCommandLine(const QStringList &arguments, const QString &version);

// The device that --device names, as a path to open: an absolute path as it is; a path with a
// slash, or a name that exists in the current folder, relative to the current folder; any
// other bare name (ttyUSB0) the device of that name under /dev. On Windows the port's name as
// it is given (COM7, \\.\COM12).
QString devicePath(const QString &given);

} // namespace tvx
