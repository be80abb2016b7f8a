#include "app/panel.h"

#include <QPainter>

TPanel::TPanel(const QString &caption, QWidget *parent) : QFrame(parent), m_caption(caption)
{
    setFrameStyle(QFrame::Panel | QFrame::Raised);
    setLineWidth(1);
    setBackgroundRole(QPalette::Button);
    setAutoFillBackground(true);
}

void TPanel::setDestination(const QRect &rect)
{
    m_destination = rect;
    update();
}

void TPanel::showFrame(const QImage &frame)
{
    m_frame = frame;
    update(m_destination.isValid() ? m_destination : contentsRect());
}

void TPanel::clearFrame()
{
    m_frame = QImage();
    update();
}

void TPanel::paintEvent(QPaintEvent *event)
{
    QFrame::paintEvent(event);
    QPainter painter(this);
    if (m_frame.isNull()) {
        painter.drawText(contentsRect(), Qt::AlignCenter, m_caption);
        return;
    }
    const QRect target = m_destination.isValid() ? m_destination : contentsRect();
    // Frames normally arrive at the destination size already; scale only
    // the odd one that was made before the destination changed.
    if (m_frame.size() == target.size())
        painter.drawImage(target.topLeft(), m_frame);
    else
        painter.drawImage(target, m_frame);
}
