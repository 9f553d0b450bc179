#include "port_claim.h"

#ifdef Q_OS_WIN

#include <QFileInfo>

#include <windows.h>

namespace tvx {

namespace {

// One name for a port however it is written: COM3, com3, \\.\COM3.
std::wstring objectName(const QString &device)
{
    QString port = device.toUpper();
    if (port.startsWith(QLatin1String("\\\\.\\")))
        port.remove(0, 4);
    port.replace(QLatin1Char('\\'), QLatin1Char('/')); // no backslash in an object's name
    return (QStringLiteral("Local\\Tarvix.port.") + port).toStdWString();
}

// The program of a process, by its file name; empty when it cannot be told.
QString programOf(DWORD process)
{
    const HANDLE handle = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, process);
    if (!handle)
        return QString();
    wchar_t path[MAX_PATH];
    DWORD size = MAX_PATH;
    const bool known = QueryFullProcessImageNameW(handle, 0, path, &size);
    CloseHandle(handle);
    return known ? QFileInfo(QString::fromWCharArray(path, int(size))).fileName() : QString();
}

} // namespace

bool PortClaim::claim(const QString &device, QString *holder)
{
    release();
    const std::wstring name = objectName(device);
    const HANDLE object = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                             sizeof(DWORD), name.c_str());
    if (!object)
        return true; // no claim to be had: Windows's own keeps other programs off
    const bool taken = GetLastError() == ERROR_ALREADY_EXISTS;
    auto *process = static_cast<DWORD *>(MapViewOfFile(object, FILE_MAP_WRITE, 0, 0, 0));
    if (!taken) {
        if (process) {
            *process = GetCurrentProcessId();
            UnmapViewOfFile(process);
        }
        m_object = object;
        return true;
    }
    // The holder writes its number right after making the object: a moment's wait for it.
    DWORD number = 0;
    for (int tries = 0; process && tries < 50 && (number = *process) == 0; ++tries)
        Sleep(1);
    if (process)
        UnmapViewOfFile(process);
    CloseHandle(object);
    const QString program = number ? programOf(number) : QString();
    *holder = program.isEmpty() ? QStringLiteral("process %1").arg(number)
                                : QStringLiteral("%1 (process %2)").arg(program).arg(number);
    return false;
}

void PortClaim::release()
{
    if (m_object)
        CloseHandle(m_object);
    m_object = nullptr;
}

} // namespace tvx

#endif
