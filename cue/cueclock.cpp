#include "cue/cueclock.h"

#include "cue/cueline.h"
#include "cue/cuelist.h"

#include <QLabel>

namespace {

QString MinutesSeconds(qint64 minutes, qint64 seconds)
{
    return QString::number(minutes) + u'.' + QString::number(seconds);
}

} // namespace

bool TickCueClock(TListBox &cues, std::chrono::milliseconds position, CueSpeaker &voice,
                  QLabel &currentLabel, QLabel &cueLabel, std::chrono::milliseconds *untilDue)
{
    if (cues.count() == 0)
        return false;

    // Whole seconds in 64 bits: a long film must not wrap round.
    const qint64 current = std::chrono::duration_cast<std::chrono::seconds>(position).count();
    CueTime cue;
    try {
        cue = ReadCueTime(cues.head());
    } catch (...) {
        // Dropped before reporting, so a bad line is reported once and the
        // lines after it still go out.
        cues.removeHead();
        throw;
    }
    currentLabel.setText(MinutesSeconds(current / 60, current % 60));
    cueLabel.setText(MinutesSeconds(cue.minutes, cue.seconds));

    // Compared as totals, so a late cue goes out at once and 0:75 means 1:15.
    const qint64 due = qint64(cue.minutes) * 60 + cue.seconds;
    if (due > current) {
        if (untilDue)
            *untilDue = std::chrono::seconds(due) - position;
        if (due - current <= CuePrepareLead.count())
            voice.prepare();
        return false;
    }
    if (!voice.speak(QString::fromLocal8Bit(CueText(cues.head())), SVSFlagsAsync))
        return false;
    cues.removeHead();
    return true;
}
