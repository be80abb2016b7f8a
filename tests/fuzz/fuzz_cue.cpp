// Feeds arbitrary bytes to the cue reading: the line splitting, the cue list,
// the time head of every line and the spoken text. An Error from a bad time is
// the expected answer; anything else (a crash, a sanitizer report, another
// exception escaping, a wrong line) is a finding.

#include "app/error.h"
#include "cue/cuefile.h"
#include "cue/cueline.h"
#include "cue/cuelist.h"

#include <QApplication>
#include <QByteArray>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

namespace {

void Check(bool ok, const char *what)
{
    if (!ok) {
        std::fprintf(stderr, "fuzz_cue: %s\n", what);
        std::abort();
    }
}

// The lines as a plain reading of the rules in cuefile.h, to compare with.
std::vector<QByteArrayView> ReferenceLines(QByteArrayView text)
{
    std::vector<QByteArrayView> lines;
    qsizetype begin = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] != '\r' && text[i] != '\n')
            continue;
        lines.push_back(text.sliced(begin, i - begin));
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
            ++i;
        begin = i + 1;
    }
    if (begin < text.size())
        lines.push_back(text.sliced(begin));
    return lines;
}

void CheckLine(QByteArrayView line)
{
    const QByteArrayView text = CueText(line);
    const qsizetype tail = line.size() > 10 ? line.size() - 10 : 0;
    Check(text.size() == tail || (tail > CueTextSpokenLimit && text.size() <= CueTextSpokenLimit
                                  && text.size() >= CueTextSpokenLimit / 2),
          "cue text length");
    Check(text.isEmpty() || text.data() == line.data() + 10, "cue text not the line's tail");

    CueTime time;
    try {
        time = ReadCueTime(line);
    } catch (const Error &) {
        return;
    }
    // A number read from a time field reads the same once written out.
    Check(StrToInt(QByteArray::number(time.minutes)) == time.minutes, "minutes do not read back");
    Check(StrToInt(QByteArray::number(time.seconds)) == time.seconds, "seconds do not read back");
}

TListBox *List()
{
    static int argc = 1;
    static char name[] = "fuzz_cue";
    static char *argv[] = {name, nullptr};
    static QApplication app(argc, argv);
    static TListBox list;
    return &list;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    // TListBox is a widget: it needs an application, but no display.
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    List();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArrayView input(reinterpret_cast<const char *>(data), qsizetype(size));

    // The splitter over every byte, NUL included: spans in order, in range,
    // and the same lines as the plain reading.
    const std::vector<CueSpan> spans = SplitCueLines(input);
    const std::vector<QByteArrayView> expected = ReferenceLines(input);
    Check(spans.size() == expected.size(), "line count");
    // The lines are counted before they are stored, into exactly that room.
    Check(spans.capacity() == spans.size(), "lines counted wrongly");
    for (std::size_t i = 0; i < spans.size(); ++i) {
        const CueSpan &span = spans[i];
        Check(qsizetype(span.begin) + qsizetype(span.length) <= input.size(), "span out of range");
        Check(input.sliced(span.begin, span.length) == expected[i], "line differs");
    }

    // The list stops at the first NUL and is filled in two parts, so adding
    // to lines already there is covered too.
    const qsizetype nul = input.indexOf('\0');
    const QByteArrayView kept = nul >= 0 ? input.first(nul) : input;
    const qsizetype cut = kept.isEmpty() ? 0 : qsizetype(data[0]) % (kept.size() + 1);
    const QByteArrayView first = kept.first(cut);
    const QByteArrayView second = kept.sliced(cut);
    std::vector<QByteArrayView> lines = ReferenceLines(first);
    for (QByteArrayView line : ReferenceLines(second))
        lines.push_back(line);

    TListBox &list = *List();
    list.clear();
    list.addText(first.toByteArray());
    list.addText(input.sliced(cut).toByteArray());
    Check(list.count() == qsizetype(lines.size()), "list count");
    for (const QByteArrayView expectedLine : lines) {
        const QByteArrayView line = list.head();
        Check(line == expectedLine, "list line differs");
        CheckLine(line);
        list.removeHead();
    }
    Check(list.count() == 0 && list.head().isEmpty(), "list not empty at the end");
    return 0;
}
