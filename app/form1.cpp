#include "app/form1.h"

#include "app/errorbox.h"
#include "app/panel.h"
#include "app/volumeaccessible.h"
#include "cue/cueclock.h"
#include "cue/cuelist.h"
#include "speech/spvoice.h"

#include <QApplication>
#include <QFontMetrics>
#include <QIcon>
#include <QLabel>
#include <QSlider>
#include <QTimer>
#include <cmath>

TForm1 *Form1 = nullptr;

namespace {
constexpr int DesignTextHeight = 13;

// A cue's moment is when the viewer hears that point of the video. The
// player's position trails its sound by a few milliseconds and speech takes
// a few more to be heard, so cues are handed over this much ahead.
constexpr std::chrono::milliseconds CueSoundLead{20};
} // namespace

TForm1::TForm1(const QString &dataFolder, std::unique_ptr<TMediaDevice> device, QWidget *parent)
    : QWidget(parent), m_dataFolder(dataFolder)
{
    QFont font = QApplication::font();
    font.setPointSize(8);
    setFont(font);
    m_scale = double(QFontMetrics(font).height()) / DesignTextHeight;

    setWindowTitle(QStringLiteral("Cuevox"));
    setWindowIcon(QIcon(QStringLiteral(":/cuevox.xpm")));
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                   | Qt::WindowCloseButtonHint);
    setFixedSize(scaled(522), scaled(435));
    move(194, 128);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, pal.color(QPalette::Dark));
    setPalette(pal);
    setAutoFillBackground(true);

    createLabels();
    createMediaPlayer(std::move(device));
    createPanel();
    createListBox();
    createTrackBar();
    createTimerAndVoice();
    setTabOrder(MediaPlayer1->button(btPlay), MediaPlayer1->button(btPause));
    setTabOrder(MediaPlayer1->button(btPause), TrackBar1);
    MediaPlayer1->setFocus();

    RunGuarded([this] { FormCreate(); });
}

TForm1::~TForm1()
{
    // Components go in this order: the video leaves the panel before the
    // device closes, and the voice is released before the timer.
    Timer1->stop();
    m_cueMoment->stop();
    delete TrackBar1;
    delete ListBox1;
    delete Panel1;
    delete MediaPlayer1;
    delete Label1;
    delete Label2;
    delete Label3;
    delete Label4;
    delete SpVoice1;
    delete Timer1;
    if (Form1 == this)
        Form1 = nullptr;
}

int TForm1::scaled(int designPixels) const
{
    return int(std::lround(designPixels * m_scale));
}

QRect TForm1::scaled(int left, int top, int width, int height) const
{
    return QRect(scaled(left), scaled(top), scaled(width), scaled(height));
}

QLabel *TForm1::createLabel(const QString &caption, const QRect &bounds, bool visible)
{
    auto *label = new QLabel(caption, this);
    label->setGeometry(bounds);
    label->setAutoFillBackground(true);
    label->adjustSize();
    label->setVisible(visible);
    return label;
}

void TForm1::createLabels()
{
    Label1 = createLabel(QStringLiteral("Label1"), scaled(56, 352, 32, 13), false);
    Label2 = createLabel(QStringLiteral("Label2"), scaled(56, 368, 32, 13), false);
    Label3 = createLabel(QStringLiteral("Max:"), scaled(490, 0, 23, 13), true);
    Label4 = createLabel(QStringLiteral("Min"), scaled(490, 376, 17, 13), true);
}

void TForm1::createMediaPlayer(std::unique_ptr<TMediaDevice> device)
{
    MediaPlayer1 = new TMediaPlayer(std::move(device), this);
    MediaPlayer1->setGeometry(scaled(240, 392, 57, 30));
    connect(MediaPlayer1, &TMediaPlayer::click, this, &TForm1::MediaPlayer1Click);
}

void TForm1::createPanel()
{
    Panel1 = new TPanel(QStringLiteral("Panel1"), this);
    Panel1->setGeometry(scaled(8, 8, 481, 377));
    Panel1->setAccessibleName(tr("Video"));
}

void TForm1::createListBox()
{
    ListBox1 = new TListBox(this);
    ListBox1->setGeometry(scaled(96, 176, 345, 97));
    ListBox1->hide();
}

void TForm1::createTrackBar()
{
    TVolumeAccessible::install();
    TrackBar1 = new QSlider(Qt::Vertical, this);
    TrackBar1->setObjectName(QStringLiteral("TrackBar1"));
    TrackBar1->setGeometry(scaled(488, 16, 25, 361));
    TrackBar1->setRange(0, 1000);
    TrackBar1->setSingleStep(1);
    TrackBar1->setPageStep(2);
    TrackBar1->setTickPosition(QSlider::NoTicks);
    // Position 0 at the top, next to "Max:"; Up moves towards it.
    TrackBar1->setInvertedAppearance(true);
    TrackBar1->setInvertedControls(true);
    TrackBar1->setAccessibleName(tr("Volume"));
    TrackBar1->setAccessibleDescription(tr("Loudest at the top, silent at the bottom"));
    connect(TrackBar1, &QSlider::valueChanged, this, &TForm1::TrackBar1Change);
    connect(TrackBar1, &QSlider::sliderReleased, this, &TForm1::TrackBar1Change);
    // A user action that leaves the position where it was (Up at the top) is
    // still reported, as every scroll notification is.
    connect(TrackBar1, &QAbstractSlider::actionTriggered, this, [this] {
        if (TrackBar1->sliderPosition() == TrackBar1->value())
            TrackBar1Change();
    });
}

void TForm1::createTimerAndVoice()
{
    Timer1 = new QTimer(this);
    Timer1->setTimerType(Qt::PreciseTimer);
    Timer1->setInterval(10);
    connect(Timer1, &QTimer::timeout, this, &TForm1::Timer1Timer);
    m_cueMoment = new QTimer(this);
    m_cueMoment->setTimerType(Qt::PreciseTimer);
    m_cueMoment->setSingleShot(true);
    connect(m_cueMoment, &QTimer::timeout, this, &TForm1::Timer1Timer);
    SpVoice1 = new TSpVoice(this);
}

void TForm1::FormCreate()
{
    ListBox1->clear();
    ListBox1->loadFromFile(m_dataFolder + QStringLiteral("/dub.txt"));
    MediaPlayer1->setDisplay(Panel1);
    MediaPlayer1->setFileName(m_dataFolder + QStringLiteral("/movie.wmv"));
    MediaPlayer1->open();
    MediaPlayer1->setDisplayRect(QRect(1, 1, Panel1->width() - 1, Panel1->height() - 1));
    MediaPlayer1->setTimeFormatMilliseconds();
    TrackBar1->setValue(500);
}

void TForm1::MediaPlayer1Click(QObject *, TMPBtnType Button, bool &)
{
    // The Pause click that resumes a paused video resumes the cue clock with it.
    const bool resuming = Button == btPause && MediaPlayer1->mode() == TMediaDevice::Mode::Paused;
    if (Button == btPlay || resuming) {
        // Starting a running QTimer would restart its period.
        if (!Timer1->isActive())
            Timer1->start();
    } else if (Button == btPause) {
        Timer1->stop();
        m_cueMoment->stop();
    }
}

void TForm1::Timer1Timer()
{
    // No tick runs while another is inside the voice or has its error box open.
    if (m_inTick)
        return;
    m_inTick = true;
    std::chrono::milliseconds untilDue{-1};
    RunGuarded([this, &untilDue] {
        TickCueClock(*ListBox1, MediaPlayer1->position() + CueSoundLead, *SpVoice1, *Label1, *Label2, &untilDue);
    });
    m_inTick = false;
    // Ticks alone would hand a cue over up to a whole period after its moment.
    if (Timer1->isActive() && untilDue > std::chrono::milliseconds::zero()
        && untilDue <= Timer1->intervalAsDuration())
        m_cueMoment->start(untilDue);
}

void TForm1::TrackBar1Change()
{
    SetMediaVolume(MediaPlayer1, 1000 - TrackBar1->sliderPosition());
}

void SetMediaVolume(TMediaPlayer *player, int value)
{
    player->device().setVolume(value);
}
