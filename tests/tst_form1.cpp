#include "app/form1.h"
#include "app/panel.h"
#include "cue/cuelist.h"
#include "errorboxwatcher.h"
#include "recordingdevice.h"

#include <QLabel>
#include <QSlider>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

static const bool s_offscreen = qputenv("QT_QPA_PLATFORM", "offscreen");

using Mode = TMediaDevice::Mode;

class TestForm1 : public QObject
{
    Q_OBJECT

private:
    // A folder with the given files: "dub" gets a two-line script, "movie"
    // the short test video.
    static std::unique_ptr<QTemporaryDir> folderWith(bool dub, bool movie)
    {
        auto dir = std::make_unique<QTemporaryDir>();
        if (dub) {
            QFile file(dir->filePath("dub.txt"));
            file.open(QIODevice::WriteOnly);
            file.write("[00:00.01]one\r\n[00:00.02]two\r\n");
        }
        if (movie)
            QFile::copy(QStringLiteral(CUEVOX_FIXTURES "/short.wmv"), dir->filePath("movie.wmv"));
        return dir;
    }

    static bool usable(TForm1 &form, TMPBtnType kind) { return form.MediaPlayer1->button(kind)->usable(); }

private slots:
    void layout_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QRect>("design");
        QTest::addColumn<bool>("visible");
        QTest::newRow("Label3") << "Label3" << QRect(490, 0, 23, 13) << true;
        QTest::newRow("Label4") << "Label4" << QRect(490, 376, 17, 13) << true;
        QTest::newRow("MediaPlayer1") << "MediaPlayer1" << QRect(240, 392, 57, 30) << true;
        QTest::newRow("Panel1") << "Panel1" << QRect(8, 8, 481, 377) << true;
        QTest::newRow("ListBox1") << "ListBox1" << QRect(96, 176, 345, 97) << false;
        QTest::newRow("TrackBar1") << "TrackBar1" << QRect(488, 16, 25, 361) << true;
    }
    void layout()
    {
        QFETCH(QString, name);
        QFETCH(QRect, design);
        QFETCH(bool, visible);
        auto dir = folderWith(true, true);
        TForm1 form(dir->path(), std::make_unique<RecordingDevice>());
        form.show();
        QWidget *widgets[] = {form.Label3, form.Label4, form.MediaPlayer1, form.Panel1, form.ListBox1, form.TrackBar1};
        const QStringList names{"Label3", "Label4", "MediaPlayer1", "Panel1", "ListBox1", "TrackBar1"};
        QWidget *widget = widgets[names.indexOf(name)];
        const QRect expected = form.scaled(design.x(), design.y(), design.width(), design.height());
        QCOMPARE(widget->pos(), expected.topLeft());
        if (!qobject_cast<QLabel *>(widget)) // labels size themselves to their caption
            QCOMPARE(widget->size(), expected.size());
        QCOMPARE(widget->isVisible(), visible);
    }

    void window()
    {
        auto dir = folderWith(true, true);
        TForm1 form(dir->path(), std::make_unique<RecordingDevice>());
        form.show();
        QCOMPARE(form.windowTitle(), QStringLiteral("Cuevox"));
        QCOMPARE(form.size(), QSize(form.scaled(522), form.scaled(435)));
        QCOMPARE(form.minimumSize(), form.maximumSize());
        QVERIFY(!(form.windowFlags() & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint)));
        QVERIFY(!form.windowIcon().isNull());
        QCOMPARE(form.Label3->text(), QStringLiteral("Max:"));
        QCOMPARE(form.Label4->text(), QStringLiteral("Min"));
        QVERIFY(!form.Label1->isVisible());
        QVERIFY(!form.Label2->isVisible());
        QCOMPARE(form.Panel1->caption(), QStringLiteral("Panel1"));
        QCOMPARE(form.Timer1->interval(), 10);
        QVERIFY(!form.Timer1->isActive());
        QCOMPARE(form.MediaPlayer1->button(btPlay)->accessibleName(), QStringLiteral("Play"));
        QCOMPARE(form.MediaPlayer1->button(btPause)->accessibleName(), QStringLiteral("Pause"));
        // Two 29-pixel buttons sharing one pixel column.
        const QRect play = form.MediaPlayer1->button(btPlay)->geometry();
        const QRect pause = form.MediaPlayer1->button(btPause)->geometry();
        QCOMPARE(pause.left(), play.right());
        QCOMPARE(play.width() + pause.width() - 1, form.MediaPlayer1->width());
    }

    void keyboard()
    {
        auto dir = folderWith(true, true);
        TForm1 form(dir->path(), std::make_unique<RecordingDevice>());
        form.show();
        QVERIFY(QTest::qWaitForWindowActive(&form));
        QWidget *play = form.MediaPlayer1->button(btPlay);
        QWidget *pause = form.MediaPlayer1->button(btPause);
        QCOMPARE(QApplication::focusWidget(), play);
        QTest::keyClick(play, Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), pause);
        QTest::keyClick(pause, Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), form.TrackBar1);
        QTest::keyClick(form.TrackBar1, Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), play);
        QTest::keyClick(play, Qt::Key_Right);
        QCOMPARE(QApplication::focusWidget(), pause);
        QTest::keyClick(pause, Qt::Key_Left);
        QCOMPARE(QApplication::focusWidget(), play);
        QTest::keyClick(play, Qt::Key_Space);
        QVERIFY(form.Timer1->isActive());
        QCOMPARE(form.MediaPlayer1->mode(), Mode::Playing);
    }

    void startUp()
    {
        auto dir = folderWith(true, true);
        ErrorBoxWatcher boxes;
        TForm1 form(dir->path(), std::make_unique<RecordingDevice>());
        QVERIFY(boxes.texts.isEmpty());
        QCOMPARE(form.ListBox1->count(), 2);
        QCOMPARE(form.MediaPlayer1->mode(), Mode::Stopped);
        QVERIFY(form.MediaPlayer1->deviceId() != 0);
        QVERIFY(form.MediaPlayer1->timeFormatMilliseconds());
        QCOMPARE(form.Panel1->destination(), QRect(1, 1, form.Panel1->width() - 1, form.Panel1->height() - 1));
        QVERIFY(usable(form, btPlay));
        QVERIFY(!usable(form, btPause));
        QCOMPARE(form.TrackBar1->value(), 500);
    }

    void startUpFailures_data()
    {
        QTest::addColumn<bool>("dub");
        QTest::addColumn<bool>("movie");
        QTest::addColumn<QString>("message");
        QTest::addColumn<int>("cues");
        QTest::newRow("no dub.txt") << false << true << "Cannot open file \"%1/dub.txt\". No such file or directory." << 0;
        QTest::newRow("no movie.wmv") << true << false << "Resource not found." << 2;
    }
    void startUpFailures()
    {
        QFETCH(bool, dub);
        QFETCH(bool, movie);
        QFETCH(QString, message);
        QFETCH(int, cues);
        auto dir = folderWith(dub, movie);
        ErrorBoxWatcher boxes;
        auto device = std::make_unique<RecordingDevice>();
        auto *recorded = device.get();
        TForm1 form(dir->path(), std::move(device));
        QCOMPARE(boxes.texts, QStringList{QString(message).replace("%1", dir->path())});
        QCOMPARE(boxes.captions, QStringList{"Cuevox"});
        QCOMPARE(boxes.icons(), QList<QMessageBox::Icon>{QMessageBox::Critical});
        QCOMPARE(form.ListBox1->count(), cues);
        QCOMPARE(form.MediaPlayer1->mode(), Mode::NotOpen);
        QCOMPARE(form.MediaPlayer1->deviceId(), quint16(0));
        QCOMPARE(form.TrackBar1->value(), 0);
        QVERIFY(recorded->volumes.isEmpty());
        QVERIFY(!usable(form, btPlay));
        QVERIFY(!usable(form, btPause));
        QVERIFY(form.Panel1->frame().isNull());

        // The keyboard still reaches Play: the clock switches on, then the
        // player reports that nothing is open.
        form.show();
        QVERIFY(QTest::qWaitForWindowActive(&form));
        QTest::keyClick(form.MediaPlayer1->button(btPlay), Qt::Key_Space);
        QCOMPARE(boxes.texts.size(), 2);
        QCOMPARE(boxes.texts.last(), QStringLiteral("No MCI device open."));
        QVERIFY(form.Timer1->isActive());
        // The mouse does not press a greyed button.
        form.Timer1->stop();
        QTest::mouseClick(form.MediaPlayer1->button(btPlay), Qt::LeftButton);
        QVERIFY(!form.Timer1->isActive());
    }

    // Files that are not a playable video, on the real device: one error box
    // with the media system's text, the script loaded, the window usable.
    void unplayableMovie_data()
    {
        QTest::addColumn<QByteArray>("content");
        QByteArray noise(64 * 1024, '\0');
        quint32 seed = 12345;
        for (char &byte : noise)
            byte = char((seed = seed * 1103515245u + 12345u) >> 24);
        QTest::newRow("text") << QByteArray("Not a video at all.\n");
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("random bytes") << noise;
    }
    void unplayableMovie()
    {
        QFETCH(QByteArray, content);
        auto dir = folderWith(true, false);
        QFile movie(dir->filePath("movie.wmv"));
        QVERIFY(movie.open(QIODevice::WriteOnly));
        movie.write(content);
        movie.close();
        ErrorBoxWatcher boxes;
        TForm1 form(dir->path());
        QCOMPARE(boxes.texts.size(), 1);
        QVERIFY(!boxes.texts.first().isEmpty());
        QCOMPARE(form.ListBox1->count(), 2);
        QCOMPARE(form.MediaPlayer1->mode(), Mode::NotOpen);
        QVERIFY(!usable(form, btPlay));
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
    }

    // A video cut short plays what it has and ends, with one report at most.
    void truncatedMovie_data()
    {
        QTest::addColumn<int>("percent");
        QTest::newRow("half") << 50;
        QTest::newRow("the first 2 %") << 2;
    }
    void truncatedMovie()
    {
        QFETCH(int, percent);
        auto dir = folderWith(true, false);
        QFile video(QStringLiteral(CUEVOX_FIXTURES "/short.wmv"));
        QVERIFY(video.open(QIODevice::ReadOnly));
        QFile movie(dir->filePath("movie.wmv"));
        QVERIFY(movie.open(QIODevice::WriteOnly));
        movie.write(video.read(video.size() * percent / 100));
        movie.close();
        ErrorBoxWatcher boxes;
        TForm1 form(dir->path());
        form.show();
        if (form.MediaPlayer1->mode() == Mode::NotOpen) { // too little to open
            QCOMPARE(boxes.texts.size(), 1);
            return;
        }
        form.MediaPlayer1->press(btPlay);
        QTRY_COMPARE_WITH_TIMEOUT(form.MediaPlayer1->mode(), Mode::Stopped, 10000);
        QVERIFY(boxes.texts.size() <= 1);
        QVERIFY(usable(form, btPlay));
    }

    // Play, Pause, Pause, Play and the end of the media, on the real device.
    void transport()
    {
        auto dir = folderWith(true, true);
        ErrorBoxWatcher boxes;
        TForm1 form(dir->path());
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        QCOMPARE(form.MediaPlayer1->mode(), Mode::Stopped);
        QTRY_VERIFY(!form.Panel1->frame().isNull());

        auto *play = form.MediaPlayer1->button(btPlay);
        auto *pause = form.MediaPlayer1->button(btPause);
        QTest::mouseClick(play, Qt::LeftButton);
        QCOMPARE(form.MediaPlayer1->mode(), Mode::Playing);
        QVERIFY(form.Timer1->isActive());
        QVERIFY(!play->usable());
        QVERIFY(pause->usable());
        QTRY_VERIFY(form.MediaPlayer1->position() > std::chrono::milliseconds(300));

        QTest::mouseClick(pause, Qt::LeftButton);
        QCOMPARE(form.MediaPlayer1->mode(), Mode::Paused);
        QVERIFY(!form.Timer1->isActive());
        QVERIFY(play->usable());
        QVERIFY(pause->usable());

        // The second Pause resumes the video and the cue clock with it.
        QTest::mouseClick(pause, Qt::LeftButton);
        QCOMPARE(form.MediaPlayer1->mode(), Mode::Playing);
        QVERIFY(form.Timer1->isActive());

        QTRY_COMPARE_WITH_TIMEOUT(form.MediaPlayer1->mode(), Mode::Stopped, 10000);
        QVERIFY(play->usable());
        QVERIFY(!pause->usable());
        QVERIFY(form.Timer1->isActive());

        // Play at the end starts again from the beginning.
        QTest::mouseClick(play, Qt::LeftButton);
        QCOMPARE(form.MediaPlayer1->mode(), Mode::Playing);
        QTRY_VERIFY(form.MediaPlayer1->position() < std::chrono::milliseconds(2000));
        QVERIFY(boxes.texts.isEmpty());
    }

    // A double click on Pause while playing: paused, then resumed; the clock
    // follows the video.
    void pauseTwiceQuickly()
    {
        auto dir = folderWith(true, true);
        TForm1 form(dir->path(), std::make_unique<RecordingDevice>());
        form.show();
        QTest::mouseClick(form.MediaPlayer1->button(btPlay), Qt::LeftButton);
        QTest::mouseDClick(form.MediaPlayer1->button(btPause), Qt::LeftButton);
        QCOMPARE(form.MediaPlayer1->mode(), Mode::Playing);
        QVERIFY(form.Timer1->isActive());
    }
};

QTEST_MAIN(TestForm1)
#include "tst_form1.moc"
