// Speed and memory of the cue list: loading a long dub.txt, and one tick of
// the cue clock with few and many cues pending. Prints figures only; the goals
// are printed beside them for the reader to compare.

#include "cue/cueclock.h"
#include "cue/cuelist.h"

#include <QApplication>
#include <QByteArray>
#include <QFile>
#include <QLabel>
#include <QTemporaryDir>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace {

using Clock = std::chrono::steady_clock;

constexpr int LoadRuns = 9;
constexpr qsizetype FileLines = 1'000'000;
constexpr int Ticks = 200'000;

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

double MsSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// A script as a real one looks: times rising over a 90-minute film, a few
// words each. The same seed gives the same text every run.
QByteArray Script(qsizetype lines, bool shortLines)
{
    static const char *const words[] = {"the", "door", "opens", "and", "she", "walks", "into",
                                        "a", "quiet", "room", "full", "of", "old", "letters",
                                        "he", "looks", "away", "slowly", "rain", "outside"};
    quint32 seed = 12345;
    QByteArray text;
    text.reserve(lines * (shortLines ? 13 : 48));
    char head[16];
    for (qsizetype i = 0; i < lines; ++i) {
        const qint64 second = 10 + i * 5400 / qMax<qsizetype>(lines, 1);
        std::snprintf(head, sizeof head, "[00:%02d.%02d]", int(second / 60), int(second % 60));
        text += head;
        if (shortLines) {
            text += "hi\n";
            continue;
        }
        seed = seed * 1664525u + 1013904223u;
        const int count = 3 + int(seed >> 28) % 6;
        for (int w = 0; w < count; ++w) {
            seed = seed * 1664525u + 1013904223u;
            if (w)
                text += ' ';
            text += words[(seed >> 24) % (sizeof words / sizeof *words)];
        }
        text += '\n';
    }
    return text;
}

// Runs a program to its end; its standard output goes to outputFd (or
// /dev/null when -1). Returns false when it cannot start or fails.
bool Run(const std::vector<std::string> &args, int outputFd = -1)
{
    std::vector<char *> argv;
    for (const std::string &arg : args)
        argv.push_back(const_cast<char *>(arg.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (outputFd >= 0)
        posix_spawn_file_actions_adddup2(&actions, outputFd, STDOUT_FILENO);
    else
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    const int error = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0)
        return false;
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// One line of /proc/self/status, in bytes.
qint64 StatusBytes(const char *field)
{
    QFile status("/proc/self/status");
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray key = QByteArray(field) + ':';
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith(key))
            return line.mid(key.size()).trimmed().split(' ').value(0).toLongLong() * 1024;
    }
    return -1;
}

struct LoadResult
{
    double ms = 0;
    qint64 peakIncrease = 0;
};

// In a fresh process: the time of one load and how far the peak resident
// memory rose over what the process held just before it.
int LoadChild(const char *path)
{
    TListBox list;
    // Writing 5 resets the peak to the current size, so the peak after the
    // load is the load's own.
    QFile clearRefs("/proc/self/clear_refs");
    if (!clearRefs.open(QIODevice::WriteOnly) || clearRefs.write("5") != 1)
        return 1;
    clearRefs.close();
    const qint64 before = StatusBytes("VmRSS");
    const Clock::time_point start = Clock::now();
    list.loadFromFile(QString::fromLocal8Bit(path));
    const double ms = MsSince(start);
    const qint64 peak = StatusBytes("VmHWM");
    std::printf("%.6f %lld %lld\n", ms, qint64(peak - before), qint64(list.count()));
    return 0;
}

LoadResult LoadInChild(const QString &path, qsizetype lines)
{
    FILE *output = std::tmpfile();
    LoadResult result;
    long long count = 0;
    if (!output
        || !Run({QCoreApplication::applicationFilePath().toStdString(), "--load-child",
                 path.toStdString()},
                fileno(output))) {
        std::fprintf(stderr, "bench_cue: load in a child process failed\n");
        std::exit(1);
    }
    std::rewind(output);
    long long peak = 0;
    if (std::fscanf(output, "%lf %lld %lld", &result.ms, &peak, &count) != 3 || count != lines) {
        std::fprintf(stderr, "bench_cue: unexpected answer from the load\n");
        std::exit(1);
    }
    std::fclose(output);
    result.peakIncrease = peak;
    return result;
}

double WcMs(const QString &path)
{
    const Clock::time_point start = Clock::now();
    if (!Run({"wc", "-l", path.toStdString()})) {
        std::fprintf(stderr, "bench_cue: wc -l failed\n");
        std::exit(1);
    }
    return MsSince(start);
}

void BenchLoad(const QTemporaryDir &dir, const char *name, bool shortLines)
{
    const QString path = dir.filePath(shortLines ? "short.txt" : "dub.txt");
    const QByteArray text = Script(FileLines, shortLines);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size()) {
        std::fprintf(stderr, "bench_cue: cannot write %s\n", qPrintable(path));
        std::exit(1);
    }
    file.close();

    // One untimed round first, so both read the file from the page cache.
    LoadInChild(path, FileLines);
    WcMs(path);
    std::vector<double> load, wc, memory;
    for (int run = 0; run < LoadRuns; ++run) {
        const LoadResult result = LoadInChild(path, FileLines);
        load.push_back(result.ms);
        memory.push_back(double(result.peakIncrease));
        wc.push_back(WcMs(path));
    }
    const double mib = 1024.0 * 1024.0;
    std::printf("%-34s %8.1f %9.1f %8.2fx %10.1f %9.1f %8.2fx\n", name, Median(load), Median(wc),
                Median(load) / Median(wc), text.size() / mib, Median(memory) / mib,
                Median(memory) / double(text.size()));
}

class SilentVoice : public CueSpeaker
{
public:
    void prepare() override {}
    std::optional<int> speak(const QString &, int) override { return 1; }
};

// Nanoseconds per tick, median over many ticks timed one by one.
double TickNs(qsizetype pending, bool due)
{
    const QByteArray text = Script(pending, false);
    TListBox list;
    QLabel current;
    QLabel cue;
    SilentVoice voice;
    list.addText(text);
    // The first cue is at 0:10: at 0 s and 1 s it is not due and not close
    // enough to prepare the voice; after 100 hours every cue is due. The
    // position alternates so the label text changes on every tick.
    const std::chrono::milliseconds positions[2] = {
        due ? std::chrono::hours(100) : std::chrono::milliseconds(0),
        due ? std::chrono::hours(101) : std::chrono::milliseconds(1000)};
    std::vector<double> ns;
    ns.reserve(Ticks);
    for (int i = 0; i < Ticks; ++i) {
        if (list.count() == 0)
            list.addText(text);
        const Clock::time_point start = Clock::now();
        const bool spoke = TickCueClock(list, positions[i % 2], voice, current, cue);
        ns.push_back(std::chrono::duration<double, std::nano>(Clock::now() - start).count());
        if (spoke != due) {
            std::fprintf(stderr, "bench_cue: tick did not do what was expected\n");
            std::exit(1);
        }
    }
    return Median(ns);
}

} // namespace

int main(int argc, char **argv)
{
    // The list and the labels are widgets; no display is needed.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (argc == 3 && std::strcmp(argv[1], "--load-child") == 0)
        return LoadChild(argv[2]);

    QTemporaryDir dir;
    if (!dir.isValid()) {
        std::fprintf(stderr, "bench_cue: no temporary directory\n");
        return 1;
    }

    std::printf("Loading %lld lines into TListBox (a fresh process per load; median of %d;\n"
                "memory: VmHWM after the load - VmRSS before it, peak reset via clear_refs)\n\n",
                qint64(FileLines), LoadRuns);
    std::printf("%-34s %8s %9s %9s %10s %9s %9s\n", "file", "load ms", "wc -l ms", "ratio",
                "file MiB", "peak MiB", "x file");
    BenchLoad(dir, "dub.txt, realistic lines", false);
    BenchLoad(dir, "short lines \"[00:01.26]hi\"", true);
    std::printf("goals: load <= 3x wc -l; peak memory <= 2x file size\n\n");

    std::printf("One TickCueClock (median of %d ticks, ns)\n\n", Ticks);
    std::printf("%-12s %14s %14s\n", "pending", "head not due", "head due");
    for (const qsizetype pending : {qsizetype(10), qsizetype(1000), qsizetype(1'000'000)})
        std::printf("%-12lld %14.0f %14.0f\n", qint64(pending), TickNs(pending, false),
                    TickNs(pending, true));
    std::printf("goal: <= 5000 ns, flat across sizes\n");
    return 0;
}
