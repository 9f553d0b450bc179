#include "line_breaks.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace tvx::linebreaks {

qint64 plain(const char *bytes, qint64 from, qint64 to)
{
    for (qint64 at = from; at < to; ++at) {
        const char c = bytes[at];
        if (c == '\n' || c == '\r')
            return at;
    }
    return to;
}

#if defined(__SSE2__)

qint64 vector(const char *bytes, qint64 from, qint64 to)
{
    const __m128i cr = _mm_set1_epi8('\r');
    const __m128i lf = _mm_set1_epi8('\n');
    qint64 at = from;
    // Unaligned loads: a line starts anywhere, and reading readings is never held up by the
    // first bytes of a line being looked at twice.
    for (; to - at >= 16; at += 16) {
        const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i *>(bytes + at));
        const int found =
            _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(block, cr), _mm_cmpeq_epi8(block, lf)));
        if (found != 0)
            return at + __builtin_ctz(unsigned(found));
    }
    return plain(bytes, at, to);
}

#else

qint64 vector(const char *bytes, qint64 from, qint64 to)
{
    return plain(bytes, from, to);
}

#endif

qint64 next(const char *bytes, qint64 from, qint64 to)
{
    return vector(bytes, from, to);
}

} // namespace tvx::linebreaks
