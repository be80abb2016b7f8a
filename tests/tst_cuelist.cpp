#include "app/error.h"
#include "cue/cuelist.h"

#include <QFile>
#include <QTest>
#include <sys/resource.h>
#include <unistd.h>

// TListBox is a widget; this runs without a display.
[[maybe_unused]] static const bool offscreen =
    qEnvironmentVariableIsSet("QT_QPA_PLATFORM") || qputenv("QT_QPA_PLATFORM", "offscreen");

using Lines = QList<QByteArray>;

namespace {

Lines Items(const TListBox &list)
{
    Lines lines;
    for (qsizetype i = 0; i < list.count(); ++i)
        lines << list.item(i).toByteArray();
    return lines;
}

#ifndef CUEVOX_ASAN
// Bytes of address space in use now.
qint64 AddressSpaceInUse()
{
    QFile statm("/proc/self/statm");
    if (!statm.open(QIODevice::ReadOnly))
        return -1;
    return statm.readAll().split(' ').value(0).toLongLong() * ::sysconf(_SC_PAGESIZE);
}
#endif

} // namespace

class TestCueList : public QObject
{
    Q_OBJECT
private slots:
    void appendsInOrder();
    void removeHeadToEmpty();
    void textEndsAtNul();
#ifndef CUEVOX_ASAN
    // AddressSanitizer ends the program where an allocation fails, so this
    // runs in the plain build only (the test command runs it there).
    void outOfMemoryKeepsLines();
#endif
};

void TestCueList::appendsInOrder()
{
    TListBox list;
    QVERIFY(list.isHidden());
    list.addText("a\r\n\r\nb");
    list.addText("");
    list.addText("c\n");
    QCOMPARE(Items(list), (Lines{"a", "", "b", "c"}));
    QCOMPARE(list.head(), "a");
    QCOMPARE(list.item(4), QByteArrayView());
    list.clear();
    QCOMPARE(list.count(), 0);
    list.addText("d");
    QCOMPARE(Items(list), Lines{"d"});
}

void TestCueList::removeHeadToEmpty()
{
    TListBox list;
    list.addText("1\n2\n3");
    list.removeHead();
    QCOMPARE(Items(list), (Lines{"2", "3"}));
    list.addText("4");
    list.removeHead();
    QCOMPARE(Items(list), (Lines{"3", "4"}));
    list.removeHead();
    list.removeHead();
    QCOMPARE(list.count(), 0);
    list.removeHead();
    QCOMPARE(list.count(), 0);
    list.addText("5\n6");
    QCOMPARE(Items(list), (Lines{"5", "6"}));
}

void TestCueList::textEndsAtNul()
{
    TListBox list;
    list.addText(QByteArray("a\nb\0c\nd", 7));
    QCOMPARE(Items(list), (Lines{"a", "b"}));
}

#ifndef CUEVOX_ASAN
void TestCueList::outOfMemoryKeepsLines()
{
    TListBox list;
    list.addText("kept 1\nkept 2");
    // A line per byte: the line table needs 16 times the text, far over the limit.
    const QByteArray huge(16 * 1024 * 1024, '\n');
    const qint64 inUse = AddressSpaceInUse();
    QVERIFY(inUse > 0);
    rlimit previous;
    QVERIFY(::getrlimit(RLIMIT_AS, &previous) == 0);
    rlimit limited = previous;
    limited.rlim_cur = rlim_t(inUse + 64 * 1024 * 1024);
    if (previous.rlim_cur != RLIM_INFINITY && previous.rlim_cur < limited.rlim_cur)
        QSKIP("address space already limited");
    QVERIFY(::setrlimit(RLIMIT_AS, &limited) == 0);
    QString error;
    try {
        list.addText(huge);
    } catch (const Error &e) {
        error = e.message();
    }
    QVERIFY(::setrlimit(RLIMIT_AS, &previous) == 0);
    QCOMPARE(error, "Unable to insert a line");
    QCOMPARE(Items(list), (Lines{"kept 1", "kept 2"}));
}
#endif

QTEST_MAIN(TestCueList)
#include "tst_cuelist.moc"
