#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <limits>
#include <vector>

// Where one line lies inside the text of a cue file. 32-bit fields keep a
// million short lines smaller than their text; the price is a 4 GiB limit.
struct CueSpan
{
    quint32 begin = 0;
    quint32 length = 0;
};

// The longest text whose lines CueSpan can hold.
constexpr qsizetype CueTextLimit = qsizetype(std::numeric_limits<quint32>::max());

// The whole cue file as raw bytes, cut at the first NUL byte.
// Throws Error("Cannot open file \"<path>\". <reason>").
QByteArray ReadCueFile(const QString &path);

// Splits text into lines: CR LF, a lone LF and a lone CR each end one line; a
// last line without an end still counts; a line end at the very end adds no
// empty line. Lines are not trimmed; blank lines are kept. A text longer than
// CueTextLimit throws std::bad_alloc, as running out of memory would.
std::vector<CueSpan> SplitCueLines(QByteArrayView text);
