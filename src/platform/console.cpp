#include "console.h"

#include <cstdio>

#ifdef Q_OS_WIN
#include <io.h>
#include <windows.h>
#endif

namespace tvx {

#ifdef Q_OS_WIN

namespace {

// Whether the stream has a file, a pipe or a console behind it.
bool leadsSomewhere(FILE *stream)
{
    const intptr_t handle = _get_osfhandle(_fileno(stream));
    return handle != -1 && handle != -2 &&
           GetFileType(reinterpret_cast<HANDLE>(handle)) != FILE_TYPE_UNKNOWN;
}

} // namespace

void useParentConsole()
{
    const bool output = leadsSomewhere(stdout);
    const bool error = leadsSomewhere(stderr);
    if ((output && error) || !AttachConsole(ATTACH_PARENT_PROCESS))
        return;
    if (!output)
        std::freopen("CONOUT$", "w", stdout);
    if (!error)
        std::freopen("CONOUT$", "w", stderr);
}

void writeErrorLine(const QString &line)
{
    if (leadsSomewhere(stderr)) {
        std::fprintf(stderr, "%s\n", qPrintable(line));
        std::fflush(stderr);
        return;
    }
    OutputDebugStringW(reinterpret_cast<const wchar_t *>((line + QLatin1Char('\n')).utf16()));
}

#else

void useParentConsole() {}

void writeErrorLine(const QString &line)
{
    std::fprintf(stderr, "%s\n", qPrintable(line));
}

#endif

} // namespace tvx
