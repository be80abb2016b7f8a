#include "app/mediaplayer.h"

#include "app/errorbox.h"
#include "app/panel.h"

#include <QKeyEvent>
#include <QPainter>
#include <QStyleOptionFocusRect>

TMPButton::TMPButton(TMPBtnType kind, const QString &name, QWidget *parent)
    : QAbstractButton(parent), m_kind(kind)
{
    setAccessibleName(name);
    setToolTip(name);
    setFocusPolicy(Qt::StrongFocus);
}

void TMPButton::setUsable(bool usable)
{
    if (m_usable == usable)
        return;
    m_usable = usable;
    setAccessibleDescription(usable ? QString() : tr("unavailable"));
    update();
}

void TMPButton::mousePressEvent(QMouseEvent *event)
{
    if (!m_usable) {
        event->ignore();
        return;
    }
    QAbstractButton::mousePressEvent(event);
}

void TMPButton::keyPressEvent(QKeyEvent *event)
{
    // Left and Right move between the buttons of the bar, as on any button bar.
    if (event->key() == Qt::Key_Left || event->key() == Qt::Key_Right) {
        for (auto *sibling : parentWidget()->findChildren<TMPButton *>(Qt::FindDirectChildrenOnly)) {
            const bool wanted = event->key() == Qt::Key_Left ? sibling->kind() < m_kind
                                                             : sibling->kind() > m_kind;
            if (wanted) {
                sibling->setFocus(Qt::TabFocusReason);
                return;
            }
        }
        return;
    }
    QAbstractButton::keyPressEvent(event);
}

void TMPButton::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    const QPalette &pal = palette();
    const QRect r = rect();
    const bool sunken = isDown();
    painter.fillRect(r, pal.color(QPalette::Button));
    painter.setPen(sunken ? pal.color(QPalette::Shadow) : pal.color(QPalette::Light));
    painter.drawLine(r.topLeft(), r.topRight());
    painter.drawLine(r.topLeft(), r.bottomLeft());
    painter.setPen(sunken ? pal.color(QPalette::Light) : pal.color(QPalette::Shadow));
    painter.drawLine(r.bottomLeft(), r.bottomRight());
    painter.drawLine(r.topRight(), r.bottomRight());

    const QRect glyph = r.adjusted(r.width() / 3, r.height() / 3, -r.width() / 3, -r.height() / 3)
                            .translated(sunken ? 1 : 0, sunken ? 1 : 0);
    if (m_usable) {
        paintGlyph(painter, glyph, m_kind == btPlay ? QColor(0, 128, 0) : pal.color(QPalette::ButtonText));
    } else {
        paintGlyph(painter, glyph.translated(1, 1), pal.color(QPalette::Light));
        paintGlyph(painter, glyph, pal.color(QPalette::Dark));
    }
    if (hasFocus()) {
        QStyleOptionFocusRect option;
        option.initFrom(this);
        option.rect = r.adjusted(3, 3, -3, -3);
        style()->drawPrimitive(QStyle::PE_FrameFocusRect, &option, &painter, this);
    }
}

void TMPButton::paintGlyph(QPainter &painter, const QRect &area, const QColor &color) const
{
    painter.setPen(Qt::NoPen);
    painter.setBrush(color);
    if (m_kind == btPlay) {
        const QPointF triangle[] = {area.topLeft(), area.bottomLeft(),
                                    QPointF(area.right() + 1, area.center().y() + 0.5)};
        painter.drawPolygon(triangle, 3);
    } else {
        const int bar = qMax(2, area.width() / 3);
        painter.drawRect(QRect(area.left(), area.top(), bar, area.height()));
        painter.drawRect(QRect(area.right() + 1 - bar, area.top(), bar, area.height()));
    }
}

TMediaPlayer::TMediaPlayer(std::unique_ptr<TMediaDevice> device, QWidget *parent)
    : QWidget(parent),
      m_device(std::move(device)),
      m_play(new TMPButton(btPlay, tr("Play"), this)),
      m_pause(new TMPButton(btPause, tr("Pause"), this))
{
    setFocusProxy(m_play);
    setAccessibleName(tr("Transport"));
    for (auto *button : {m_play, m_pause})
        connect(button, &QAbstractButton::clicked, this, [this, button] { press(button->kind()); });
    connect(m_device.get(), &TMediaDevice::endOfMedia, this, &TMediaPlayer::updateButtons);
    connect(m_device.get(), &TMediaDevice::failed, this, &ShowErrorBox);
    updateButtons();
}

TMediaPlayer::~TMediaPlayer()
{
    close();
}

TMPButton *TMediaPlayer::button(TMPBtnType kind) const
{
    return kind == btPlay ? m_play : kind == btPause ? m_pause : nullptr;
}

void TMediaPlayer::resizeEvent(QResizeEvent *)
{
    // Two buttons sharing one pixel column: 29 + 29 - 1 = 57.
    const int width = (this->width() + 1) / 2;
    m_play->setGeometry(0, 0, width, height());
    m_pause->setGeometry(width - 1, 0, width, height());
}

void TMediaPlayer::setDisplay(TPanel *display)
{
    m_display = display;
}

void TMediaPlayer::open()
{
    if (m_display)
        connect(m_device.get(), &TMediaDevice::frameReady, m_display.data(), &TPanel::showFrame,
                Qt::UniqueConnection);
    m_device->open(m_fileName);
    updateButtons();
}

void TMediaPlayer::close()
{
    m_device->close();
    if (m_display) {
        disconnect(m_device.get(), nullptr, m_display.data(), nullptr);
        m_display->clearFrame();
    }
    updateButtons();
}

void TMediaPlayer::setDisplayRect(const QRect &rect)
{
    m_device->setDestination(rect);
    if (m_display)
        m_display->setDestination(rect);
}

void TMediaPlayer::press(TMPBtnType kind)
{
    RunGuarded([this, kind] {
        bool doDefault = true;
        emit click(this, kind, doDefault);
        if (doDefault)
            runAction(kind);
    });
}

void TMediaPlayer::runAction(TMPBtnType kind)
{
    if (kind == btPlay) {
        m_device->play();
    } else if (kind == btPause) {
        if (m_device->mode() == TMediaDevice::Mode::Paused)
            m_device->resume();
        else
            m_device->pause();
    }
    updateButtons();
}

void TMediaPlayer::updateButtons()
{
    const auto mode = m_device->mode();
    m_play->setUsable(mode == TMediaDevice::Mode::Stopped || mode == TMediaDevice::Mode::Paused);
    m_pause->setUsable(mode == TMediaDevice::Mode::Playing || mode == TMediaDevice::Mode::Paused);
}
