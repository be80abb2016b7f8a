// How long the GUI thread is held up while the first cue is due: the window
// plays the given movie with a one-cue script ("[00:00.01]") and a 1 ms
// precise timer on the GUI thread notes the gap between its firings. Whether
// the speech service runs already (warm) or the program has to start it
// (cold) is up to the caller (bench/run.sh). Prints one line of figures:
//
//   maxgap MS at MS p99 MS ticks N connect MS spoken MS play MS late MS
//
// "at", "connect" and "spoken" are milliseconds after Play was pressed (the
// voice's connection finished, the cue handed to the voice); -1 when it did
// not happen. The gaps are timed from the moment the press returned; "play"
// is how long the press itself held the thread (starting the pipeline);
// "late" how far past the cue's time (1 s) the movie was when the cue was
// seen handed over (within 1 ms), or -1. With "none" as the script mode the script is empty: the gaps
// that playing alone causes.
//
//   bench_stall MOVIE [cue|none] [SECONDS]

#include "app/form1.h"
#include "cue/cuelist.h"
#include "speech/spvoice.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <vector>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    const QStringList args = QApplication::arguments();
    if (args.size() < 2) {
        std::fprintf(stderr, "usage: bench_stall MOVIE [cue|none] [SECONDS]\n");
        return 2;
    }
    const bool withCue = args.size() < 3 || args.at(2) != QLatin1String("none");
    const int seconds = args.size() > 3 ? args.at(3).toInt() : 4;

    QTemporaryDir dir;
    if (!dir.isValid() || !QFile::copy(args.at(1), dir.filePath("movie.wmv"))) {
        std::fprintf(stderr, "bench_stall: cannot copy %s\n", qPrintable(args.at(1)));
        return 2;
    }
    QFile dub(dir.filePath("dub.txt"));
    if (!dub.open(QIODevice::WriteOnly))
        return 2;
    if (withCue)
        dub.write("[00:00.01]one\n");
    dub.close();

    TForm1 form(dir.path());
    Form1 = &form;
    form.show();
    // Lets the window map and paint before anything is timed.
    {
        QEventLoop settle;
        QTimer::singleShot(700, &settle, &QEventLoop::quit);
        settle.exec();
    }

    QElapsedTimer clock;
    std::vector<qint64> ticks; // ns after Play
    ticks.reserve(size_t(seconds) * 1100);
    qint64 connectAt = -1;
    qint64 spokenAt = -1;
    qint64 spokenPosition = -1; // ms of the movie when the cue was seen handed over
    QObject::connect(form.SpVoice1, &TSpVoice::connectFinished, [&] {
        if (connectAt < 0)
            connectAt = clock.nsecsElapsed();
    });

    QTimer timer;
    timer.setTimerType(Qt::PreciseTimer);
    timer.setInterval(1);
    QObject::connect(&timer, &QTimer::timeout, [&] {
        ticks.push_back(clock.nsecsElapsed());
        if (spokenAt < 0 && withCue && form.ListBox1->count() == 0) {
            spokenAt = ticks.back();
            spokenPosition = form.MediaPlayer1->position().count();
        }
    });

    QEventLoop loop;
    QTimer::singleShot(seconds * 1000, &loop, &QEventLoop::quit);
    clock.start();
    form.MediaPlayer1->press(btPlay);
    const qint64 pressNs = clock.nsecsElapsed();
    timer.start();
    loop.exec();
    timer.stop();

    std::vector<double> gaps; // ms
    double maxGap = 0;
    qint64 maxAt = -1;
    // From the moment Play returned; the press itself is reported apart.
    qint64 previous = pressNs;
    for (qint64 tick : ticks) {
        const double gap = double(tick - previous) / 1e6;
        gaps.push_back(gap);
        if (gap > maxGap) {
            maxGap = gap;
            maxAt = previous / 1000000;
        }
        previous = tick;
    }
    double p99 = 0;
    if (!gaps.empty()) {
        std::sort(gaps.begin(), gaps.end());
        p99 = gaps[std::min(gaps.size() - 1, size_t(double(gaps.size()) * 0.99))];
    }
    auto ms = [](qint64 ns) { return ns < 0 ? qint64(-1) : ns / 1000000; };
    std::printf("maxgap %.1f at %lld p99 %.2f ticks %zu connect %lld spoken %lld play %.1f late %lld\n",
                maxGap, static_cast<long long>(maxAt), p99, ticks.size(), static_cast<long long>(ms(connectAt)),
                static_cast<long long>(ms(spokenAt)), double(pressNs) / 1e6,
                static_cast<long long>(spokenPosition < 0 ? -1 : spokenPosition - 1000));
    Form1 = nullptr;
    return 0;
}
