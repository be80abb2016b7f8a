#include "speech/spvoice.h"

#include "app/error.h"

#include <QByteArray>
#include <QMetaObject>

#include <libspeechd.h>

#include <cstdlib>
#include <csignal>
#include <ctime>
#include <pthread.h>
#include <thread>

namespace {

// Attempts closer together than this would respawn a failing service without
// pause.
constexpr qint64 AttemptIntervalMs = 1000;

struct SpdClose
{
    void operator()(SPDConnection *connection) const { spd_close(connection); }
};
using Connection = std::unique_ptr<SPDConnection, SpdClose>;

struct CharFree
{
    void operator()(char *text) const { std::free(text); }
};
using CString = std::unique_ptr<char, CharFree>;

// libspeechd writes to its socket without guarding against a service that has
// just gone away; the SIGPIPE that follows would end the whole program. Holds
// it back on the calling thread for the length of a call and drops the one the
// call raised, if any.
class SigpipeHold
{
public:
    SigpipeHold()
    {
        sigemptyset(&m_pipe);
        sigaddset(&m_pipe, SIGPIPE);
        pthread_sigmask(SIG_BLOCK, &m_pipe, &m_old);
        sigset_t pending;
        sigpending(&pending);
        m_wasPending = sigismember(&pending, SIGPIPE) == 1;
    }
    ~SigpipeHold()
    {
        if (!m_wasPending) {
            sigset_t pending;
            sigpending(&pending);
            if (sigismember(&pending, SIGPIPE) == 1) {
                const timespec none{};
                sigtimedwait(&m_pipe, nullptr, &none);
            }
        }
        pthread_sigmask(SIG_SETMASK, &m_old, nullptr);
    }
    SigpipeHold(const SigpipeHold &) = delete;
    SigpipeHold &operator=(const SigpipeHold &) = delete;

private:
    sigset_t m_pipe;
    sigset_t m_old;
    bool m_wasPending = false;
};

void ignoreEvent(size_t, size_t, SPDNotificationType) {}

QString readableReason(const char *reason)
{
    QString text = reason ? QString::fromLocal8Bit(reason) : QString();
    qsizetype end = text.size();
    while (end > 0 && (text.at(end - 1).isSpace() || text.at(end - 1) == u'.'))
        --end;
    text.truncate(end);
    if (text.isEmpty())
        return QStringLiteral("Could not connect to Speech Dispatcher");
    return text;
}

// A speech module just started spends tens of milliseconds more on its first
// text (loading the voice, opening its sound output). A silent word now takes
// that cost ahead of the first cue; as a notification it is cancelled by any
// cue that comes while it is still being spoken, so it never delays one.
void primeVoice(SPDConnection *connection)
{
    const int volume = spd_get_volume(connection);
    if (spd_set_volume(connection, -100) != 0)
        return;
    spd_say(connection, SPD_NOTIFICATION, "a");
    spd_set_volume(connection, volume);
}

struct Attempt
{
    Connection connection;
    QString failure;
};

// Runs off the GUI thread: attaches to the service, starting it if needed.
Attempt connectToService()
{
    Attempt attempt;
    char *rawError = nullptr;
    // NULL address: the default, which SPEECHD_ADDRESS overrides.
    Connection connection(spd_open2("cuevox", "main", "cuevox", SPD_MODE_THREADED, nullptr,
                                    1, &rawError));
    const CString error(rawError);
    if (!connection) {
        attempt.failure = readableReason(error.get());
        return attempt;
    }
    // Nothing here waits for the begin/end/cancel events yet; subscribing
    // with handlers that do nothing keeps the service's reports flowing and
    // costs nothing when it refuses them.
    connection->callback_begin = ignoreEvent;
    connection->callback_end = ignoreEvent;
    connection->callback_cancel = ignoreEvent;
    spd_set_notification_on(connection.get(),
                            static_cast<SPDNotification>(SPD_BEGIN | SPD_END | SPD_CANCEL));
    // Cue lines are plain text even when they look like markup.
    if (spd_set_data_mode(connection.get(), SPD_DATA_TEXT) != 0) {
        attempt.failure = QStringLiteral("Interface not supported");
        return attempt;
    }
    primeVoice(connection.get());
    attempt.connection = std::move(connection);
    return attempt;
}

} // namespace

struct TSpVoice::Impl
{
    Connection connection;
    std::thread worker; // joinable while an attempt runs or awaits collecting
    Attempt attempt;    // written by the worker; read only after joining it
    QElapsedTimer sinceAttempt;
    std::optional<QString> failure; // from the last attempt, not yet reported
    std::optional<QString> lastReported;

    // Reports a failure once while it stays the same.
    void report(const QString &text)
    {
        if (lastReported == text)
            return;
        lastReported = text;
        throw Error(text);
    }

    void collectAttempt()
    {
        if (worker.joinable())
            worker.join();
        if (attempt.connection) {
            connection = std::move(attempt.connection);
            failure.reset();
            lastReported.reset();
        } else {
            failure = attempt.failure;
        }
        attempt = Attempt();
    }
};

TSpVoice::TSpVoice(QObject *parent) : QObject(parent), d(std::make_unique<Impl>()) {}

TSpVoice::~TSpVoice()
{
    // spd_open2 returns once the service answers or its start has failed.
    if (d->worker.joinable())
        d->worker.join();
    d->collectAttempt();
    // The service would go on with this program's queued cues after it ends.
    if (d->connection) {
        const SigpipeHold hold;
        spd_cancel(d->connection.get());
    }
}

bool TSpVoice::connected() const
{
    return d->connection != nullptr;
}

void TSpVoice::prepare()
{
    if (d->connection || d->worker.joinable())
        return;
    if (d->failure) {
        const QString text = *d->failure;
        d->failure.reset();
        d->report(text);
    }
    if (d->sinceAttempt.isValid() && d->sinceAttempt.elapsed() < AttemptIntervalMs)
        return;
    d->sinceAttempt.start();
    Impl *impl = d.get();
    d->worker = std::thread([this, impl] {
        // Every write of this thread, and of the event reader libspeechd
        // starts from it, goes to a service that may vanish meanwhile.
        sigset_t pipe;
        sigemptyset(&pipe);
        sigaddset(&pipe, SIGPIPE);
        pthread_sigmask(SIG_BLOCK, &pipe, nullptr);
        impl->attempt = connectToService();
        QMetaObject::invokeMethod(
            this,
            [this] {
                d->collectAttempt();
                emit connectFinished();
            },
            Qt::QueuedConnection);
    });
}

std::optional<int> TSpVoice::speak(const QString &text, int flags)
{
    Q_UNUSED(flags); // speech is always asynchronous
    QByteArray utf8 = text.toUtf8();
    // libspeechd sends text up to its first NUL. It cannot send an empty
    // message and leaves the connection waiting for the message's end, so an
    // empty line counts as spoken without the service.
    utf8.truncate(qstrlen(utf8.constData()));
    if (utf8.isEmpty())
        return 0;
    if (!d->connection) {
        prepare();
        return std::nullopt;
    }
    int id = -1;
    {
        const SigpipeHold hold;
        // Message priority queues a cue behind one still being spoken; text
        // priority would cut that one off and drop the new one too.
        id = spd_say(d->connection.get(), SPD_MESSAGE, utf8.constData());
    }
    if (id < 0) {
        // Most likely the service went away; the next call connects anew and
        // so starts it again.
        d->connection.reset();
        d->report(QStringLiteral("Speech Dispatcher did not take the text to speak"));
        return std::nullopt;
    }
    return id;
}
