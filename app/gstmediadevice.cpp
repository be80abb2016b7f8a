#include "app/gstmediadevice.h"

#include "app/error.h"

#include <gst/app/gstappsink.h>
#include <gst/audio/streamvolume.h>
#include <gst/gst.h>
#include <gst/video/video.h>

#include <QFile>
#include <QFileInfo>
#include <QMetaObject>
#include <QSize>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <utility>

namespace {

using std::chrono::milliseconds;

// Owning wrappers for the GStreamer and GLib handles used here.

struct ObjectUnref { void operator()(gpointer object) const { gst_object_unref(object); } };
struct MessageUnref { void operator()(GstMessage *message) const { gst_message_unref(message); } };
struct SampleUnref { void operator()(GstSample *sample) const { gst_sample_unref(sample); } };
struct CapsUnref { void operator()(GstCaps *caps) const { gst_caps_unref(caps); } };
struct ErrorFree { void operator()(GError *error) const { g_error_free(error); } };
struct GFree { void operator()(gchar *text) const { g_free(text); } };

template <typename T>
using GstPtr = std::unique_ptr<T, ObjectUnref>;
using MessagePtr = std::unique_ptr<GstMessage, MessageUnref>;
using SamplePtr = std::unique_ptr<GstSample, SampleUnref>;
using CapsPtr = std::unique_ptr<GstCaps, CapsUnref>;
using ErrorPtr = std::unique_ptr<GError, ErrorFree>;
using TextPtr = std::unique_ptr<gchar, GFree>;

// Owns a newly made element, whose reference may be floating.
template <typename T>
GstPtr<T> Take(T *object)
{
    return GstPtr<T>(object ? static_cast<T *>(gst_object_ref_sink(object)) : nullptr);
}

// The one place where GStreamer time meets the program's time.

milliseconds ToMilliseconds(gint64 nanoseconds)
{
    return std::chrono::duration_cast<milliseconds>(std::chrono::nanoseconds(std::max<gint64>(nanoseconds, 0)));
}

gint64 ToNanoseconds(milliseconds time)
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(time).count();
}


constexpr GstClockTime OpenTimeout = 15 * GST_SECOND;
constexpr GstClockTime SeekTimeout = 5 * GST_SECOND;

QString ErrorText(GError *error)
{
    return error ? QString::fromUtf8(error->message) : QString();
}

// The readable text of an error message; the debug detail is left out on purpose.
QString ErrorText(GstMessage *message)
{
    GError *raw = nullptr;
    gst_message_parse_error(message, &raw, nullptr);
    ErrorPtr error(raw);
    return ErrorText(error.get());
}

// The sound goes to the desktop's default output. Without any output that
// opens, a clock-synced fakesink takes its place so the picture still plays
// at the right speed, silently.
GstPtr<GstElement> MakeAudioSink()
{
    GstPtr<GstElement> sink = Take(gst_element_factory_make("autoaudiosink", nullptr));
    if (sink) {
        const bool opens = gst_element_set_state(sink.get(), GST_STATE_READY) != GST_STATE_CHANGE_FAILURE;
        gst_element_set_state(sink.get(), GST_STATE_NULL);
        if (opens)
            return sink;
    }
    GstPtr<GstElement> silent = Take(gst_element_factory_make("fakesink", nullptr));
    if (silent)
        g_object_set(silent.get(), "sync", TRUE, nullptr);
    return silent;
}

// A mapped video frame that lives as long as the QImage showing it.
struct MappedFrame
{
    SamplePtr sample;
    GstVideoFrame frame{};
    bool mapped = false;

    ~MappedFrame()
    {
        if (mapped)
            gst_video_frame_unmap(&frame);
    }
};

void ReleaseFrame(void *info)
{
    delete static_cast<MappedFrame *>(info);
}

// Shows the sample's pixels without copying them.
QImage WrapFrame(SamplePtr sample)
{
    GstCaps *caps = gst_sample_get_caps(sample.get());
    GstBuffer *buffer = gst_sample_get_buffer(sample.get());
    GstVideoInfo info;
    if (!caps || !buffer || !gst_video_info_from_caps(&info, caps))
        return {};
    auto mapped = std::make_unique<MappedFrame>();
    mapped->sample = std::move(sample);
    mapped->mapped = gst_video_frame_map(&mapped->frame, &info, buffer, GST_MAP_READ);
    if (!mapped->mapped)
        return {};
    GstVideoFrame &frame = mapped->frame;
    QImage image(static_cast<const uchar *>(GST_VIDEO_FRAME_PLANE_DATA(&frame, 0)),
                 GST_VIDEO_FRAME_WIDTH(&frame), GST_VIDEO_FRAME_HEIGHT(&frame),
                 GST_VIDEO_FRAME_PLANE_STRIDE(&frame, 0), QImage::Format_RGB32, &ReleaseFrame, mapped.get());
    if (!image.isNull())
        mapped.release();
    return image;
}

quint16 NextDeviceId()
{
    static quint16 last = 0;
    last = last == 0xFFFF ? 1 : last + 1;
    return last;
}

} // namespace

struct TGstMediaDevice::Impl
{
    explicit Impl(TGstMediaDevice *owner) : q(owner), stallWatch(owner)
    {
        stallWatch.setInterval(500);
        QObject::connect(&stallWatch, &QTimer::timeout, owner, [this] { watchForStall(); });
    }

    TGstMediaDevice *const q;

    GstPtr<GstElement> pipeline;
    GstPtr<GstElement> sizeFilter;
    GstPtr<GstBus> bus;

    Mode mode = Mode::NotOpen;
    quint16 id = 0;
    bool atEnd = false;
    QSize destination; // invalid: the video's own size
    int volume = 1000;

    // The sound output's clock drives playback. A sound server that stops
    // taking data (PulseAudio's null sink does, now and then, at the start)
    // would hold the picture still for good; when the position stands still
    // while playing, playback moves to the system clock instead.
    QTimer stallWatch;
    gint64 lastPosition = -1;
    int stillChecks = 0;
    void watchForStall();

    // Counts opens, so that news from a pipeline already closed is ignored.
    std::atomic<quint64> session{0};

    // The newest frame not yet taken by the GUI thread; older ones are dropped.
    std::mutex frameMutex;
    SamplePtr pendingFrame;

    void requireOpen() const
    {
        if (!pipeline)
            throw Error(QStringLiteral("No MCI device open"));
    }

    GstPtr<GstElement> makeVideoSink();
    double wantedGain() const;
    void applyFrameSize();
    void applyVolume();
    void teardown();
    void seekTo(gint64 nanoseconds, bool wait);
    bool pastEnd() const;

    // Streaming threads.
    void offerFrame(GstSample *sample);
    void handleBusMessage(GstMessage *message);
    static GstFlowReturn onNewPreroll(GstAppSink *sink, gpointer self);
    static GstFlowReturn onNewSample(GstAppSink *sink, gpointer self);
    static GstBusSyncReply onBusMessage(GstBus *bus, GstMessage *message, gpointer self);

    // GUI thread.
    void deliverFrame();
    void onEndOfStream(quint64 from);
    void onError(quint64 from, const QString &message);
};

// Builds "scale ! convert ! size filter ! appsink"; the size filter is kept
// so the picture size can change later. Scaling before converting works on
// the decoder's smaller YUV frames: measured cheaper than the other order.
GstPtr<GstElement> TGstMediaDevice::Impl::makeVideoSink()
{
    GError *raw = nullptr;
    // The scaler stretches to the destination as the picture area demands,
    // rather than adding black borders.
    GstElement *bin = gst_parse_bin_from_description(
        "videoscale add-borders=false ! videoconvert "
        "! capsfilter name=size caps-change-mode=delayed "
        "! appsink name=frames sync=true max-buffers=2 drop=true enable-last-sample=false",
        TRUE, &raw);
    ErrorPtr error(raw);
    if (!bin)
        throw Error(ErrorText(error.get()));
    GstPtr<GstElement> sink = Take(bin);

    sizeFilter.reset(gst_bin_get_by_name(GST_BIN(bin), "size"));
    GstPtr<GstElement> frames(gst_bin_get_by_name(GST_BIN(bin), "frames"));
    GstAppSinkCallbacks callbacks{};
    callbacks.new_preroll = &Impl::onNewPreroll;
    callbacks.new_sample = &Impl::onNewSample;
    gst_app_sink_set_callbacks(GST_APP_SINK(frames.get()), &callbacks, this, nullptr);
    applyFrameSize();
    return sink;
}

void TGstMediaDevice::Impl::applyFrameSize()
{
    if (!sizeFilter)
        return;
    CapsPtr caps(gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING, "BGRx", "pixel-aspect-ratio",
                                     GST_TYPE_FRACTION, 1, 1, nullptr));
    if (destination.isValid())
        gst_caps_set_simple(caps.get(), "width", G_TYPE_INT, destination.width(), "height", G_TYPE_INT,
                            destination.height(), nullptr);
    g_object_set(sizeFilter.get(), "caps", caps.get(), nullptr);
}

// Heard loudness follows the cube of the setting, as on a mixer, so 0 is
// silence and 1000 the file's own level.
double TGstMediaDevice::Impl::wantedGain() const
{
    return gst_stream_volume_convert_volume(GST_STREAM_VOLUME_FORMAT_CUBIC, GST_STREAM_VOLUME_FORMAT_LINEAR,
                                            volume / 1000.0);
}

void TGstMediaDevice::Impl::applyVolume()
{
    if (pipeline)
        g_object_set(pipeline.get(), "volume", wantedGain(), nullptr);
}

void TGstMediaDevice::Impl::watchForStall()
{
    gint64 now = -1;
    if (mode != Mode::Playing || atEnd || !gst_element_query_position(pipeline.get(), GST_FORMAT_TIME, &now)) {
        stillChecks = 0;
        return;
    }
    stillChecks = now == lastPosition ? stillChecks + 1 : 0;
    lastPosition = now;
    if (stillChecks < 3)
        return;
    stillChecks = 0;
    GstPtr<GstClock> system(gst_system_clock_obtain());
    gst_pipeline_use_clock(GST_PIPELINE(pipeline.get()), system.get());
    // A new clock takes effect at the next change to PLAYING.
    gst_element_set_state(pipeline.get(), GST_STATE_PAUSED);
    gst_element_set_state(pipeline.get(), GST_STATE_PLAYING);
}

void TGstMediaDevice::Impl::teardown()
{
    stallWatch.stop();
    if (pipeline) {
        // Stops the streaming threads, so no callback runs past this point.
        gst_element_set_state(pipeline.get(), GST_STATE_NULL);
    }
    if (bus)
        gst_bus_set_sync_handler(bus.get(), nullptr, nullptr, nullptr);
    bus.reset();
    sizeFilter.reset();
    pipeline.reset();
    {
        std::lock_guard<std::mutex> lock(frameMutex);
        pendingFrame.reset();
    }
    mode = Mode::NotOpen;
    id = 0;
    atEnd = false;
}

void TGstMediaDevice::Impl::seekTo(gint64 nanoseconds, bool wait)
{
    gst_element_seek_simple(pipeline.get(), GST_FORMAT_TIME,
                            static_cast<GstSeekFlags>(GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_ACCURATE), nanoseconds);
    if (wait) {
        // The new position is prerolled once the pipeline has settled again.
        gst_element_get_state(pipeline.get(), nullptr, nullptr, SeekTimeout);
    }
    atEnd = false;
}

bool TGstMediaDevice::Impl::pastEnd() const
{
    const milliseconds length = q->length();
    return length > milliseconds::zero() && q->position() >= length;
}

void TGstMediaDevice::Impl::offerFrame(GstSample *sample)
{
    SamplePtr frame(sample);
    if (!frame)
        return;
    {
        std::lock_guard<std::mutex> lock(frameMutex);
        std::swap(pendingFrame, frame);
    }
    // Only the first frame into an empty slot asks the GUI thread to come.
    if (!frame)
        QMetaObject::invokeMethod(q, [this] { deliverFrame(); }, Qt::QueuedConnection);
}

GstFlowReturn TGstMediaDevice::Impl::onNewPreroll(GstAppSink *sink, gpointer self)
{
    static_cast<Impl *>(self)->offerFrame(gst_app_sink_pull_preroll(sink));
    return GST_FLOW_OK;
}

GstFlowReturn TGstMediaDevice::Impl::onNewSample(GstAppSink *sink, gpointer self)
{
    static_cast<Impl *>(self)->offerFrame(gst_app_sink_pull_sample(sink));
    return GST_FLOW_OK;
}

void TGstMediaDevice::Impl::handleBusMessage(GstMessage *message)
{
    const quint64 from = session.load();
    switch (GST_MESSAGE_TYPE(message)) {
    case GST_MESSAGE_EOS:
        QMetaObject::invokeMethod(q, [this, from] { onEndOfStream(from); }, Qt::QueuedConnection);
        break;
    case GST_MESSAGE_ERROR:
        QMetaObject::invokeMethod(
            q, [this, from, text = ErrorText(message)] { onError(from, text); }, Qt::QueuedConnection);
        break;
    default:
        break;
    }
}

// Nothing runs a GLib main loop here, so the bus is read as messages are
// posted, and nothing is left queued on it.
GstBusSyncReply TGstMediaDevice::Impl::onBusMessage(GstBus *, GstMessage *message, gpointer self)
{
    static_cast<Impl *>(self)->handleBusMessage(message);
    return GST_BUS_DROP;
}

void TGstMediaDevice::Impl::deliverFrame()
{
    SamplePtr sample;
    {
        std::lock_guard<std::mutex> lock(frameMutex);
        sample = std::move(pendingFrame);
    }
    if (!sample)
        return;
    const QImage frame = WrapFrame(std::move(sample));
    // A frame made before the last change of destination is out of date.
    if (frame.isNull() || (destination.isValid() && frame.size() != destination))
        return;
    emit q->frameReady(frame);
}

void TGstMediaDevice::Impl::onEndOfStream(quint64 from)
{
    if (from != session.load() || !pipeline)
        return;
    // Holds the clock so the position stays at the end.
    gst_element_set_state(pipeline.get(), GST_STATE_PAUSED);
    atEnd = true;
    mode = Mode::Stopped;
    emit q->endOfMedia();
}

void TGstMediaDevice::Impl::onError(quint64 from, const QString &message)
{
    if (from != session.load() || !pipeline)
        return;
    emit q->failed(message);
}


TGstMediaDevice::TGstMediaDevice() : d(std::make_unique<Impl>(this))
{
    GError *raw = nullptr;
    if (!gst_init_check(nullptr, nullptr, &raw)) {
        ErrorPtr error(raw);
        throw Error(ErrorText(error.get()));
    }
}

TGstMediaDevice::~TGstMediaDevice()
{
    close();
}

void TGstMediaDevice::open(const QString &fileName)
{
    close();

    GError *raw = nullptr;
    TextPtr uri(gst_filename_to_uri(QFile::encodeName(QFileInfo(fileName).absoluteFilePath()).constData(), &raw));
    ErrorPtr uriError(raw);
    if (!uri)
        throw Error(ErrorText(uriError.get()));

    d->pipeline = Take(gst_element_factory_make("playbin", nullptr));
    if (!d->pipeline)
        throw Error(QStringLiteral("GStreamer's playbin element is not installed."));
    try {
        GstPtr<GstElement> videoSink = d->makeVideoSink();
        GstPtr<GstElement> audioSink = MakeAudioSink();
        g_object_set(d->pipeline.get(), "uri", uri.get(), "video-sink", videoSink.get(), nullptr);
        if (audioSink)
            g_object_set(d->pipeline.get(), "audio-sink", audioSink.get(), nullptr);
        // No subtitles or visualisation; the video sink converts for itself.
        gst_util_set_object_arg(G_OBJECT(d->pipeline.get()), "flags", "video+audio+soft-volume+native-video");
        d->applyVolume();

        d->bus.reset(gst_element_get_bus(d->pipeline.get()));
        MessagePtr outcome;
        switch (gst_element_set_state(d->pipeline.get(), GST_STATE_PAUSED)) {
        case GST_STATE_CHANGE_FAILURE:
            outcome.reset(gst_bus_timed_pop_filtered(d->bus.get(), GST_SECOND, GST_MESSAGE_ERROR));
            if (!outcome)
                throw Error(QStringLiteral("The media could not be opened."));
            break;
        case GST_STATE_CHANGE_ASYNC:
            outcome.reset(gst_bus_timed_pop_filtered(
                d->bus.get(), OpenTimeout, static_cast<GstMessageType>(GST_MESSAGE_ASYNC_DONE | GST_MESSAGE_ERROR)));
            if (!outcome)
                throw Error(QStringLiteral("The media did not become ready in time."));
            break;
        default:
            break;
        }
        if (outcome && GST_MESSAGE_TYPE(outcome.get()) == GST_MESSAGE_ERROR)
            throw Error(ErrorText(outcome.get()));
    } catch (...) {
        d->teardown();
        throw;
    }

    d->session.fetch_add(1);
    d->mode = Mode::Stopped;
    d->id = NextDeviceId();
    d->stallWatch.start();
    // From here on the bus is read as messages arrive; what came before is
    // read now.
    gst_bus_set_sync_handler(d->bus.get(), &Impl::onBusMessage, d.get(), nullptr);
    while (MessagePtr message{gst_bus_pop(d->bus.get())})
        d->handleBusMessage(message.get());
}

void TGstMediaDevice::close()
{
    d->teardown();
}

TMediaDevice::Mode TGstMediaDevice::mode() const
{
    return d->mode;
}

quint16 TGstMediaDevice::deviceId() const
{
    return d->id;
}

void TGstMediaDevice::setDestination(const QRect &rect)
{
    const QSize size = rect.size().isEmpty() ? QSize() : rect.size();
    if (size == d->destination)
        return;
    d->destination = size;
    if (!d->pipeline)
        return;
    d->applyFrameSize();
    // A paused pipeline makes no new frame by itself: preroll the current
    // one again at the new size. At the end there is nothing to preroll; the
    // next play() rewinds and shows the new size.
    if (d->mode != Mode::Playing && !d->atEnd)
        d->seekTo(ToNanoseconds(position()), false);
}

std::chrono::milliseconds TGstMediaDevice::position() const
{
    gint64 nanoseconds = 0;
    if (!d->pipeline || !gst_element_query_position(d->pipeline.get(), GST_FORMAT_TIME, &nanoseconds))
        return milliseconds::zero();
    return ToMilliseconds(nanoseconds);
}

std::chrono::milliseconds TGstMediaDevice::length() const
{
    gint64 nanoseconds = 0;
    if (!d->pipeline || !gst_element_query_duration(d->pipeline.get(), GST_FORMAT_TIME, &nanoseconds))
        return milliseconds::zero();
    return ToMilliseconds(nanoseconds);
}

void TGstMediaDevice::play()
{
    d->requireOpen();
    if (d->atEnd || d->pastEnd())
        d->seekTo(0, true);
    gst_element_set_state(d->pipeline.get(), GST_STATE_PLAYING);
    d->mode = Mode::Playing;
}

void TGstMediaDevice::pause()
{
    d->requireOpen();
    if (d->mode != Mode::Playing)
        return;
    gst_element_set_state(d->pipeline.get(), GST_STATE_PAUSED);
    d->mode = Mode::Paused;
}

void TGstMediaDevice::resume()
{
    d->requireOpen();
    if (d->mode == Mode::Paused
        && gst_element_set_state(d->pipeline.get(), GST_STATE_PLAYING) != GST_STATE_CHANGE_FAILURE) {
        d->mode = Mode::Playing;
        return;
    }
    play();
}

void TGstMediaDevice::seek(std::chrono::milliseconds position)
{
    d->requireOpen();
    milliseconds target = std::max(position, milliseconds::zero());
    const milliseconds end = length();
    if (end > milliseconds::zero())
        target = std::min(target, end);
    d->seekTo(ToNanoseconds(target), true);
}

void TGstMediaDevice::setVolume(int volume)
{
    d->volume = std::clamp(volume, 0, 1000);
    d->applyVolume();
}

double TGstMediaDevice::linearVolume() const
{
    if (d->pipeline) {
        gdouble applied = 0;
        g_object_get(d->pipeline.get(), "volume", &applied, nullptr);
        return applied;
    }
    return d->wantedGain();
}

std::unique_ptr<TMediaDevice> CreateMediaDevice()
{
    return std::make_unique<TGstMediaDevice>();
}
