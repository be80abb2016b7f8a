#pragma once

#include <QImage>
#include <QObject>
#include <QRect>
#include <QString>
#include <chrono>
#include <memory>

// A media device: one open video file with play, pause, resume, seek,
// position and volume. The real one plays through GStreamer; tests may put a
// recording one in its place.
class TMediaDevice : public QObject
{
    Q_OBJECT
public:
    enum class Mode { NotOpen, Stopped, Playing, Paused };

    using QObject::QObject;

    // Opens the file with the decoder chosen from its content and waits until
    // it is ready to play. Throws Error with the media system's text.
    virtual void open(const QString &fileName) = 0;
    virtual void close() = 0;
    virtual Mode mode() const = 0;
    // 0 while nothing is open.
    virtual quint16 deviceId() const = 0;

    // Size of the picture; frames are scaled to it before they are delivered.
    virtual void setDestination(const QRect &rect) = 0;
    virtual std::chrono::milliseconds position() const = 0;
    virtual std::chrono::milliseconds length() const = 0;

    // Each throws Error("No MCI device open") while nothing is open.
    virtual void play() = 0;
    virtual void pause() = 0;
    virtual void resume() = 0;
    virtual void seek(std::chrono::milliseconds position) = 0;

    // 0 (silent) to 1000 (the file's full level). Failures are ignored.
    virtual void setVolume(int volume) = 0;

signals:
    // A new picture, already scaled to the destination; on the GUI thread.
    void frameReady(const QImage &frame);
    // Playback reached the end of the media; on the GUI thread.
    void endOfMedia();
    // An error while playing (not while opening); on the GUI thread.
    void failed(const QString &message);
};

// Opens GStreamer devices; this is what the program uses.
std::unique_ptr<TMediaDevice> CreateMediaDevice();
