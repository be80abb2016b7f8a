#pragma once

#include "app/mediadevice.h"
#include "app/mediaplayer.h"

#include <QRect>
#include <QString>
#include <QWidget>
#include <memory>

class QLabel;
class QSlider;
class QTimer;
class TListBox;
class TPanel;
class TSpVoice;

// The main window: the video panel, the transport bar, the volume slider, the
// hidden cue list and the cue clock. Its components are public, as the window's
// parts that every handler refers to.
class TForm1 : public QWidget
{
    Q_OBJECT
public:
    // Creates the components and runs the start-up sequence with the files in
    // dataFolder (the executable's folder in the program).
    explicit TForm1(const QString &dataFolder, std::unique_ptr<TMediaDevice> device = CreateMediaDevice(),
                    QWidget *parent = nullptr);
    ~TForm1() override;

    QLabel *Label1;
    QLabel *Label2;
    QLabel *Label3;
    QLabel *Label4;
    TMediaPlayer *MediaPlayer1;
    TPanel *Panel1;
    TListBox *ListBox1;
    QSlider *TrackBar1;
    QTimer *Timer1;
    TSpVoice *SpVoice1;

    void FormCreate();
    void MediaPlayer1Click(QObject *Sender, TMPBtnType Button, bool &DoDefault);
    void Timer1Timer();
    void TrackBar1Change();

    // Layout pixels (designed at a text height of 13) to this screen's pixels.
    int scaled(int designPixels) const;
    QRect scaled(int left, int top, int width, int height) const;

private:
    void createLabels();
    void createMediaPlayer(std::unique_ptr<TMediaDevice> device);
    void createPanel();
    void createListBox();
    void createTrackBar();
    void createTimerAndVoice();
    QLabel *createLabel(const QString &caption, const QRect &bounds, bool visible);

    QString m_dataFolder;
    double m_scale = 1.0;
    bool m_inTick = false;
    // Fires once at the moment the head cue falls due, between two ticks.
    QTimer *m_cueMoment = nullptr;
};

extern TForm1 *Form1;

// Sets the volume of the player's open device, 0 (silent) to 1000 (full);
// any failure, also with no device open, is ignored.
void SetMediaVolume(TMediaPlayer *player, int value);
