#pragma once

#include "app/mediadevice.h"

#include <memory>

// The media device over a GStreamer playbin. Frames come out of an appsink,
// scaled in the pipeline; end of stream and errors come from the bus and are
// handed to the GUI thread.
class TGstMediaDevice : public TMediaDevice
{
    Q_OBJECT
public:
    TGstMediaDevice();
    ~TGstMediaDevice() override;

    void open(const QString &fileName) override;
    void close() override;
    Mode mode() const override;
    quint16 deviceId() const override;
    void setDestination(const QRect &rect) override;
    std::chrono::milliseconds position() const override;
    std::chrono::milliseconds length() const override;
    void play() override;
    void pause() override;
    void resume() override;
    void seek(std::chrono::milliseconds position) override;
    void setVolume(int volume) override;

    // The gain the pipeline applies to the sound, 0.0 (silent) to 1.0 (the
    // file's level) on a linear scale: what setVolume() turned into.
    double linearVolume() const;

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};
