#include "cue/cuefile.h"

#include "app/error.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <sys/stat.h>

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

bool IsLineEnd(char c)
{
    return c == '\n' || c == '\r';
}

// Calls lineFound(begin, length) for every line of text, in order.
template<typename LineFound>
void ForEachLine(QByteArrayView text, LineFound lineFound)
{
    const qsizetype size = text.size();
    qsizetype begin = 0;
    for (qsizetype i = 0; i < size; ++i) {
        if (!IsLineEnd(text[i]))
            continue;
        lineFound(begin, i - begin);
        if (text[i] == '\r' && i + 1 < size && text[i + 1] == '\n')
            ++i;
        begin = i + 1;
    }
    if (begin < size)
        lineFound(begin, size - begin);
}

} // namespace

QByteArray ReadCueFile(const QString &path)
{
    const FilePtr file(std::fopen(QFile::encodeName(path).constData(), "rbe"));
    if (!file)
        ThrowCannotOpen(path, errno);

    // One byte more than the size, so the end is seen without growing.
    QByteArray text(SizeHint(file.get()) + 1, Qt::Uninitialized);
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
    // Counted first, so a million lines take exactly the room they need.
    std::size_t count = 0;
    ForEachLine(text, [&count](qsizetype, qsizetype) { ++count; });
    std::vector<CueSpan> lines;
    lines.reserve(count);
    ForEachLine(text, [&lines](qsizetype begin, qsizetype length) { lines.push_back({begin, length}); });
    return lines;
}
