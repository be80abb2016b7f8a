// The GStreamer media device playing the generated test videos for real.
// Sound goes to PulseAudio when it runs, otherwise to the silent fallback;
// both must pass.

#include "app/error.h"
#include "app/gstmediadevice.h"

#include <QApplication>
#include <QFile>
#include <QRandomGenerator>
#include <QSet>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <functional>

using namespace std::chrono_literals;
using Mode = TMediaDevice::Mode;

namespace {

QString Fixture(const char *name)
{
    return QStringLiteral(CUEVOX_FIXTURES "/") + QLatin1String(name);
}

// Keeps what the device delivered: every frame's size, and a few pictures.
class FrameLog : public QObject
{
public:
    explicit FrameLog(TMediaDevice &device)
    {
        connect(&device, &TMediaDevice::frameReady, this, [this](const QImage &frame) {
            if (sizes.size() == mark)
                firstSinceMark = frame;
            sizes.append(frame.size());
            last = frame;
        });
    }
    // Starts watching for the frames from now on.
    void setMark() { mark = sizes.size(); }
    QList<QSize> sinceMark() const { return sizes.mid(mark); }

    QList<QSize> sizes;
    QImage firstSinceMark;
    QImage last;

private:
    qsizetype mark = 0;
};

int DistinctColours(const QImage &image)
{
    QSet<QRgb> colours;
    for (int y = 0; y < image.height(); y += 8)
        for (int x = 0; x < image.width(); x += 8)
            colours.insert(image.pixel(x, y));
    return colours.size();
}

QString OpenError(TMediaDevice &device, const QString &fileName)
{
    try {
        device.open(fileName);
    } catch (const Error &error) {
        return error.message();
    }
    return {};
}

} // namespace

class TstMediaDevice : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void playsToTheEndAndAgain();
    void pauseHoldsThePosition();
    void destinationChangesTheFrameSize_data();
    void destinationChangesTheFrameSize();
    void openFailureLeavesTheDeviceClosed_data();
    void openFailureLeavesTheDeviceClosed();
    void commandsNeedAnOpenDevice_data();
    void commandsNeedAnOpenDevice();
    void volumeIsCubic_data();
    void volumeIsCubic();
    void volumeRisesSteadily();
    void playsOnWhenTheSoundServerStalls();

private:
    QTemporaryDir m_dir;
};

void TstMediaDevice::initTestCase()
{
    QVERIFY2(m_dir.isValid(), qPrintable(m_dir.errorString()));
    QVERIFY2(QFile::exists(Fixture("short.wmv")), "the test videos are made by the fixtures target");
    TGstMediaDevice device;
    const QString error = OpenError(device, Fixture("short.wmv"));
    if (error.contains(QLatin1String("missing a plug-in")))
        QSKIP(qPrintable(QStringLiteral("GStreamer cannot decode WMV here: ") + error));
    QVERIFY2(error.isEmpty(), qPrintable(error));
}

void TstMediaDevice::playsToTheEndAndAgain()
{
    TGstMediaDevice device;
    FrameLog frames(device);
    QSignalSpy ended(&device, &TMediaDevice::endOfMedia);
    QSignalSpy failed(&device, &TMediaDevice::failed);

    device.open(Fixture("short.wmv"));
    QCOMPARE(device.mode(), Mode::Stopped);
    QVERIFY(device.deviceId() != 0);
    QCOMPARE(device.position(), 0ms);
    QVERIFY2(device.length() > 2900ms && device.length() < 3100ms, qPrintable(QString::number(device.length().count())));
    QTRY_VERIFY(!frames.sizes.isEmpty());
    QCOMPARE(frames.sizes.first(), QSize(320, 240));

    frames.setMark();
    device.setDestination(QRect(1, 1, 480, 376));
    device.play();
    QCOMPARE(device.mode(), Mode::Playing);
    QTRY_VERIFY_WITH_TIMEOUT(device.position() > 1000ms, 10000);
    QTRY_COMPARE_WITH_TIMEOUT(ended.size(), 1, 20000);
    QCOMPARE(device.mode(), Mode::Stopped);

    const QList<QSize> sizes = frames.sinceMark();
    QVERIFY2(sizes.size() >= 10, qPrintable(QString::number(sizes.size())));
    QVERIFY(std::all_of(sizes.begin(), sizes.end(), [](QSize size) { return size == QSize(480, 376); }));
    QVERIFY(DistinctColours(frames.last) > 4);
    QVERIFY(frames.firstSinceMark != frames.last);

    const auto end = device.position();
    QVERIFY2(end >= device.length() - 100ms, qPrintable(QString::number(end.count())));

    device.play();
    QVERIFY(device.position() < end);
    QCOMPARE(device.mode(), Mode::Playing);
    QTRY_VERIFY_WITH_TIMEOUT(device.position() > 1000ms, 10000);
    QTRY_COMPARE_WITH_TIMEOUT(ended.size(), 2, 20000);
    QVERIFY2(failed.isEmpty(), failed.isEmpty() ? "" : qPrintable(failed.first().first().toString()));

    device.close();
    QCOMPARE(device.mode(), Mode::NotOpen);
    QCOMPARE(device.deviceId(), quint16(0));
    QCOMPARE(device.position(), 0ms);
}

void TstMediaDevice::pauseHoldsThePosition()
{
    TGstMediaDevice device;
    device.open(Fixture("silent.wmv"));
    device.pause();
    QCOMPARE(device.mode(), Mode::Stopped);

    device.play();
    QTRY_VERIFY_WITH_TIMEOUT(device.position() > 500ms, 10000);
    device.pause();
    QCOMPARE(device.mode(), Mode::Paused);
    const auto held = device.position();
    QTest::qWait(300);
    QCOMPARE(device.position(), held);

    device.resume();
    QCOMPARE(device.mode(), Mode::Playing);
    QTRY_VERIFY_WITH_TIMEOUT(device.position() > held, 10000);

    device.seek(6000ms);
    QVERIFY(device.position() >= 6000ms);
}

void TstMediaDevice::destinationChangesTheFrameSize_data()
{
    QTest::addColumn<Mode>("mode");
    QTest::newRow("stopped") << Mode::Stopped;
    QTest::newRow("playing") << Mode::Playing;
    QTest::newRow("paused") << Mode::Paused;
}

void TstMediaDevice::destinationChangesTheFrameSize()
{
    QFETCH(Mode, mode);
    TGstMediaDevice device;
    FrameLog frames(device);
    device.setDestination(QRect(0, 0, 160, 120));
    device.open(Fixture("silent.wmv"));
    QTRY_VERIFY(!frames.sizes.isEmpty());
    if (mode != Mode::Stopped) {
        device.play();
        QTRY_VERIFY_WITH_TIMEOUT(device.position() > 300ms, 10000);
    }
    if (mode == Mode::Paused)
        device.pause();
    QCOMPARE(device.mode(), mode);

    frames.setMark();
    device.setDestination(QRect(10, 10, 240, 180));
    QTRY_VERIFY_WITH_TIMEOUT(frames.sinceMark().size() >= (mode == Mode::Playing ? 5 : 1), 10000);
    const QList<QSize> sizes = frames.sinceMark();
    QVERIFY(std::all_of(sizes.begin(), sizes.end(), [](QSize size) { return size == QSize(240, 180); }));
    QVERIFY(DistinctColours(frames.last) > 4);
    QCOMPARE(device.mode(), mode);
}

void TstMediaDevice::openFailureLeavesTheDeviceClosed_data()
{
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<QByteArray>("content"); // written first unless null
    QTest::addColumn<QString>("expected");   // empty: any readable text

    QByteArray noise(64 * 1024, Qt::Uninitialized);
    QRandomGenerator random(20240611);
    random.fillRange(reinterpret_cast<quint32 *>(noise.data()), noise.size() / sizeof(quint32));

    QTest::newRow("missing file") << m_dir.filePath("absent.wmv") << QByteArray() << "Resource not found.";
    QTest::newRow("text file") << Fixture("notmedia.wmv") << QByteArray() << "Could not determine type of stream.";
    QTest::newRow("empty file") << m_dir.filePath("empty.wmv") << QByteArray("") << QString();
    QTest::newRow("random bytes") << m_dir.filePath("random.wmv") << noise << QString();
}

void TstMediaDevice::openFailureLeavesTheDeviceClosed()
{
    QFETCH(QString, fileName);
    QFETCH(QByteArray, content);
    QFETCH(QString, expected);
    if (!content.isNull()) {
        QFile file(fileName);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QCOMPARE(file.write(content), content.size());
    }

    TGstMediaDevice device;
    device.open(Fixture("short.wmv"));
    const QString message = OpenError(device, fileName);
    QVERIFY2(!message.trimmed().isEmpty(), "open() should have thrown with a message");
    if (!expected.isEmpty())
        QCOMPARE(message, expected);
    QCOMPARE(device.mode(), Mode::NotOpen);
    QCOMPARE(device.deviceId(), quint16(0));
    QCOMPARE(device.position(), 0ms);
}

void TstMediaDevice::commandsNeedAnOpenDevice_data()
{
    QTest::addColumn<std::function<void(TMediaDevice &)>>("command");
    QTest::newRow("play") << std::function<void(TMediaDevice &)>([](TMediaDevice &d) { d.play(); });
    QTest::newRow("pause") << std::function<void(TMediaDevice &)>([](TMediaDevice &d) { d.pause(); });
    QTest::newRow("resume") << std::function<void(TMediaDevice &)>([](TMediaDevice &d) { d.resume(); });
    QTest::newRow("seek") << std::function<void(TMediaDevice &)>([](TMediaDevice &d) { d.seek(1000ms); });
}

void TstMediaDevice::commandsNeedAnOpenDevice()
{
    QFETCH(std::function<void(TMediaDevice &)>, command);
    TGstMediaDevice device;
    QString message;
    try {
        command(device);
    } catch (const Error &error) {
        message = error.message();
    }
    QCOMPARE(message, QStringLiteral("No MCI device open"));
    QCOMPARE(device.mode(), Mode::NotOpen);
}

void TstMediaDevice::volumeIsCubic_data()
{
    QTest::addColumn<int>("volume");
    QTest::addColumn<bool>("beforeOpen");
    QTest::addColumn<double>("gain");
    QTest::newRow("silent") << 0 << false << 0.0;
    QTest::newRow("quarter") << 250 << false << 0.015625;
    QTest::newRow("half") << 500 << false << 0.125;
    QTest::newRow("full") << 1000 << false << 1.0;
    QTest::newRow("below range") << -20 << false << 0.0;
    QTest::newRow("above range") << 5000 << false << 1.0;
    QTest::newRow("half, set before open") << 500 << true << 0.125;
    QTest::newRow("silent, set before open") << 0 << true << 0.0;
}

void TstMediaDevice::volumeIsCubic()
{
    QFETCH(int, volume);
    QFETCH(bool, beforeOpen);
    QFETCH(double, gain);
    TGstMediaDevice device;
    if (beforeOpen)
        device.setVolume(volume);
    device.open(Fixture("short.wmv"));
    if (!beforeOpen)
        device.setVolume(volume);
    QCOMPARE(device.linearVolume(), gain);
}

void TstMediaDevice::volumeRisesSteadily()
{
    TGstMediaDevice device;
    device.open(Fixture("short.wmv"));
    double previous = -1;
    for (int volume = 0; volume <= 1000; volume += 25) {
        device.setVolume(volume);
        QVERIFY2(device.linearVolume() > previous, qPrintable(QString::number(volume)));
        previous = device.linearVolume();
    }
}

// The sound server stops taking data (here: it is stopped with SIGSTOP); the
// picture must go on all the same.
void TstMediaDevice::playsOnWhenTheSoundServerStalls()
{
    QFile pidFile(qEnvironmentVariable("XDG_RUNTIME_DIR") + QStringLiteral("/pulse/pid"));
    if (!pidFile.open(QIODevice::ReadOnly))
        QSKIP("needs a PulseAudio server of the test's own (tools/services.sh starts one)");
    const QString pid = QString::fromLatin1(pidFile.readAll().trimmed());
    TGstMediaDevice device;
    device.open(Fixture("tone.wmv"));
    device.play();
    QTRY_VERIFY(device.position() > std::chrono::milliseconds(500));
    QCOMPARE(QProcess::execute("kill", {"-STOP", pid}), 0);
    const auto stalledAt = device.position();
    const bool goesOn = QTest::qWaitFor([&] { return device.position() > stalledAt + std::chrono::seconds(2); }, 8000);
    QProcess::execute("kill", {"-CONT", pid});
    QVERIFY(goesOn);
    QCOMPARE(device.mode(), Mode::Playing);
}

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    TstMediaDevice test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_mediadevice.moc"
