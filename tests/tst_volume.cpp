#include "app/form1.h"
#include "errorboxwatcher.h"
#include "recordingdevice.h"

#include <QAccessible>
#include <QSlider>
#include <QStyleOptionSlider>
#include <QTemporaryDir>
#include <QtTest>

static const bool s_offscreen = qputenv("QT_QPA_PLATFORM", "offscreen");

// The volume slider: what reaches the device for each thing the user does.
class TestVolume : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    RecordingDevice *m_device = nullptr;

    std::unique_ptr<TForm1> makeForm(bool withMovie = true)
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QFile dub(m_dir->filePath("dub.txt"));
        dub.open(QIODevice::WriteOnly);
        if (withMovie)
            QFile(m_dir->filePath("movie.wmv")).open(QIODevice::WriteOnly);
        auto device = std::make_unique<RecordingDevice>();
        m_device = device.get();
        auto form = std::make_unique<TForm1>(m_dir->path(), std::move(device));
        form->show();
        return form;
    }

    static QPoint handleCentre(QSlider *slider)
    {
        QStyleOptionSlider option;
        option.initFrom(slider);
        option.orientation = slider->orientation();
        option.minimum = slider->minimum();
        option.maximum = slider->maximum();
        option.sliderPosition = slider->sliderPosition();
        option.sliderValue = slider->value();
        option.upsideDown = !slider->invertedAppearance();
        return slider->style()
            ->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderHandle, slider)
            .center();
    }

private slots:
    void startUpSendsHalfOnce()
    {
        auto form = makeForm();
        QCOMPARE(m_device->volumes, QList<int>{500});
        QCOMPARE(form->TrackBar1->value(), 500);
        form->TrackBar1->setValue(500); // no change, nothing sent
        QCOMPARE(m_device->volumes, QList<int>{500});
    }

    void failedStartUpSendsNothingUntilMoved()
    {
        ErrorBoxWatcher boxes;
        auto form = makeForm(false);
        QCOMPARE(boxes.texts.size(), 1);
        QCOMPARE(form->TrackBar1->value(), 0);
        QVERIFY(m_device->volumes.isEmpty());
        form->TrackBar1->setFocus();
        QTest::keyClick(form->TrackBar1, Qt::Key_Down);
        QCOMPARE(m_device->volumes, QList<int>{999});
    }

    void keys_data()
    {
        QTest::addColumn<int>("start");
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("position");
        QTest::addColumn<int>("volume");
        QTest::newRow("Up is louder by 1") << 500 << int(Qt::Key_Up) << 499 << 501;
        QTest::newRow("Down is quieter by 1") << 500 << int(Qt::Key_Down) << 501 << 499;
        QTest::newRow("Page Up is louder by 2") << 500 << int(Qt::Key_PageUp) << 498 << 502;
        QTest::newRow("Page Down is quieter by 2") << 500 << int(Qt::Key_PageDown) << 502 << 498;
        QTest::newRow("Home is the top, full volume") << 500 << int(Qt::Key_Home) << 0 << 1000;
        QTest::newRow("End is the bottom, silence") << 500 << int(Qt::Key_End) << 1000 << 0;
        QTest::newRow("Up at the top is sent again") << 0 << int(Qt::Key_Up) << 0 << 1000;
        QTest::newRow("Down at the bottom is sent again") << 1000 << int(Qt::Key_Down) << 1000 << 0;
    }
    void keys()
    {
        QFETCH(int, start);
        QFETCH(int, key);
        QFETCH(int, position);
        QFETCH(int, volume);
        auto form = makeForm();
        form->TrackBar1->setValue(start);
        m_device->volumes.clear();
        form->TrackBar1->setFocus();
        QTest::keyClick(form->TrackBar1, Qt::Key(key));
        QCOMPARE(form->TrackBar1->value(), position);
        QCOMPARE(m_device->volumes, QList<int>{volume});
    }

    // A screen reader hears the volume, not the slider's inverted position.
    void screenReaderValueIsTheVolume()
    {
        auto form = makeForm();
        QAccessibleInterface *accessible = QAccessible::queryAccessibleInterface(form->TrackBar1);
        QVERIFY(accessible);
        QCOMPARE(accessible->text(QAccessible::Name), QStringLiteral("Volume"));
        QAccessibleValueInterface *value = accessible->valueInterface();
        QVERIFY(value);
        form->TrackBar1->setValue(200);
        QCOMPARE(value->currentValue().toInt(), 800);
        value->setCurrentValue(1000);
        QCOMPARE(form->TrackBar1->value(), 0);
        QCOMPARE(m_device->volumes.last(), 1000);
    }

    void dragReleaseSendsTheFinalVolumeAgain()
    {
        auto form = makeForm();
        QSlider *slider = form->TrackBar1;
        m_device->volumes.clear();
        const QPoint from = handleCentre(slider);
        QTest::mousePress(slider, Qt::LeftButton, {}, from);
        QTest::mouseMove(slider, from + QPoint(0, 40));
        QTest::mouseRelease(slider, Qt::LeftButton, {}, from + QPoint(0, 40));
        QVERIFY(slider->value() > 500);
        QVERIFY(m_device->volumes.size() >= 2);
        const int final = 1000 - slider->value();
        QCOMPARE(m_device->volumes.last(), final);
        QCOMPARE(m_device->volumes.at(m_device->volumes.size() - 2), final);
    }
};

QTEST_MAIN(TestVolume)
#include "tst_volume.moc"
