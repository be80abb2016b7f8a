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
// Error("'<text>' is not a valid integer value").
qint32 StrToInt(QByteArrayView text);

// Minutes and seconds of a cue line such as "[00:01.26]hello": seconds are the
// text between the first "." and the first "]", minutes the text between the
// first ":" and the first ".". Throws as StrToInt does.
CueTime ReadCueTime(QByteArrayView line);

// The words to speak: the line without its first 10 characters.
QByteArrayView CueText(QByteArrayView line);
