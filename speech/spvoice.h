#pragma once

#include "cue/cueclock.h"

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <memory>
#include <optional>

// The voice: a connection to speech-dispatcher, made on first need off the GUI
// thread (starting the service can take most of a second) and kept for the
// run. Failures are thrown once while the same failure persists; connection
// attempts are at most one a second; a dropped connection is made again.
class TSpVoice : public QObject, public CueSpeaker
{
    Q_OBJECT
public:
    explicit TSpVoice(QObject *parent = nullptr);
    ~TSpVoice() override;

    bool connected() const;
    void prepare() override;
    std::optional<int> speak(const QString &text, int flags) override;

signals:
    // A connection attempt has finished, on the GUI thread.
    void connectFinished();

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};
