#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QtGlobal>

// Minutes and seconds of a cue head, kept as two separate numbers.
struct CueTime
{
    qint32 minutes = 0;
    qint32 seconds = 0;
};

// Integer conversion of a time field: leading spaces (not tabs), one sign,
// then decimal digits (32-bit range checked) or hexadecimal after "$", "x",
// "X", "0x" or "0X" (up to 8 digits, may wrap). Anything else, trailing
// blanks and the empty text included, throws
// Error("'<text>' is not a valid integer value"), where a text longer than
// 40 characters is cut to 40 and "…" added.
qint32 StrToInt(QByteArrayView text);

// Minutes and seconds of a cue line such as "[00:01.26]hello": seconds are the
// text between the first "." and the first "]", minutes the text between the
// first ":" and the first ".". Throws as StrToInt does.
CueTime ReadCueTime(QByteArrayView line);

// Bytes of a cue's text that are spoken, some minutes of speech. The speech
// service takes a text at about a megabyte a second while the program waits,
// so a cue of megabytes would stop the window for many seconds.
constexpr qsizetype CueTextSpokenLimit = 4096;

// The words to speak: the line without its first 10 characters, cut after
// at most CueTextSpokenLimit bytes at a blank or a character's start.
QByteArrayView CueText(QByteArrayView line);
