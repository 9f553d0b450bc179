// tarvix-capture: the desktop program's capture without a display, for scripts and for a small
// computer left beside the instrument.

#include "capture_tool/capture_options.h"
#include "capture_tool/capture_output.h"
#include "capture_tool/capture_run.h"
#include "capture_tool/status_line.h"
#include "platform/files/files.h"
#include "platform/serial/port_lock.h"
#include "platform/serial/serial_port.h"
#include "platform/standard_descriptors.h"
#include "platform/termination.h"
#include "port/port_description.h"

#include <QCoreApplication>

#include <csignal>
#include <cstdio>
#include <unistd.h>

int main(int argc, char *argv[])
{
    const bool outputClosed = tvx::openClosedStandardDescriptors();
    const QStringList arguments = tvx::programArguments(argc, argv);
    const tvx::ToolCommandLine commandLine =
        tvx::parseToolCommandLine(arguments, QStringLiteral(TVX_VERSION));
    switch (commandLine.action) {
    case tvx::ToolCommandLine::Action::Help:
    case tvx::ToolCommandLine::Action::Version:
        std::fputs(commandLine.text.toLocal8Bit().constData(), stdout);
        return tvx::AllWritten;
    case tvx::ToolCommandLine::Action::Ports: {
        // What tarvix --ports lists: the same numbers stand for the same devices.
        const QString listing = tvx::portdescription::listing(
            tvx::PortMap::ofSystem(), tvx::lockFolderNote(tvx::systemLockFolder()));
        std::fputs(listing.toLocal8Bit().constData(), stdout);
        return tvx::AllWritten;
    }
    case tvx::ToolCommandLine::Action::UsageError:
        std::fputs(commandLine.text.toLocal8Bit().constData(), stderr);
        return tvx::UsageError;
    case tvx::ToolCommandLine::Action::Capture:
        break;
    }
    // Captures written to /dev/null would be lost without a word: no port is opened for them.
    if (outputClosed && commandLine.options.output == tvx::OutputKind::StandardOutput) {
        std::fputs("tarvix-capture: cannot write to standard output: it is closed\n", stderr);
        return tvx::WriteFailed;
    }

    // A closed pipe on standard output (| head) is a failed write like any other: the run ends
    // with its status and a message, the port closed and its lock file removed, instead of the
    // signal killing the program with both held. Windows has no such signal.
#ifdef SIGPIPE
    std::signal(SIGPIPE, SIG_IGN);
#endif
    QCoreApplication app(argc, argv);
    const tvx::CaptureOptions &options = commandLine.options;
    const tvx::StatusLine::Mode mode = options.quiet              ? tvx::StatusLine::Mode::Quiet
                                       : ::isatty(fileno(stderr)) ? tvx::StatusLine::Mode::Live
                                                                  : tvx::StatusLine::Mode::Final;
    // A standard error that takes nothing (a stalled pipe) holds the run no longer than a
    // request to end allows; the lines are only words about the captures.
    tvx::StatusLine status(
        mode, [](const QByteArray &bytes) { tvx::writeUntilTerminated(fileno(stderr), bytes); });
    tvx::CaptureOutput output(options.output, options.outputPath);
    tvx::SystemSerialControl comm;
    tvx::CaptureRun run(comm, options, output, status);
    // Ctrl+C, a service manager's stop or a closed terminal end the run the way it allows:
    // between captures at once, in the middle of one after writing what arrived.
    tvx::TerminationSignals termination;
    QObject::connect(&termination, &tvx::TerminationSignals::received, &run,
                     &tvx::CaptureRun::interrupt);
    return run.exec();
}
