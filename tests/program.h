#pragma once

// The real executable, copied into a folder of its own beside a video and a
// script as a user installs it, and run there on the test desktop.

#include "desktop.h"

#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

class Program
{
public:
    // The data folder: the executable's own.
    QString filePath(const QString &name) const { return m_dir->filePath(name); }
    QString folder() const { return m_dir->path(); }
    QProcess &process() { return m_process; }

    // A fresh folder with the executable, the fixture video `movie` (none
    // when empty) as movie.wmv and `dub` as dub.txt (none when null).
    bool install(const QString &movie, const QByteArray &dub)
    {
        m_dir = std::make_unique<QTemporaryDir>();
        if (!QFile::copy(QStringLiteral(CUEVOX_EXECUTABLE), m_dir->filePath("cuevox")))
            return false;
        QFile::setPermissions(m_dir->filePath("cuevox"), QFile::ExeOwner | QFile::ReadOwner);
        if (!movie.isEmpty()
            && !QFile::copy(QStringLiteral(CUEVOX_FIXTURES "/") + movie, m_dir->filePath("movie.wmv")))
            return false;
        if (!dub.isNull()) {
            QFile file(m_dir->filePath("dub.txt"));
            if (!file.open(QIODevice::WriteOnly) || file.write(dub) != dub.size())
                return false;
        }
        return true;
    }

    // Starts the program; false when it cannot, or when a window of an
    // earlier run is still there to be mistaken for its own.
    bool start(const QProcessEnvironment &environment = QProcessEnvironment::systemEnvironment())
    {
        if (!desktop::windows("Cuevox").isEmpty()) {
            qWarning("a Cuevox window is already open");
            return false;
        }
        m_process.setProcessEnvironment(environment);
        m_process.setProcessChannelMode(QProcess::ForwardedChannels);
        m_process.start(m_dir->filePath("cuevox"), {});
        return m_process.waitForStarted();
    }

    // Closes the window as a user would; the program must end on its own.
    void closeAndExpectExitZero(const QString &window)
    {
        desktop::close(window);
        QVERIFY(m_process.waitForFinished(15000));
        QCOMPARE(m_process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(m_process.exitCode(), 0);
    }

    // Ends a run a failed test left behind.
    void kill()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished();
        }
    }

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    QProcess m_process;
};
