#include "file_mapping.h"

#include "fail.h"
#include "mapping_watch.h"

#ifndef Q_OS_WIN

#include <QArrayData>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tvx {

namespace {

// A mapped file. The handler of SIGBUS reads the atomics; the rest is the window's thread's.
struct Mapping {
    std::atomic<char *> begin{nullptr}; // the file's first byte; null when the slot is free
    std::atomic<qint64> length{0};      // the file's pages
    std::atomic<int> descriptor{-1};
    std::atomic<bool> cut{false};
    char *region = nullptr; // the header's page, the file, and the NUL after it
    size_t regionLength = 0;
    QArrayData *header = nullptr;
    QString path;
};

// Two files at a time are usual (the one shown, the one being loaded); more are kept while a
// copy to the clipboard still reads an old one.
constexpr int MaxMappings = 16;
Mapping g_mappings[MaxMappings];
size_t g_page = 4096;
struct sigaction g_previous;

size_t roundUp(size_t n, size_t page)
{
    return (n + page - 1) / page * page;
}

// A fault in a mapped file's pages beyond its end, now that another program made it shorter:
// zero pages take the place of what is gone, and the access goes on. Any other SIGBUS is left
// to what handled it before.
void onBusError(int signal, siginfo_t *info, void *context)
{
    const int savedErrno = errno;
    char *const at = static_cast<char *>(info->si_addr);
    for (Mapping &mapping : g_mappings) {
        char *const begin = mapping.begin.load();
        const qint64 length = mapping.length.load();
        if (info->si_code <= 0 || begin == nullptr || at < begin || at >= begin + length)
            continue;
        char *from = begin + size_t(at - begin) / g_page * g_page;
        struct stat status;
        if (::fstat(mapping.descriptor.load(), &status) == 0 && status.st_size >= 0 &&
            begin + roundUp(size_t(status.st_size), g_page) < from)
            from = begin + roundUp(size_t(status.st_size), g_page);
        if (::mmap(from, size_t(begin + length - from), PROT_READ,
                   MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0) == MAP_FAILED)
            break;
        mapping.cut.store(true);
        const int notify = MappingWatch::notifyDescriptor();
        if (notify >= 0) {
            const char byte = 0;
            [[maybe_unused]] const ssize_t written = ::write(notify, &byte, 1);
        }
        errno = savedErrno;
        return;
    }
    if ((g_previous.sa_flags & SA_SIGINFO) && g_previous.sa_sigaction) {
        g_previous.sa_sigaction(signal, info, context);
    } else if (g_previous.sa_handler != SIG_DFL && g_previous.sa_handler != SIG_IGN) {
        g_previous.sa_handler(signal);
    } else {
        // As without this handler: the access is made again and ends the program, and a
        // SIGBUS sent by another program ends it too.
        ::signal(SIGBUS, SIG_DFL);
        if (info->si_code <= 0)
            ::raise(SIGBUS);
    }
    errno = savedErrno;
}

bool installHandler()
{
    static const bool installed = [] {
        g_page = size_t(::sysconf(_SC_PAGESIZE));
        struct sigaction action = {};
        action.sa_sigaction = onBusError;
        action.sa_flags = SA_SIGINFO | SA_NODEFER;
        sigemptyset(&action.sa_mask);
        return ::sigaction(SIGBUS, &action, &g_previous) == 0;
    }();
    return installed;
}

Mapping *mappingOf(const QByteArray &bytes)
{
    const char *const data = bytes.constData();
    for (Mapping &mapping : g_mappings) {
        const char *const begin = mapping.begin.load();
        if (begin && data >= begin && data < begin + std::max<qint64>(mapping.length.load(), 1))
            return &mapping;
    }
    return nullptr;
}

} // namespace

std::optional<QByteArray> FileMapping::map(int descriptor, qint64 size, const QString &path,
                                           QString *reason)
{
    releaseUnused();
    Mapping *mapping = nullptr;
    for (Mapping &m : g_mappings) {
        if (!m.region) {
            mapping = &m;
            break;
        }
    }
    if (!mapping || size <= 0 || !installHandler()) {
        fail(reason, QStringLiteral("the file cannot be mapped"));
        return std::nullopt;
    }
    // The array's header goes at the end of the page before the file, where the toolkit looks
    // for it; a page of zeros follows a file that fills its last page, as an array ends with a
    // NUL that it does not count.
    const size_t fileLength = roundUp(size_t(size), g_page);
    const size_t regionLength = g_page + roundUp(size_t(size) + 1, g_page);
    void *const region = ::mmap(nullptr, regionLength, PROT_READ | PROT_WRITE,
                                MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (region == MAP_FAILED) {
        fail(reason, QString::fromLocal8Bit(std::strerror(errno)));
        return std::nullopt;
    }
    char *const begin = static_cast<char *>(region) + g_page;
    const int kept = ::fcntl(descriptor, F_DUPFD_CLOEXEC, 0);
    if (kept < 0 ||
        ::mmap(begin, fileLength, PROT_READ, MAP_PRIVATE | MAP_FIXED, kept, 0) == MAP_FAILED) {
        fail(reason, QString::fromLocal8Bit(std::strerror(errno)));
        if (kept >= 0)
            ::close(kept);
        ::munmap(region, regionLength);
        return std::nullopt;
    }
    auto *const header = reinterpret_cast<QTypedArrayData<char> *>(begin - sizeof(QArrayData));
    Q_ASSERT(QTypedArrayData<char>::dataStart(
                 header, alignof(QTypedArrayData<char>::AlignmentDummy)) == begin);
    // One reference is the mapping's own, so that the toolkit never frees the header (it is no
    // block of the heap) and every change copies the bytes first; the mapping goes once it holds
    // the only one.
    header->ref_.storeRelaxed(2);
    header->flags = {};
    header->alloc = size;
    mapping->region = static_cast<char *>(region);
    mapping->regionLength = regionLength;
    mapping->header = header;
    mapping->path = path;
    mapping->cut.store(false);
    mapping->descriptor.store(kept);
    mapping->length.store(qint64(fileLength));
    mapping->begin.store(begin);
    return QByteArray(QByteArray::DataPointer(header, begin, size));
}

bool FileMapping::isMapped(const QByteArray &bytes)
{
    return mappingOf(bytes) != nullptr;
}

bool FileMapping::cutShort(const QByteArray &bytes, QString *path)
{
    const Mapping *const mapping = mappingOf(bytes);
    if (!mapping || !mapping->cut.load())
        return false;
    if (path)
        *path = mapping->path;
    return true;
}

void FileMapping::letGo(const QByteArray &bytes, qint64 from, qint64 to)
{
    const Mapping *const mapping = mappingOf(bytes);
    if (!mapping || to <= from)
        return;
    char *const begin = mapping->begin.load();
    const size_t end = std::min(roundUp(size_t(to), g_page), size_t(mapping->length.load()));
    if (size_t(from) % g_page == 0 && size_t(from) < end)
        ::madvise(begin + from, end - size_t(from), MADV_DONTNEED);
}

void FileMapping::releaseUnused()
{
    for (Mapping &mapping : g_mappings) {
        if (!mapping.region || mapping.header->ref_.loadAcquire() != 1)
            continue;
        mapping.begin.store(nullptr);
        ::munmap(mapping.region, mapping.regionLength);
        ::close(mapping.descriptor.exchange(-1));
        mapping.region = nullptr;
        mapping.header = nullptr;
        mapping.path.clear();
    }
}

int FileMapping::count()
{
    int n = 0;
    for (const Mapping &mapping : g_mappings)
        n += mapping.region ? 1 : 0;
    return n;
}

} // namespace tvx

#else

namespace tvx {

// Windows reads every file into memory: its mappings cannot be cut short under the program, but
// its files cannot be renamed or deleted while mapped either.
std::optional<QByteArray> FileMapping::map(int, qint64, const QString &, QString *reason)
{
    if (reason)
        *reason = QStringLiteral("files are not mapped on this system");
    return std::nullopt;
}
bool FileMapping::isMapped(const QByteArray &)
{
    return false;
}
bool FileMapping::cutShort(const QByteArray &, QString *)
{
    return false;
}
void FileMapping::letGo(const QByteArray &, qint64, qint64) {}
void FileMapping::releaseUnused() {}
int FileMapping::count()
{
    return 0;
}

} // namespace tvx

#endif
