#pragma once

// Drives the real executable on the test desktop (Xvfb with a window manager,
// PulseAudio's null sink) the way a user would: xdotool for mouse and keys,
// wmctrl to close a window, parec to record what the speakers would play.

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QStringList>
#include <QTemporaryFile>
#include <QTest>
#include <QThread>
#include <QVector>
#include <cmath>
#include <optional>

namespace desktop {

inline QString run(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.start(program, arguments);
    process.waitForFinished(10000);
    return QString::fromLocal8Bit(process.readAllStandardOutput()).trimmed();
}

// Why the desktop cannot be used, or an empty text when it can.
inline QString unavailable()
{
    if (qEnvironmentVariableIsEmpty("DISPLAY"))
        return QStringLiteral("needs an X display (tools/services.sh starts Xvfb)");
    if (run("wmctrl", {"-m"}).isEmpty())
        return QStringLiteral("needs a window manager and wmctrl");
    if (run("pactl", {"list", "short", "sinks"}).indexOf("nullsink") < 0)
        return QStringLiteral("needs PulseAudio with the null sink \"nullsink\"");
    return {};
}

// The windows whose title is exactly `title`, oldest first.
inline QStringList windows(const QString &title)
{
    const QString out = run("xdotool", {"search", "--onlyvisible", "--name", "^" + title + "$"});
    return out.isEmpty() ? QStringList() : out.split('\n');
}

// Where the window's inside lies on the screen. (xdotool's own geometry
// counts the window manager's frame twice, so ask xwininfo.)
inline QRect geometry(const QString &window)
{
    QRect rect;
    for (const QString &line : run("xwininfo", {"-id", window}).split('\n')) {
        const QString value = line.section(':', 1).trimmed();
        if (line.contains("Absolute upper-left X:"))
            rect.moveLeft(value.toInt());
        else if (line.contains("Absolute upper-left Y:"))
            rect.moveTop(value.toInt());
        else if (line.trimmed().startsWith("Width:"))
            rect.setWidth(value.toInt());
        else if (line.trimmed().startsWith("Height:"))
            rect.setHeight(value.toInt());
    }
    return rect;
}

// Waits until `count` visible windows carry the title; returns them.
inline QStringList waitForWindows(const QString &title, int count, int timeoutMs = 20000)
{
    QElapsedTimer timer;
    timer.start();
    QStringList found;
    while (timer.elapsed() < timeoutMs) {
        found = windows(title);
        if (found.size() >= count)
            return found;
        QThread::msleep(50);
    }
    return found;
}

// Clicks at a point given in the window's design pixels (522 wide), scaled as
// the window is.
inline void click(const QString &window, QPoint design)
{
    const QRect rect = geometry(window);
    const double scale = rect.width() / 522.0;
    const QPoint at = rect.topLeft() + QPoint(int(design.x() * scale), int(design.y() * scale));
    // Not --sync: it waits for a motion event, and there is none when the
    // pointer already stands there.
    run("xdotool", {"mousemove", QString::number(at.x()), QString::number(at.y()), "click", "1"});
}

// Centres of the transport buttons in design pixels.
const QPoint PlayButton(240 + 14, 392 + 15);
const QPoint PauseButton(240 + 28 + 14, 392 + 15);

inline void close(const QString &window)
{
    run("wmctrl", {"-i", "-c", window});
}

inline bool screenshot(const QString &fileName)
{
    return QProcess::execute("import", {"-window", "root", fileName}) == 0;
}

// What the video panel shows on the screen now: its inside, in the window's
// design pixels (8, 8, 481, 377) less its one-pixel border, scaled as the
// window is.
inline QImage panelPicture(const QString &window)
{
    const QRect rect = geometry(window);
    const double scale = rect.width() / 522.0;
    const QRect panel(rect.left() + int(9 * scale), rect.top() + int(9 * scale), int(479 * scale),
                      int(375 * scale));
    QTemporaryFile file(QDir::tempPath() + "/cuevox-panel-XXXXXX.png");
    if (!file.open())
        return {};
    QProcess::execute("import", {"-window", "root", "-crop",
                                 QString("%1x%2+%3+%4").arg(panel.width()).arg(panel.height())
                                     .arg(panel.left()).arg(panel.top()),
                                 file.fileName()});
    return QImage(file.fileName());
}

// Whether the panel's picture changes within timeoutMs: the video plays and
// the window paints it.
inline bool pictureMoves(const QString &window, int timeoutMs = 5000)
{
    const QImage first = panelPicture(window);
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < timeoutMs) {
        QTest::qWait(200);
        const QImage now = panelPicture(window);
        if (!first.isNull() && !now.isNull() && now != first)
            return true;
    }
    return false;
}

// Records the null sink's monitor as 16 kHz mono 16-bit samples.
class Recorder
{
public:
    static constexpr int Rate = 16000;

    explicit Recorder(const QString &fileName) : m_fileName(fileName)
    {
        m_process.start("parec", {"-d", "nullsink.monitor", "--format=s16le", "--rate=16000", "--channels=1",
                                   "--latency-msec=10", "--raw", fileName});
        m_process.waitForStarted();
        m_clock.start();
    }
    ~Recorder() { stop(); }

    // Milliseconds since recording began, on the recorder's own clock.
    qint64 elapsed() const { return m_clock.elapsed(); }

    QVector<qint16> stop()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.terminate();
            m_process.waitForFinished(5000);
        }
        return samples();
    }

    // What has been recorded so far; the recorder goes on.
    QVector<qint16> samples() const
    {
        QFile file(m_fileName);
        QVector<qint16> samples;
        if (file.open(QIODevice::ReadOnly)) {
            const QByteArray data = file.readAll();
            samples.resize(data.size() / 2);
            memcpy(samples.data(), data.constData(), size_t(samples.size()) * 2);
        }
        return samples;
    }

private:
    QString m_fileName;
    QProcess m_process;
    QElapsedTimer m_clock;
};

// Loudness of each 10 ms of a recording, as RMS in 16-bit units, and how much
// of it lies at `toneHz` (0..1, by the Goertzel algorithm).
struct Window
{
    double rms = 0;
    double toneShare = 0;
};

inline QVector<Window> analyse(const QVector<qint16> &samples, double toneHz)
{
    const int size = Recorder::Rate / 100;
    const double coefficient = 2 * std::cos(2 * M_PI * toneHz / Recorder::Rate);
    QVector<Window> windows;
    for (int start = 0; start + size <= samples.size(); start += size) {
        double energy = 0, s1 = 0, s2 = 0;
        for (int i = start; i < start + size; ++i) {
            const double x = samples[i];
            energy += x * x;
            const double s0 = x + coefficient * s1 - s2;
            s2 = s1;
            s1 = s0;
        }
        const double tone = s1 * s1 + s2 * s2 - coefficient * s1 * s2;
        Window window;
        window.rms = std::sqrt(energy / size);
        window.toneShare = energy > 0 ? std::min(1.0, 2 * tone / (size * energy)) : 0;
        windows << window;
    }
    return windows;
}

// Start times (ms) of the stretches where `inside` holds, a stretch ending
// after gapMs without it; stretches shorter than minLengthMs in all are noise.
template<typename Predicate>
QVector<int> onsets(const QVector<Window> &windows, Predicate inside, int minLengthMs = 30, int gapMs = 300)
{
    struct Stretch
    {
        int start;
        int length;
        int last;
    };
    QVector<Stretch> stretches;
    for (int i = 0; i < windows.size(); ++i) {
        if (!inside(windows[i]))
            continue;
        const int ms = i * 10;
        if (stretches.isEmpty() || ms - stretches.last().last > gapMs)
            stretches.append({ms, 0, ms});
        stretches.last().length += 10;
        stretches.last().last = ms;
    }
    QVector<int> result;
    for (const Stretch &stretch : stretches)
        if (stretch.length >= minLengthMs)
            result << stretch.start;
    return result;
}

// Where speech begins on a recording: loud stretches that are not the
// video's 3 kHz beeps.
inline QVector<int> speechOnsets(const QVector<qint16> &samples)
{
    return onsets(analyse(samples, 3000), [](const Window &w) {
        return w.rms > 300 && w.toneShare < 0.3;
    }, 50, 350);
}

// Where the beeps of beeps.wmv begin on a recording.
inline QVector<int> beepOnsets(const QVector<qint16> &samples)
{
    return onsets(analyse(samples, 3000), [](const Window &w) {
        return w.rms > 300 && w.toneShare > 0.6;
    }, 20);
}

} // namespace desktop
