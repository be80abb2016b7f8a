#include "app/error.h"
#include "cue/cuefile.h"
#include "cue/cuelist.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <unistd.h>

// TListBox is a widget; this runs without a display.
[[maybe_unused]] static const bool offscreen =
    qEnvironmentVariableIsSet("QT_QPA_PLATFORM") || qputenv("QT_QPA_PLATFORM", "offscreen");

using Lines = QList<QByteArray>;

namespace {

Lines Split(const QByteArray &text)
{
    Lines lines;
    for (const CueSpan &span : SplitCueLines(text))
        lines << text.mid(span.begin, span.length);
    return lines;
}

Lines Items(const TListBox &list)
{
    Lines lines;
    for (qsizetype i = 0; i < list.count(); ++i)
        lines << list.item(i).toByteArray();
    return lines;
}

QString ErrorOf(const QString &path)
{
    try {
        ReadCueFile(path);
    } catch (const Error &e) {
        return e.message();
    }
    return QString();
}

} // namespace

class TestCueFile : public QObject
{
    Q_OBJECT
private slots:
    void split_data();
    void split();
    void readFile();
    void openError_data();
    void openError();
    void relativePathReportedInFull();
    void loadFixture_data();
    void loadFixture();
    void loadAppends();

private:
    QString write(const QByteArray &text);
    QTemporaryDir m_dir;
};

QString TestCueFile::write(const QByteArray &text)
{
    const QString path = m_dir.filePath("dub.txt");
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size())
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

void TestCueFile::split_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<Lines>("lines");

    QTest::newRow("empty") << QByteArray() << Lines{};
    QTest::newRow("no final end") << QByteArray("a\nb") << Lines{"a", "b"};
    QTest::newRow("final LF adds nothing") << QByteArray("a\n") << Lines{"a"};
    QTest::newRow("final CR LF adds nothing") << QByteArray("a\r\n") << Lines{"a"};
    QTest::newRow("final CR adds nothing") << QByteArray("a\r") << Lines{"a"};
    QTest::newRow("CR LF") << QByteArray("a\r\nb\r\nc") << Lines{"a", "b", "c"};
    QTest::newRow("lone CR") << QByteArray("a\rb\rc") << Lines{"a", "b", "c"};
    QTest::newRow("mixed ends") << QByteArray("a\r\nb\rc\nd") << Lines{"a", "b", "c", "d"};
    QTest::newRow("LF CR is two ends") << QByteArray("a\n\rb") << Lines{"a", "", "b"};
    QTest::newRow("LF CR at the end") << QByteArray("a\n\r") << Lines{"a", ""};
    QTest::newRow("CR CR LF") << QByteArray("a\r\r\nb") << Lines{"a", "", "b"};
    QTest::newRow("only a line end") << QByteArray("\n") << Lines{""};
    QTest::newRow("blank lines kept") << QByteArray("\r\n\r\na\n\n") << Lines{"", "", "a", ""};
    QTest::newRow("not trimmed") << QByteArray(" a \t\n\tb ") << Lines{" a \t", "\tb "};
    // Long text is searched sixteen bytes at a time: ends at and across the
    // edges of those blocks.
    QTest::newRow("CR LF across a block edge")
        << QByteArray(15, 'a') + "\r\n" + QByteArray(20, 'b') + "\n\r" + QByteArray(14, 'c') + "\r"
        << Lines{QByteArray(15, 'a'), QByteArray(20, 'b'), "", QByteArray(14, 'c')};
    QTest::newRow("ends on a block edge")
        << QByteArray(15, 'a') + "\n" + QByteArray(15, 'b') + "\r" + QByteArray(16, 'c')
        << Lines{QByteArray(15, 'a'), QByteArray(15, 'b'), QByteArray(16, 'c')};
    QTest::newRow("BOM kept as bytes") << QByteArray("\xEF\xBB\xBF[00:00.01]a")
                                       << Lines{"\xEF\xBB\xBF[00:00.01]a"};
}

void TestCueFile::split()
{
    QFETCH(QByteArray, text);
    QFETCH(Lines, lines);
    QCOMPARE(Split(text), lines);
}

void TestCueFile::readFile()
{
    QVERIFY(m_dir.isValid());
    const QByteArray bytes("\xEF\xBB\xBF[00:00.01]caf\xE9\r\n\n\r[00:00.02] b");
    QCOMPARE(ReadCueFile(write(bytes)), bytes);
    QCOMPARE(ReadCueFile(write(QByteArray("a\nb\0c\nd", 7))), QByteArray("a\nb"));
    QCOMPARE(ReadCueFile(write(QByteArray("\0a", 2))), QByteArray());
    QCOMPARE(ReadCueFile(write(QByteArray())), QByteArray());
}

void TestCueFile::openError_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("reason");

    QTest::newRow("missing") << "missing.txt" << "No such file or directory";
    QTest::newRow("missing folder") << "nowhere/dub.txt" << "No such file or directory";
    QTest::newRow("directory") << "folder" << "Is a directory";
    QTest::newRow("unreadable") << "unreadable.txt" << "Permission denied";
}

void TestCueFile::openError()
{
    QFETCH(QString, name);
    QFETCH(QString, reason);
    QVERIFY(m_dir.isValid());
    const QString path = m_dir.filePath(name);
    QDir(m_dir.path()).mkpath("folder");
    if (name == "unreadable.txt") {
        if (::geteuid() == 0) {
            // Root reads any file: this row runs again as an ordinary user.
            QProcess child;
            child.setProcessChannelMode(QProcess::MergedChannels);
            child.start("setpriv", {"--reuid=65534", "--regid=65534", "--clear-groups", "--",
                                    QCoreApplication::applicationFilePath(), "openError:unreadable"});
            QVERIFY(child.waitForFinished(60000));
            const QByteArray output = child.readAll();
            QVERIFY2(child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0, output.constData());
            QVERIFY2(output.contains("PASS   : TestCueFile::openError(unreadable)"), output.constData());
            return;
        }
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QVERIFY(file.setPermissions(QFileDevice::Permissions()));
    }
    QCOMPARE(ErrorOf(path), QString("Cannot open file \"%1\". %2").arg(path, reason));
}

void TestCueFile::relativePathReportedInFull()
{
    QVERIFY(m_dir.isValid());
    const QString previous = QDir::currentPath();
    QVERIFY(QDir::setCurrent(m_dir.path()));
    const QString error = ErrorOf("sub/../missing.txt");
    QVERIFY(QDir::setCurrent(previous));
    QCOMPARE(error, QString("Cannot open file \"%1\". No such file or directory")
                        .arg(QDir(m_dir.path()).absoluteFilePath("missing.txt")));
}

void TestCueFile::loadFixture_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<Lines>("lines");

    QTest::newRow("Windows script") << "data/script-crlf.txt"
                                    << Lines{"[00:00.00] Hello.", "[00:01.50] but we also", "",
                                             "[00:03.05]caf\xE9 au lait"};
    QTest::newRow("mixed ends, BOM, no final end")
        << "data/script-mixed.txt"
        << Lines{"\xEF\xBB\xBF[00:00.01]one", "[00:00.02]two", "[00:00.03]three", "",
                 "[00:00.04] four "};
}

void TestCueFile::loadFixture()
{
    QFETCH(QString, name);
    QFETCH(Lines, lines);
    const QString path = QFINDTESTDATA(name);
    QVERIFY2(!path.isEmpty(), qPrintable(name));
    TListBox list;
    list.loadFromFile(path);
    QCOMPARE(Items(list), lines);
}

void TestCueFile::loadAppends()
{
    const QString path = QFINDTESTDATA("data/script-crlf.txt");
    QVERIFY(!path.isEmpty());
    TListBox list;
    list.addText("first\r\nsecond");
    list.loadFromFile(path);
    QCOMPARE(list.count(), 6);
    QCOMPARE(list.item(0), "first");
    QCOMPARE(list.item(1), "second");
    QCOMPARE(list.item(2), "[00:00.00] Hello.");
    QCOMPARE(list.item(5), "[00:03.05]caf\xE9 au lait");

    QVERIFY_THROWS_EXCEPTION(Error, list.loadFromFile(m_dir.filePath("missing.txt")));
    QCOMPARE(list.count(), 6);
}

QTEST_MAIN(TestCueFile)
#include "tst_cuefile.moc"
