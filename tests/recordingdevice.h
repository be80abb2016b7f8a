#pragma once

#include "app/error.h"
#include "app/mediadevice.h"

#include <QFile>
#include <QList>

// A media device that plays nothing and records what it was asked; it opens
// any file that exists.
class RecordingDevice : public TMediaDevice
{
public:
    QList<int> volumes;
    Mode currentMode = Mode::NotOpen;
    std::chrono::milliseconds currentPosition{0};

    void open(const QString &fileName) override
    {
        if (!QFile::exists(fileName))
            throw Error(QStringLiteral("Resource not found."));
        currentMode = Mode::Stopped;
    }
    void close() override { currentMode = Mode::NotOpen; }
    Mode mode() const override { return currentMode; }
    quint16 deviceId() const override { return currentMode == Mode::NotOpen ? 0 : 1; }
    void setDestination(const QRect &) override {}
    std::chrono::milliseconds position() const override { return currentPosition; }
    std::chrono::milliseconds length() const override { return std::chrono::milliseconds(60000); }
    void play() override { requireOpen(); currentMode = Mode::Playing; }
    void pause() override
    {
        requireOpen();
        if (currentMode == Mode::Playing)
            currentMode = Mode::Paused;
    }
    void resume() override { requireOpen(); currentMode = Mode::Playing; }
    void seek(std::chrono::milliseconds position) override { requireOpen(); currentPosition = position; }
    void setVolume(int volume) override { volumes << volume; }

private:
    void requireOpen() const
    {
        if (currentMode == Mode::NotOpen)
            throw Error(QStringLiteral("No MCI device open"));
    }
};
