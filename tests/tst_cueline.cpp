#include "app/error.h"
#include "cue/cueline.h"

#include <QTest>

namespace {

// The message for a bad value; `cut` when it is quoted cut short.
QString NotInteger(QByteArrayView text, bool cut = false)
{
    return QStringLiteral("'%1%2' is not a valid integer value")
        .arg(QString::fromUtf8(text), cut ? QString(QChar(0x2026)) : QString());
}

} // namespace

class TestCueLine : public QObject
{
    Q_OBJECT
private slots:
    void strToInt_data();
    void strToInt();
    void readCueTime_data();
    void readCueTime();
    void longValueIsQuotedShort_data();
    void longValueIsQuotedShort();
    void longTextIsSpokenShort_data();
    void longTextIsSpokenShort();
};

void TestCueLine::strToInt_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<int>("value");
    QTest::addColumn<QString>("error");

    auto ok = [](const char *name, const char *text, int value) {
        QTest::newRow(name) << QByteArray(text) << value << QString();
    };
    auto bad = [](const char *name, const char *text) {
        QTest::newRow(name) << QByteArray(text) << 0 << NotInteger(text);
    };
    ok("zero", "0", 0);
    ok("decimal", "1234", 1234);
    ok("leading zeros", "0007", 7);
    ok("plus", "+7", 7);
    ok("minus", "-7", -7);
    ok("leading spaces", "   42", 42);
    ok("spaces before sign", "  -5", -5);
    ok("largest", "2147483647", 2147483647);
    ok("smallest", "-2147483648", -2147483647 - 1);
    ok("dollar", "$1f", 31);
    ok("x", "x1F", 31);
    ok("X", "XaB", 171);
    ok("0x", "0x10", 16);
    ok("0X", "0X10", 16);
    ok("minus hex", "-$10", -16);
    ok("plus hex", "+$10", 16);
    ok("8 hex digits wrap", "$FFFFFFFF", -1);
    ok("8 hex digits high bit", "$80000000", -2147483647 - 1);
    ok("minus wrapped hex", "-$FFFFFFFF", 1);
    ok("hex leading zeros not counted", "$000000001", 1);

    bad("empty", "");
    bad("spaces only", "   ");
    bad("leading tab", "\t1");
    bad("trailing blank", "1 ");
    bad("blank after sign", "- 1");
    bad("sign only", "-");
    bad("two signs", "+-1");
    bad("decimal point", "1.5");
    bad("letters after digits", "12a");
    bad("one too large", "2147483648");
    bad("one too small", "-2147483649");
    bad("far too large", "99999999999999999999");
    bad("dollar only", "$");
    bad("0x only", "0x");
    bad("not a hex digit", "$G");
    bad("9 hex digits", "$100000000");
    bad("sign after prefix", "$-1");
    bad("two prefixes", "$x1");
    bad("non-ASCII shown as text", "\xC3\xA9");
}

void TestCueLine::strToInt()
{
    QFETCH(QByteArray, text);
    QFETCH(int, value);
    QFETCH(QString, error);

    try {
        const qint32 result = StrToInt(text);
        QVERIFY2(error.isEmpty(), qPrintable("no error, got " + QString::number(result)));
        QCOMPARE(result, value);
    } catch (const Error &e) {
        QCOMPARE(e.message(), error);
    }
}

void TestCueLine::readCueTime_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<int>("minutes");
    QTest::addColumn<int>("seconds");
    QTest::addColumn<QString>("error");
    QTest::addColumn<QByteArray>("text");

    auto ok = [](const char *name, const char *line, int minutes, int seconds, const char *text) {
        QTest::newRow(name) << QByteArray(line) << minutes << seconds << QString() << QByteArray(text);
    };
    auto bad = [](const char *name, const char *line, const char *field, const char *text) {
        QTest::newRow(name) << QByteArray(line) << 0 << 0 << NotInteger(field) << QByteArray(text);
    };
    ok("leading blank of text kept", "[00:01.50] but we also", 1, 50, " but we also");
    ok("no blank", "[00:01.26]hello", 1, 26, "hello");
    ok("short head cuts into text", "[0:1.2]hello", 1, 2, "lo");
    ok("hours ignored, head only", "[12:00.05]", 0, 5, "");
    ok("one character of text", "[00:00.00]x", 0, 0, "x");
    ok("seconds past 59", "[00:00.75]a", 0, 75, "a");
    ok("dot and bracket in text", "[00:02.03] Mr. X]", 2, 3, " Mr. X]");
    ok("spaces and hex in fields", "[00: 1.$A]a", 1, 10, "a");
    ok("negative minutes", "[00:-1.05]a", -1, 5, "a");
    ok("no hours field", ":3.4]", 3, 4, "");
    ok("trailing blanks in text", "[00:00.01]a  ", 0, 1, "a  ");

    bad("blank line", "", "", "");
    bad("no dot", "[00:01]hello", "[00:01", "lo");
    bad("no bracket", "[00:01.50 hi", "", "hi");
    bad("blank in seconds", "[00:01.5 ]a", "5 ", "a");
    bad("bad minutes", "[00:ab.05]a", "ab", "a");
    bad("seconds reported first", "[00:ab.cd]a", "cd", "a");
    bad("colon after dot", "[00.05:10]a", "05:10", "a");
    bad("text only", "hello there, world", "", "e, world");
}

void TestCueLine::readCueTime()
{
    QFETCH(QByteArray, line);
    QFETCH(int, minutes);
    QFETCH(int, seconds);
    QFETCH(QString, error);
    QFETCH(QByteArray, text);

    QCOMPARE(CueText(line), text);
    try {
        const CueTime time = ReadCueTime(line);
        QVERIFY2(error.isEmpty(), "no error");
        QCOMPARE(time.minutes, minutes);
        QCOMPARE(time.seconds, seconds);
    } catch (const Error &e) {
        QCOMPARE(e.message(), error);
    }
}

// A bad value of megabytes is quoted by its first 40 characters, so the error
// box stays small; 40 or fewer are quoted whole.
void TestCueLine::longValueIsQuotedShort_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<QString>("error");

    const QByteArray x40(40, 'x');
    QTest::newRow("40 quoted whole") << "[00:00." + x40 + "]a" << NotInteger(x40);
    QTest::newRow("41 cut") << "[00:00." + x40 + "y]a" << NotInteger(x40, true);
    QTest::newRow("10 MB cut") << "[00:00.1" + QByteArray(10'000'000, 'x') + "]a"
                               << NotInteger("1" + QByteArray(39, 'x'), true);
    QTest::newRow("10 MB of digits cut") << "[00:00." + QByteArray(10'000'000, '9') + "]a"
                                         << NotInteger(QByteArray(40, '9'), true);
    // é is two bytes in UTF-8: 40 of them are cut as characters, not bytes.
    QByteArray e41;
    for (int i = 0; i < 41; ++i)
        e41 += "\xC3\xA9";
    QTest::newRow("cut as characters") << "[00:00." + e41 + "]a"
                                       << NotInteger(e41.left(80), true);
}

void TestCueLine::longValueIsQuotedShort()
{
    QFETCH(QByteArray, line);
    QFETCH(QString, error);
    try {
        ReadCueTime(line);
        QFAIL("no error");
    } catch (const Error &e) {
        QCOMPARE(e.message(), error);
    }
}

// Only the first 4096 bytes of a huge cue are spoken, cut at a blank where
// one lies in the second half of them, else at a character's start.
void TestCueLine::longTextIsSpokenShort_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QByteArray>("spoken");

    const QByteArray words = QByteArray("lorem ipsum dolor ").repeated(600'000);
    QTest::newRow("4096 whole") << QByteArray(4096, 'a') << QByteArray(4096, 'a');
    QTest::newRow("10 MB of words cut at a blank")
        << words << QByteArray("lorem ipsum dolor ").repeated(227) + "lorem";
    QTest::newRow("blank at the very limit") << QByteArray(4096, 'a') + " b" << QByteArray(4096, 'a');
    QTest::newRow("no blank") << QByteArray(10'000'000, 'a') << QByteArray(4096, 'a');
    QTest::newRow("blank too far back") << "ab " + QByteArray(5000, 'c') << "ab " + QByteArray(4093, 'c');
    // 4096 bytes would end inside the 2049th "é".
    QByteArray e;
    for (int i = 0; i < 3000; ++i)
        e += "\xC3\xA9";
    QTest::newRow("character not split") << "a" + e << "a" + e.left(4094);
}

void TestCueLine::longTextIsSpokenShort()
{
    QFETCH(QByteArray, text);
    QFETCH(QByteArray, spoken);
    const QByteArray line = "[00:00.02]" + text;
    QCOMPARE(ReadCueTime(line).seconds, 2);
    QCOMPARE(CueText(line).toByteArray(), spoken);
}

QTEST_APPLESS_MAIN(TestCueLine)
#include "tst_cueline.moc"
