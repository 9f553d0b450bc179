#include "mapping_watch.h"

#include <QSocketNotifier>

#ifndef Q_OS_WIN
#include <atomic>
#include <fcntl.h>
#include <unistd.h>
#endif

namespace tvx {

namespace {
#ifndef Q_OS_WIN
std::atomic<int> g_notify{-1};
#endif
} // namespace

MappingWatch &MappingWatch::instance()
{
    static MappingWatch *const watch = new MappingWatch;
    return *watch;
}

int MappingWatch::notifyDescriptor()
{
#ifndef Q_OS_WIN
    return g_notify.load();
#else
    return -1;
#endif
}

MappingWatch::MappingWatch()
{
#ifndef Q_OS_WIN
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0)
        return; // no word of a cut then, but no crash either
    m_read = ends[0];
    g_notify.store(ends[1]);
    m_notifier = new QSocketNotifier(m_read, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &MappingWatch::drain);
#endif
}

void MappingWatch::drain()
{
#ifndef Q_OS_WIN
    char bytes[64];
    while (::read(m_read, bytes, sizeof bytes) > 0) {
    }
#endif
    Q_EMIT cut();
}

} // namespace tvx
