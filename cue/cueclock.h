#pragma once

#include <QString>
#include <chrono>
#include <optional>

class TListBox;
class QLabel;

// What the cue clock needs of a voice.
class CueSpeaker
{
public:
    virtual ~CueSpeaker() = default;
    // Starts getting ready to speak (connecting to the speech service) without
    // waiting. Throws a new connection failure that has not been reported yet.
    virtual void prepare() = 0;
    // Hands text over without waiting for the speech to end and returns its
    // stream number, or nothing when the voice is not ready yet (the caller
    // keeps the text and tries again later). Throws a new failure.
    virtual std::optional<int> speak(const QString &text, int flags) = 0;
};

// Flags value asking for asynchronous speech.
constexpr int SVSFlagsAsync = 1;

// How long before a cue is due the voice starts getting ready.
constexpr std::chrono::seconds CuePrepareLead{2};

// One tick of the cue clock: compares the playback position with the head cue
// of the list and, when it is due, speaks its text and removes it. Shows the
// last comparison in the two labels ("1.5" is 1 min 5 s). A head whose time
// cannot be read is removed and its error thrown, so it is reported once.
// Returns true when a cue was handed to the voice. When the head is not due
// yet and untilDue is given, it receives how long until it is.
bool TickCueClock(TListBox &cues, std::chrono::milliseconds position, CueSpeaker &voice,
                  QLabel &currentLabel, QLabel &cueLabel, std::chrono::milliseconds *untilDue = nullptr);
