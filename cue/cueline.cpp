#include "cue/cueline.h"

#include "app/error.h"

#include <QString>

namespace {

// Characters of a bad value that an error message quotes. A longer value is
// cut short with an ellipsis: a line of megabytes would make an error box
// that takes minutes to lay out and cannot be read.
constexpr qsizetype QuotedLimit = 40;

[[noreturn]] void ThrowNotInteger(QByteArrayView text)
{
    // No character takes more than 4 bytes, so this prefix holds more than
    // the limit whenever the value is longer.
    const qsizetype prefix = 4 * (QuotedLimit + 1);
    QString quoted = QString::fromLocal8Bit(text.first(qMin(text.size(), prefix)));
    if (quoted.size() > QuotedLimit || text.size() > prefix) {
        qsizetype cut = qMin(quoted.size(), QuotedLimit);
        if (cut > 0 && quoted.at(cut - 1).isHighSurrogate())
            --cut;
        quoted.truncate(cut);
        quoted += QChar(0x2026);
    }
    throw Error(QString("'%1' is not a valid integer value").arg(quoted));
}

int HexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

// Length of the hexadecimal prefix at i, 0 if there is none.
qsizetype HexPrefixLength(QByteArrayView text, qsizetype i)
{
    if (i >= text.size())
        return 0;
    const char c = text[i];
    if (c == '$' || c == 'x' || c == 'X')
        return 1;
    if (c == '0' && i + 1 < text.size() && (text[i + 1] == 'x' || text[i + 1] == 'X'))
        return 2;
    return 0;
}

// 1-based position of the first c in line, 0 if there is none.
qsizetype FirstPos(QByteArrayView line, char c)
{
    return line.indexOf(c) + 1;
}

// n characters from 1-based position p, clipped to the line.
QByteArrayView Substring(QByteArrayView line, qsizetype p, qsizetype n)
{
    if (p < 1)
        p = 1;
    if (n <= 0 || p > line.size())
        return {};
    return line.sliced(p - 1, qMin(n, line.size() - p + 1));
}

} // namespace

qint32 StrToInt(QByteArrayView text)
{
    qsizetype i = 0;
    while (i < text.size() && text[i] == ' ')
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        negative = text[i++] == '-';

    const qsizetype digitsBegin = i;
    quint32 value = 0;
    if (const qsizetype prefix = HexPrefixLength(text, i)) {
        // Hexadecimal takes all 32 bits, so $FFFFFFFF is -1.
        for (i += prefix; i < text.size() && HexDigit(text[i]) >= 0; ++i) {
            if (value > 0x0FFFFFFFu)
                ThrowNotInteger(text);
            value = value << 4 | quint32(HexDigit(text[i]));
        }
        if (i == digitsBegin + prefix)
            ThrowNotInteger(text);
    } else {
        const quint32 limit = negative ? 0x80000000u : 0x7FFFFFFFu;
        for (; i < text.size() && IsDigit(text[i]); ++i) {
            const quint32 digit = quint32(text[i] - '0');
            if (value > (limit - digit) / 10)
                ThrowNotInteger(text);
            value = value * 10 + digit;
        }
        if (i == digitsBegin)
            ThrowNotInteger(text);
    }
    if (i != text.size())
        ThrowNotInteger(text);
    // Negate in unsigned arithmetic: -2147483648 and wrapped hex stay defined.
    return qint32(negative ? 0u - value : value);
}

CueTime ReadCueTime(QByteArrayView line)
{
    const qsizetype colon = FirstPos(line, ':');
    const qsizetype dot = FirstPos(line, '.');
    const qsizetype bracket = FirstPos(line, ']');
    CueTime time;
    // Seconds first, so a line broken in both fields reports its seconds.
    time.seconds = StrToInt(Substring(line, dot + 1, bracket - dot - 1));
    time.minutes = StrToInt(Substring(line, colon + 1, dot - colon - 1));
    return time;
}

QByteArrayView CueText(QByteArrayView line)
{
    constexpr qsizetype headLength = 10;
    if (line.size() <= headLength)
        return {};
    QByteArrayView text = line.sliced(headLength);
    if (text.size() <= CueTextSpokenLimit)
        return text;
    // Cut at the last blank that fits, if not too far back, or else before
    // a character that would be split (UTF-8 continuation bytes run
    // 0x80..0xBF).
    qsizetype cut = text.first(CueTextSpokenLimit + 1).lastIndexOf(' ');
    if (cut < CueTextSpokenLimit / 2) {
        cut = CueTextSpokenLimit;
        while (cut > 0 && (uchar(text[cut]) & 0xC0) == 0x80)
            --cut;
    }
    return text.first(cut);
}
