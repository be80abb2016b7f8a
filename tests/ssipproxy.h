#pragma once

// Stands between the program and the real speech service and notes every cue
// text the program hands over (SSIP "SPEAK"), in order; notifications, such
// as the silent word that warms a new connection, are not cues. It relays on
// a thread of its own, so a test that blocks for a moment (a screenshot,
// xdotool) never holds the program up.

#include <QByteArray>
#include <QFile>
#include <QMutex>
#include <QString>
#include <QStringList>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>
#include <vector>

class SsipProxy
{
public:
    // Listens at listenPath and relays to the service socket at servicePath.
    SsipProxy(const QString &listenPath, const QString &servicePath)
        : m_listenPath(listenPath), m_servicePath(servicePath)
    {
        const sockaddr_un address = socketAddress(listenPath);
        m_listen = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (m_listen < 0 || ::bind(m_listen, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0
            || ::listen(m_listen, 4) != 0 || ::pipe2(m_wake, O_CLOEXEC) != 0)
            return;
        m_thread = std::thread([this] { run(); });
    }

    ~SsipProxy()
    {
        if (m_thread.joinable()) {
            const char stop = 0;
            (void)!::write(m_wake[1], &stop, 1);
            m_thread.join();
        }
        for (int fd : {m_listen, m_wake[0], m_wake[1]})
            if (fd >= 0)
                ::close(fd);
        ::unlink(QFile::encodeName(m_listenPath).constData());
    }

    bool isListening() const { return m_thread.joinable(); }
    // For SPEECHD_ADDRESS.
    QString address() const { return "unix_socket:" + m_listenPath; }

    QStringList texts() const
    {
        QMutexLocker lock(&m_mutex);
        return m_texts;
    }

    // The first `length` characters of each text, for texts too long to list.
    QStringList heads(int length = 20) const
    {
        QStringList result;
        for (const QString &text : texts())
            result << text.left(length);
        return result;
    }

private:
    struct Link
    {
        int client = -1;
        int service = -1;
        QByteArray line; // the client's line being read
        bool inText = false;
        QByteArray text;
        bool notification = false; // the priority the next text has
    };

    static sockaddr_un socketAddress(const QString &path)
    {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, QFile::encodeName(path).constData(), sizeof address.sun_path - 1);
        return address;
    }

    void run()
    {
        std::vector<Link> links;
        for (;;) {
            std::vector<pollfd> fds{{m_wake[0], POLLIN, 0}, {m_listen, POLLIN, 0}};
            for (const Link &link : links) {
                fds.push_back({link.client, POLLIN, 0});
                fds.push_back({link.service, POLLIN, 0});
            }
            if (::poll(fds.data(), fds.size(), -1) < 0) {
                if (errno == EINTR)
                    continue;
                break;
            }
            if (fds[0].revents)
                break;
            for (std::size_t i = 0; i < links.size(); ++i) {
                Link &link = links[i];
                bool open = true;
                if (fds[2 + 2 * i].revents)
                    open = relay(link.client, link.service, &link);
                if (open && fds[3 + 2 * i].revents)
                    open = relay(link.service, link.client, nullptr);
                if (!open) {
                    ::close(link.client);
                    ::close(link.service);
                    link.client = link.service = -1;
                }
            }
            links.erase(std::remove_if(links.begin(), links.end(), [](const Link &l) { return l.client < 0; }),
                        links.end());
            if (fds[1].revents & POLLIN) {
                Link link;
                link.client = ::accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC);
                link.service = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
                const sockaddr_un address = socketAddress(m_servicePath);
                if (link.client >= 0 && link.service >= 0
                    && ::connect(link.service, reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0) {
                    links.push_back(link);
                } else {
                    for (int fd : {link.client, link.service})
                        if (fd >= 0)
                            ::close(fd);
                }
            }
        }
        for (const Link &link : links) {
            ::close(link.client);
            ::close(link.service);
        }
    }

    // Passes what `from` has on to `to`; false when either side is gone.
    bool relay(int from, int to, Link *noteTexts)
    {
        char buffer[65536];
        const ssize_t size = ::read(from, buffer, sizeof buffer);
        if (size < 0 && errno == EINTR)
            return true;
        if (size <= 0)
            return false;
        if (noteTexts)
            note(*noteTexts, buffer, size);
        for (ssize_t sent = 0; sent < size;) {
            const ssize_t n = ::send(to, buffer + sent, std::size_t(size - sent), MSG_NOSIGNAL);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return false;
            sent += n;
        }
        return true;
    }

    // SSIP: "SPEAK", then the text's lines, each a leading "." doubled, then
    // a line ".". Lines end in CR LF.
    void note(Link &link, const char *data, ssize_t size)
    {
        for (ssize_t i = 0; i < size; ++i) {
            link.line += data[i];
            if (!link.line.endsWith("\r\n"))
                continue;
            QByteArray line = link.line.chopped(2);
            link.line.clear();
            if (!link.inText) {
                const QByteArray command = line.simplified().toUpper();
                if (command.startsWith("SET SELF PRIORITY "))
                    link.notification = command.endsWith(" NOTIFICATION");
                if (command == "SPEAK") {
                    link.inText = true;
                    link.text.clear();
                }
            } else if (line == ".") {
                link.inText = false;
                if (link.notification)
                    continue;
                QMutexLocker lock(&m_mutex);
                m_texts << QString::fromUtf8(link.text);
            } else {
                if (line.startsWith(".."))
                    line.remove(0, 1);
                if (!link.text.isEmpty())
                    link.text += '\n';
                link.text += line;
            }
        }
    }

    QString m_listenPath;
    QString m_servicePath;
    int m_listen = -1;
    int m_wake[2] = {-1, -1};
    std::thread m_thread;
    mutable QMutex m_mutex;
    QStringList m_texts;
};
