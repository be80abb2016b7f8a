#include "app/error.h"
#include "cue/cueclock.h"
#include "cue/cuelist.h"

#include <QLabel>
#include <QTest>

// The labels are widgets; this runs without a display.
[[maybe_unused]] static const bool offscreen =
    qEnvironmentVariableIsSet("QT_QPA_PLATFORM") || qputenv("QT_QPA_PLATFORM", "offscreen");

using Lines = QList<QByteArray>;
using Positions = QList<qint64>;

namespace {

// Records what the clock asks of the voice; its first speak calls can be set
// to find the voice not ready or failing.
class RecordingSpeaker : public CueSpeaker
{
public:
    enum class Failure { None, NotReady, Throws };

    Failure failure = Failure::None;
    int failures = 0;
    int prepares = 0;
    QStringList spoken;
    QList<int> flags;

    void prepare() override { ++prepares; }

    std::optional<int> speak(const QString &text, int flag) override
    {
        flags << flag;
        if (failures > 0) {
            --failures;
            if (failure == Failure::Throws)
                throw Error("voice failed");
            return std::nullopt;
        }
        spoken << text;
        return int(spoken.size());
    }
};

} // namespace

class TestCueClock : public QObject
{
    Q_OBJECT
private slots:
    void tick_data();
    void tick();
    void untilDue_data();
    void untilDue();
};

// Each tick is traced as "<current label> <cue label> <what happened>", where
// what happened is "said:<text>", "prepared", "error:<message>" or "-".
void TestCueClock::tick_data()
{
    QTest::addColumn<Lines>("cues");
    QTest::addColumn<QString>("voice");
    QTest::addColumn<Positions>("positions");
    QTest::addColumn<QStringList>("trace");

    QTest::newRow("empty list keeps labels")
        << Lines{} << "ready" << Positions{0, 5000} << QStringList{"? ? -", "? ? -"};
    QTest::newRow("cue at 0:00 on the first tick")
        << Lines{"[00:00.00]hello"} << "ready" << Positions{0} << QStringList{"0.0 0.0 said:hello"};
    QTest::newRow("late cue goes out at once")
        << Lines{"[00:00.43] late"} << "ready" << Positions{70000}
        << QStringList{"1.10 0.43 said: late"};
    QTest::newRow("seconds past 59 are more seconds")
        << Lines{"[00:00.75]x"} << "ready" << Positions{74999, 75000}
        << QStringList{"1.14 0.75 prepared", "1.15 0.75 said:x"};
    QTest::newRow("across a minute")
        << Lines{"[00:00.55]a", "[00:01.02]b"} << "ready" << Positions{55000, 59000, 60000, 62000}
        << QStringList{"0.55 0.55 said:a", "0.59 1.2 -", "1.0 1.2 prepared", "1.2 1.2 said:b"};
    QTest::newRow("prepared within 2 s only")
        << Lines{"[00:00.10]a"} << "ready" << Positions{7000, 7999, 8000, 9999, 10000}
        << QStringList{"0.7 0.10 -", "0.7 0.10 -", "0.8 0.10 prepared", "0.9 0.10 prepared",
                       "0.10 0.10 said:a"};
    QTest::newRow("whole seconds truncated")
        << Lines{"[00:01.02]a"} << "ready" << Positions{61999, 62000}
        << QStringList{"1.1 1.2 prepared", "1.2 1.2 said:a"};
    QTest::newRow("one cue per tick")
        << Lines{"[00:00.01]a", "[00:00.01]b"} << "ready" << Positions{5000, 5000, 5000}
        << QStringList{"0.5 0.1 said:a", "0.5 0.1 said:b", "0.5 0.1 -"};
    QTest::newRow("hours ignored")
        << Lines{"[05:00.03]a"} << "ready" << Positions{3000} << QStringList{"0.3 0.3 said:a"};
    QTest::newRow("file order kept")
        << Lines{"[00:00.09]late", "[00:00.03]early"} << "ready" << Positions{3000, 9000, 9010}
        << QStringList{"0.3 0.9 -", "0.9 0.9 said:late", "0.9 0.3 said:early"};
    QTest::newRow("bad head reported once, next line said")
        << Lines{"", "[00:00.00]next"} << "ready" << Positions{0, 0}
        << QStringList{"? ? error:'' is not a valid integer value", "0.0 0.0 said:next"};
    QTest::newRow("voice not ready keeps the head")
        << Lines{"[00:00.00]a"} << "not ready once" << Positions{0, 10}
        << QStringList{"0.0 0.0 -", "0.0 0.0 said:a"};
    QTest::newRow("failing voice keeps the head")
        << Lines{"[00:00.00]a"} << "throws once" << Positions{0, 10}
        << QStringList{"0.0 0.0 error:voice failed", "0.0 0.0 said:a"};
    QTest::newRow("past 65535 s")
        << Lines{"[00:1100.00]a", "[00:50000.00]b"} << "ready"
        << Positions{65999000, 66000000, 3000000000}
        << QStringList{"1099.59 1100.0 prepared", "1100.0 1100.0 said:0]a", "50000.0 50000.0 said:00]b"};
    QTest::newRow("extreme fields")
        << Lines{"[00:-1.00]a", "[00:2147483647.$7FFFFFFF]b"} << "ready" << Positions{0, 0}
        << QStringList{"0.0 -1.0 said:a", "0.0 2147483647.2147483647 -"};
    QTest::newRow("text as it stands")
        << Lines{"[00:00.00]  two blanks ", "[00:00.00]", "[0:0.0]abc"} << "ready"
        << Positions{0, 0, 0} << QStringList{"0.0 0.0 said:  two blanks ", "0.0 0.0 said:", "0.0 0.0 said:"};
}

void TestCueClock::tick()
{
    QFETCH(Lines, cues);
    QFETCH(QString, voice);
    QFETCH(Positions, positions);
    QFETCH(QStringList, trace);

    TListBox list;
    for (const QByteArray &cue : cues)
        list.addText(cue + '\n');
    RecordingSpeaker speaker;
    if (voice != "ready") {
        speaker.failure = voice.startsWith("throws") ? RecordingSpeaker::Failure::Throws
                                                     : RecordingSpeaker::Failure::NotReady;
        speaker.failures = 1;
    }
    QLabel current("?");
    QLabel cue("?");

    QStringList actual;
    for (const qint64 position : positions) {
        const int prepares = speaker.prepares;
        const qsizetype spoken = speaker.spoken.size();
        QString outcome = "-";
        try {
            const bool said = TickCueClock(list, std::chrono::milliseconds(position), speaker, current, cue);
            QCOMPARE(said, speaker.spoken.size() > spoken);
            if (said)
                outcome = "said:" + speaker.spoken.last();
            else if (speaker.prepares > prepares)
                outcome = "prepared";
        } catch (const Error &e) {
            outcome = "error:" + e.message();
        }
        actual << current.text() + ' ' + cue.text() + ' ' + outcome;
    }
    QCOMPARE(actual, trace);
    for (const int flag : speaker.flags)
        QCOMPARE(flag, SVSFlagsAsync);
}

// The time left to a head that is not due yet, so the caller can come back at
// its moment; -1 where nothing is waiting (left untouched).
void TestCueClock::untilDue_data()
{
    QTest::addColumn<QByteArray>("cue");
    QTest::addColumn<qint64>("position");
    QTest::addColumn<qint64>("untilDue");

    QTest::newRow("10 ms before") << QByteArray("[00:00.05]a") << qint64(4990) << qint64(10);
    QTest::newRow("1 ms before, across a minute") << QByteArray("[00:01.02]a") << qint64(61999) << qint64(1);
    QTest::newRow("far ahead") << QByteArray("[00:00.30]a") << qint64(0) << qint64(30000);
    QTest::newRow("due now") << QByteArray("[00:00.05]a") << qint64(5000) << qint64(-1);
    QTest::newRow("late") << QByteArray("[00:00.05]a") << qint64(9000) << qint64(-1);
    QTest::newRow("bad head") << QByteArray("[00:00.x]a") << qint64(0) << qint64(-1);
    QTest::newRow("no cue") << QByteArray() << qint64(0) << qint64(-1);
}

void TestCueClock::untilDue()
{
    QFETCH(QByteArray, cue);
    QFETCH(qint64, position);
    QFETCH(qint64, untilDue);

    TListBox list;
    if (!cue.isNull())
        list.addText(cue + '\n');
    RecordingSpeaker speaker;
    QLabel current;
    QLabel cueLabel;
    std::chrono::milliseconds left{-1};
    try {
        TickCueClock(list, std::chrono::milliseconds(position), speaker, current, cueLabel, &left);
    } catch (const Error &) {
    }
    QCOMPARE(left.count(), untilDue);
}

QTEST_MAIN(TestCueClock)
#include "tst_cueclock.moc"
