#include "desktop.h"
#include "program.h"

#include <QTemporaryDir>
#include <QtTest>

// The real executable on the test desktop: a window, a click, its sound.
class TestEndToEnd : public QObject
{
    Q_OBJECT

private:
    Program m_program;
    // How much later than placed the sound codec of beeps.wmv (WMA2) plays
    // its beeps: it starts with a frame of priming samples.
    int m_soundDelay = 0;

    // Where a cue's moment lies on the recording: cues lie at whole seconds,
    // half a second after a beep of the video's own sound, but the beep is
    // heard m_soundDelay later than its place in the video.
    int lateness(const QVector<int> &beeps, int speech) const
    {
        auto beep = std::lower_bound(beeps.begin(), beeps.end(), speech);
        return beep == beeps.begin() ? -1000000 : speech - (*(beep - 1) - m_soundDelay + 500);
    }

    static void keepScreenshot(const QString &name)
    {
        const QString folder = qEnvironmentVariable("CUEVOX_SCREENSHOTS");
        if (!folder.isEmpty())
            desktop::screenshot(folder + '/' + name + ".png");
    }

private slots:
    // The first beep of beeps.wmv lies at 0.5 s; decoded as the player
    // decodes it, and found as the recordings' beeps are found, it comes
    // later by the codec's delay.
    void initTestCase()
    {
        QTemporaryDir dir;
        const QString raw = dir.filePath("beeps.raw");
        QCOMPARE(QProcess::execute("gst-launch-1.0",
                                   {"-q", "filesrc", "location=" CUEVOX_FIXTURES "/beeps.wmv", "!", "decodebin", "!",
                                    "audioconvert", "!", "audiorate", "!", "audioresample", "!",
                                    "audio/x-raw,format=S16LE,rate=16000,channels=1", "!", "filesink",
                                    "location=" + raw}),
                 0);
        QFile file(raw);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray data = file.readAll();
        QVector<qint16> samples(data.size() / 2);
        memcpy(samples.data(), data.constData(), size_t(samples.size()) * 2);
        const auto beeps = desktop::beepOnsets(samples);
        QVERIFY(!beeps.isEmpty());
        m_soundDelay = beeps.first() - 500;
        qInfo("the sound codec delays the beeps by %d ms", m_soundDelay);
        QVERIFY(m_soundDelay >= 0 && m_soundDelay < 200);
    }

    // Starts the installed program (the recording already running), waits
    // for its window and, once it has settled, presses Play. Returns the
    // window, or nothing when none came.
    QString startAndPlay()
    {
        if (!m_program.start())
            return {};
        const QStringList windows = desktop::waitForWindows("Cuevox", 1);
        if (windows.size() != 1)
            return {};
        QTest::qWait(800);
        desktop::click(windows.first(), desktop::PlayButton);
        return windows.first();
    }

    void init()
    {
        const QString why = desktop::unavailable();
        if (!why.isEmpty())
            QSKIP(qPrintable(why));
    }

    void cleanup()
    {
        m_program.kill();
    }

    void playStartsTheVideoWithItsSound()
    {
        QVERIFY(m_program.install("short.wmv", ""));
        desktop::Recorder recorder(m_program.filePath("monitor.raw"));
        QVERIFY(m_program.start());
        const QStringList windows = desktop::waitForWindows("Cuevox", 1);
        QCOMPARE(windows.size(), 1);
        QTest::qWait(800);
        const qint64 clickedAt = recorder.elapsed();
        desktop::click(windows.first(), desktop::PlayButton);
        QTest::qWait(2000);
        keepScreenshot("playing");
        m_program.closeAndExpectExitZero(windows.first());

        const auto analysis = desktop::analyse(recorder.stop(), 440);
        const auto tone = desktop::onsets(analysis, [](const desktop::Window &w) {
            return w.rms > 200 && w.toneShare > 0.5;
        });
        QVERIFY2(!tone.isEmpty(), "the video's tone was not heard");
        QVERIFY2(tone.first() >= clickedAt, "sound before Play was clicked");
        QVERIFY2(tone.first() < clickedAt + 1500, qPrintable(QString("tone only %1 ms after the click")
                                                                  .arg(tone.first() - clickedAt)));
    }

    // Five cues two seconds apart, with a pause and a resume after the second
    // is heard. The video's own beeps, half a second before each cue's time,
    // mark its time on the recording (less the codec's delay), so each cue's
    // moment is known there whatever the delays of clicks, start-up and
    // recording.
    void scriptIsSpokenOnTime()
    {
        QVERIFY(m_program.install("beeps.wmv",
                                  "[00:00.01]one\n[00:00.03]two\n[00:00.05]three\n[00:00.07]four\n[00:00.09]five\n"));
        desktop::Recorder recorder(m_program.filePath("monitor.raw"));
        const QString window = startAndPlay();
        QVERIFY2(!window.isEmpty(), "no window came");
        QTRY_COMPARE_WITH_TIMEOUT(desktop::speechOnsets(recorder.samples()).size(), 2, 10000);
        desktop::click(window, desktop::PauseButton);
        QTest::qWait(1500);
        desktop::click(window, desktop::PauseButton);
        QTest::qWait(8000);
        m_program.closeAndExpectExitZero(window);

        const auto samples = recorder.stop();
        const auto beeps = desktop::beepOnsets(samples);
        const auto speech = desktop::speechOnsets(samples);
        qInfo() << "beeps at" << beeps << "speech at" << speech;
        QCOMPARE(speech.size(), 5);
        // The recording is read in 10 ms steps and a beep's first step may be
        // too mixed to count, and so may a word's; and the video's sound and
        // the speech reach the speakers through two streams whose latencies
        // differ a little. Moments are known to about 50 ms.
        const int Slack = 50;
        for (int cue = 0; cue < speech.size(); ++cue) {
            const int late = lateness(beeps, speech[cue]);
            qInfo("cue %d: %d ms after its time", cue + 1, late);
            QVERIFY2(late >= -Slack && late <= 400,
                     qPrintable(QString("cue %1 spoken %2 ms after its time").arg(cue + 1).arg(late)));
        }
    }

    // A cue that falls due while the one before is still being spoken waits
    // its turn: none is cut short and none is lost.
    void cuesSpokenTogetherAreQueued()
    {
        QVERIFY(m_program.install("silent.wmv",
                                  "[00:00.01]this first cue is a long sentence that goes on well past the next two\n"
                                  "[00:00.02]two\n[00:00.02]three\n"));
        desktop::Recorder recorder(m_program.filePath("monitor.raw"));
        const QString window = startAndPlay();
        QVERIFY2(!window.isEmpty(), "no window came");
        QTest::qWait(9000);
        m_program.closeAndExpectExitZero(window);

        // Words within a cue are closer together than the pause between two.
        const auto speech = desktop::onsets(desktop::analyse(recorder.stop(), 3000),
                                            [](const desktop::Window &w) { return w.rms > 300; }, 50, 200);
        qInfo() << "speech at" << speech;
        QCOMPARE(speech.size(), 3);
        QVERIFY2(speech[1] - speech[0] > 2000, "the long cue was cut short");
    }

    // Speech still going when the window is closed ends with the program.
    void closingEndsTheSpeech()
    {
        QVERIFY(m_program.install("silent.wmv",
                                  "[00:00.01]this cue is a long sentence that would go on for several seconds more\n"));
        desktop::Recorder recorder(m_program.filePath("monitor.raw"));
        const QString window = startAndPlay();
        QVERIFY2(!window.isEmpty(), "no window came");
        QTRY_COMPARE_WITH_TIMEOUT(desktop::speechOnsets(recorder.samples()).size(), 1, 10000);
        m_program.closeAndExpectExitZero(window);
        const qint64 closedAt = recorder.elapsed();
        QTest::qWait(2500);

        const auto analysis = desktop::analyse(recorder.stop(), 3000);
        int lastSpeech = 0;
        for (int i = 0; i < analysis.size(); ++i)
            if (analysis[i].rms > 300)
                lastSpeech = i * 10;
        QVERIFY2(lastSpeech < closedAt + 500,
                 qPrintable(QString("speech went on %1 ms after the program ended").arg(lastSpeech - closedAt)));
    }

    // The slider sets the loudness of the video's tone: middle, bottom, top.
    void volumeFollowsTheSlider()
    {
        QVERIFY(m_program.install("tone.wmv", ""));
        desktop::Recorder recorder(m_program.filePath("monitor.raw"));
        QVERIFY(m_program.start());
        const QStringList windows = desktop::waitForWindows("Cuevox", 1);
        QCOMPARE(windows.size(), 1);
        desktop::click(windows.first(), desktop::PlayButton);
        QTest::qWait(1500);
        const qint64 middle = recorder.elapsed();
        QTest::qWait(1000);
        desktop::run("xdotool", {"key", "Tab", "Tab", "End"});
        QTest::qWait(300);
        const qint64 bottom = recorder.elapsed();
        QTest::qWait(1000);
        desktop::run("xdotool", {"key", "Home"});
        QTest::qWait(300);
        const qint64 top = recorder.elapsed();
        QTest::qWait(1000);
        m_program.closeAndExpectExitZero(windows.first());

        const auto analysis = desktop::analyse(recorder.stop(), 440);
        auto level = [&](qint64 from) {
            double sum = 0;
            int count = 0;
            for (qint64 i = from / 10; i < (from + 700) / 10 && i < analysis.size(); ++i, ++count)
                sum += analysis[int(i)].rms;
            return count ? sum / count : -1.0;
        };
        const double atMiddle = level(middle), atBottom = level(bottom), atTop = level(top);
        const QString levels = QString("top %1, middle %2, bottom %3").arg(atTop).arg(atMiddle).arg(atBottom);
        QVERIFY2(atMiddle > 100, qPrintable(levels));
        QVERIFY2(atTop > 2 * atMiddle, qPrintable(levels));
        QVERIFY2(atBottom < 5, qPrintable(levels));
    }

    // With no speech service to be had, the first cue brings one error box;
    // the cues after it fail the same way and bring no more, and the video
    // plays on.
    void missingSpeechServiceIsReportedOnce()
    {
        QVERIFY(m_program.install("beeps.wmv",
                                  "[00:00.01]one\n[00:00.02]two\n[00:00.03]three\n[00:00.04]four\n[00:00.05]five\n"));
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("SPEECHD_ADDRESS", "unix_socket:" + m_program.filePath("no-such.sock"));
        desktop::Recorder recorder(m_program.filePath("monitor.raw"));
        QVERIFY(m_program.start(environment));
        const QStringList windows = desktop::waitForWindows("Cuevox", 1);
        QCOMPARE(windows.size(), 1);
        desktop::click(windows.first(), desktop::PlayButton);
        const QStringList withBox = desktop::waitForWindows("Cuevox", 2, 10000);
        QCOMPARE(withBox.size(), 2);
        keepScreenshot("no-speech-service");
        const qint64 boxShownAt = recorder.elapsed();
        QTest::qWait(1500);
        desktop::run("xdotool", {"key", "Return"});
        QTRY_COMPARE_WITH_TIMEOUT(desktop::windows("Cuevox").size(), 1, 5000);
        // Every later cue is due during these seconds and fails again.
        QTest::qWait(5000);
        QCOMPARE(desktop::windows("Cuevox"), windows);
        m_program.closeAndExpectExitZero(windows.first());

        const auto beeps = desktop::beepOnsets(recorder.stop());
        QVERIFY2(!beeps.isEmpty() && beeps.last() > boxShownAt + 1000,
                 "the video stopped when the error box came");
    }

    // The program starts the speech service itself (none runs for it), the
    // service dies after the first cue: one error box, then the program
    // starts it again and every cue is still heard once, in order.
    void speechServiceStartedAndRestartedByTheProgram()
    {
        QVERIFY(m_program.install("beeps.wmv", "[00:00.01]one\n[00:00.03]three\n[00:00.07]seven\n[00:00.09]nine\n"));
        // A runtime folder of its own, so the service it starts is its own.
        const QString runtime = m_program.filePath("runtime");
        QVERIFY(QDir().mkpath(runtime));
        QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("PULSE_SERVER", "unix:" + qEnvironmentVariable("XDG_RUNTIME_DIR") + "/pulse/native");
        environment.insert("XDG_RUNTIME_DIR", runtime);
        const QString pidFile = runtime + "/speech-dispatcher/pid/speech-dispatcher.pid";
        auto killService = [&] {
            QFile file(pidFile);
            if (file.open(QIODevice::ReadOnly))
                QProcess::execute("kill", {"-KILL", QString::fromLatin1(file.readAll().trimmed())});
        };

        desktop::Recorder recorder(m_program.filePath("monitor.raw"));
        QVERIFY(m_program.start(environment));
        const QStringList windows = desktop::waitForWindows("Cuevox", 1);
        QCOMPARE(windows.size(), 1);
        QTest::qWait(500);
        QVERIFY(!QFile::exists(pidFile));
        desktop::click(windows.first(), desktop::PlayButton);
        QTRY_COMPARE_WITH_TIMEOUT(desktop::speechOnsets(recorder.samples()).size(), 1, 10000);
        QTest::qWait(500);
        QVERIFY(QFile::exists(pidFile));
        killService();
        QCOMPARE(desktop::waitForWindows("Cuevox", 2, 10000).size(), 2);
        desktop::run("xdotool", {"key", "Return"});
        QTRY_COMPARE_WITH_TIMEOUT(desktop::windows("Cuevox").size(), 1, 5000);
        QTest::qWait(7000);
        QCOMPARE(desktop::windows("Cuevox"), windows);
        m_program.closeAndExpectExitZero(windows.first());
        killService();

        const auto samples = recorder.stop();
        const auto beeps = desktop::beepOnsets(samples);
        const auto speech = desktop::speechOnsets(samples);
        qInfo() << "beeps at" << beeps << "speech at" << speech;
        QCOMPARE(speech.size(), 4);
        // The cue that met the dead service goes out late; the rest on time.
        for (int cue : {0, 2, 3})
            QVERIFY2(lateness(beeps, speech[cue]) <= 400, qPrintable(QString("cue %1 late").arg(cue + 1)));
    }

    void missingScriptShowsOneErrorBoxThenTheWindow()
    {
        QVERIFY(m_program.install("short.wmv", QByteArray()));
        QVERIFY(m_program.start());
        const QStringList boxes = desktop::waitForWindows("Cuevox", 1);
        QCOMPARE(boxes.size(), 1);
        const QRect box = desktop::geometry(boxes.first());
        keepScreenshot("missing-script");
        desktop::run("xdotool", {"windowfocus", "--sync", boxes.first()});
        desktop::run("xdotool", {"key", "Return"});

        QElapsedTimer timer;
        timer.start();
        QStringList windows;
        while (timer.elapsed() < 15000) {
            windows = desktop::windows("Cuevox");
            if (windows.size() == 1 && windows.first() != boxes.first())
                break;
            QThread::msleep(50);
        }
        QCOMPARE(windows.size(), 1);
        QVERIFY(windows.first() != boxes.first());
        const QRect main = desktop::geometry(windows.first());
        QVERIFY(main.width() > box.width());
        // No second box follows.
        QTest::qWait(1000);
        QCOMPARE(desktop::windows("Cuevox"), windows);
        keepScreenshot("missing-script-window");
        m_program.closeAndExpectExitZero(windows.first());
    }
};

QTEST_GUILESS_MAIN(TestEndToEnd)
#include "tst_e2e.moc"
