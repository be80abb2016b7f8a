#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <vector>

// Where one line lies inside the text of a cue file.
struct CueSpan
{
    qsizetype begin = 0;
    qsizetype length = 0;
};

// The whole cue file as raw bytes, cut at the first NUL byte.
// Throws Error("Cannot open file \"<path>\". <reason>").
QByteArray ReadCueFile(const QString &path);

// Splits text into lines: CR LF, a lone LF and a lone CR each end one line; a
// last line without an end still counts; a line end at the very end adds no
// empty line. Lines are not trimmed; blank lines are kept.
std::vector<CueSpan> SplitCueLines(QByteArrayView text);
