#include "cue/cuefile.h"

#include "app/error.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QtAlgorithms>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

struct FileCloser
{
    void operator()(std::FILE *file) const { std::fclose(file); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

[[noreturn]] void ThrowCannotOpen(const QString &path, int error)
{
    QString reason = QString::fromLocal8Bit(std::strerror(error));
    while (reason.endsWith(u' ') || reason.endsWith(u'.'))
        reason.chop(1);
    const QString fullPath = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
    throw Error(QString("Cannot open file \"%1\". %2").arg(fullPath, reason));
}

qsizetype SizeHint(std::FILE *file)
{
    struct stat info;
    if (::fstat(fileno(file), &info) == 0 && S_ISREG(info.st_mode))
        return qsizetype(info.st_size);
    return 0;
}

// Makes a large buffer ready before it is first written: with 4 KiB pages
// faulted in one by one, filling the text of a million-line file costs more
// than reading it. Huge pages where they fit, and every page mapped in one
// call. Only hints: where they are not followed, nothing changes.
void PrepareLargeBuffer(void *data, std::size_t size)
{
    constexpr std::size_t hugePage = 2 * 1024 * 1024;
    if (size < hugePage)
        return;
    const std::uintptr_t first = reinterpret_cast<std::uintptr_t>(data);
    const std::uintptr_t last = first + size;
#if defined(MADV_HUGEPAGE)
    const std::uintptr_t hugeBegin = (first + hugePage - 1) & ~std::uintptr_t(hugePage - 1);
    const std::uintptr_t hugeEnd = last & ~std::uintptr_t(hugePage - 1);
    if (hugeEnd > hugeBegin)
        ::madvise(reinterpret_cast<void *>(hugeBegin), hugeEnd - hugeBegin, MADV_HUGEPAGE);
#endif
#if defined(MADV_POPULATE_WRITE)
    // Whole pages inside the buffer only, so nothing next to it is touched.
    const std::uintptr_t page = std::uintptr_t(::sysconf(_SC_PAGESIZE));
    const std::uintptr_t begin = (first + page - 1) & ~(page - 1);
    const std::uintptr_t end = last & ~(page - 1);
    if (end > begin)
        ::madvise(reinterpret_cast<void *>(begin), end - begin, MADV_POPULATE_WRITE);
#endif
    Q_UNUSED(first);
    Q_UNUSED(last);
}

// Calls lineFound(begin, length) for every line of text, in order.
template<typename LineFound>
void ForEachLine(QByteArrayView text, LineFound lineFound)
{
    const char *data = text.data();
    const qsizetype size = text.size();
    qsizetype begin = 0;
    // The CR or LF at position end closes the line that starts at begin;
    // the LF of a CR LF pair lies before the next begin and is passed over.
    const auto lineEnd = [&](qsizetype end) {
        if (end < begin)
            return;
        lineFound(begin, end - begin);
        begin = end + 1;
        if (data[end] == '\r' && begin < size && data[begin] == '\n')
            ++begin;
    };
    qsizetype i = 0;
#if defined(__SSE2__)
    // Sixteen bytes at a time: loading a file is mostly this search.
    const __m128i lf = _mm_set1_epi8('\n');
    const __m128i cr = _mm_set1_epi8('\r');
    for (; i + 16 <= size; i += 16) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i *>(data + i));
        quint32 ends = quint32(_mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(bytes, lf), _mm_cmpeq_epi8(bytes, cr))));
        for (; ends != 0; ends &= ends - 1)
            lineEnd(i + qCountTrailingZeroBits(ends));
    }
#endif
    for (; i < size; ++i) {
        if (data[i] == '\n' || data[i] == '\r')
            lineEnd(i);
    }
    if (begin < size)
        lineFound(begin, size - begin);
}

// The number of lines ForEachLine finds, without visiting each: every LF
// ends a line, every CR not right before an LF too, and a last line may have
// no end at all.
std::size_t CountLines(QByteArrayView text)
{
    const char *data = text.data();
    const qsizetype size = text.size();
    std::size_t count = 0;
    qsizetype i = 0;
#if defined(__SSE2__)
    const __m128i lf = _mm_set1_epi8('\n');
    const __m128i cr = _mm_set1_epi8('\r');
    const __m128i zero = _mm_setzero_si128();
    // One byte more than a block is read, for the byte after each CR.
    while (i + 17 <= size) {
        // Each byte lane gains at most one a block, so 255 blocks fit in it.
        __m128i lanes = zero;
        for (int block = 0; block < 255 && i + 17 <= size; ++block, i += 16) {
            const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i *>(data + i));
            const __m128i next = _mm_loadu_si128(reinterpret_cast<const __m128i *>(data + i + 1));
            const __m128i ends = _mm_or_si128(_mm_cmpeq_epi8(bytes, lf), _mm_cmpeq_epi8(bytes, cr));
            const __m128i pairs = _mm_and_si128(_mm_cmpeq_epi8(bytes, cr), _mm_cmpeq_epi8(next, lf));
            lanes = _mm_sub_epi8(lanes, _mm_andnot_si128(pairs, ends));
        }
        alignas(16) quint64 sums[2];
        _mm_store_si128(reinterpret_cast<__m128i *>(sums), _mm_sad_epu8(lanes, zero));
        count += sums[0] + sums[1];
    }
#endif
    for (; i < size; ++i) {
        if (data[i] == '\n' || (data[i] == '\r' && (i + 1 == size || data[i + 1] != '\n')))
            ++count;
    }
    if (size > 0 && data[size - 1] != '\n' && data[size - 1] != '\r')
        ++count;
    return count;
}

} // namespace

QByteArray ReadCueFile(const QString &path)
{
    const FilePtr file(std::fopen(QFile::encodeName(path).constData(), "rbe"));
    if (!file)
        ThrowCannotOpen(path, errno);

    // One byte more than the size, so the end is seen without growing.
    QByteArray text(SizeHint(file.get()) + 1, Qt::Uninitialized);
    PrepareLargeBuffer(text.data(), std::size_t(text.size()));
    qsizetype used = 0;
    for (;;) {
        if (used == text.size())
            text.resize(text.size() * 2);
        used += qsizetype(std::fread(text.data() + used, 1, size_t(text.size() - used), file.get()));
        if (std::ferror(file.get()))
            ThrowCannotOpen(path, errno);
        if (std::feof(file.get()))
            break;
    }
    const qsizetype nul = QByteArrayView(text.constData(), used).indexOf('\0');
    text.truncate(nul >= 0 ? nul : used);
    return text;
}

std::vector<CueSpan> SplitCueLines(QByteArrayView text)
{
    if (text.size() > CueTextLimit)
        throw std::bad_alloc();
    // Counted first, so a million lines take exactly the room they need.
    const std::size_t count = CountLines(text);
    std::vector<CueSpan> lines;
    lines.reserve(count);
    PrepareLargeBuffer(lines.data(), count * sizeof(CueSpan));
    ForEachLine(text, [&lines](qsizetype begin, qsizetype length) {
        lines.push_back({quint32(begin), quint32(length)});
    });
    return lines;
}
