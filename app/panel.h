#pragma once

#include <QFrame>
#include <QImage>
#include <QRect>

// The video panel: a raised, button-face panel that shows its caption until a
// video is bound to it, then the video's pictures inside the destination.
class TPanel : public QFrame
{
    Q_OBJECT
public:
    explicit TPanel(const QString &caption, QWidget *parent = nullptr);

    QString caption() const { return m_caption; }
    QImage frame() const { return m_frame; }
    QRect destination() const { return m_destination; }

    void setDestination(const QRect &rect);
    void showFrame(const QImage &frame);
    // The video is taken back: the caption shows again.
    void clearFrame();

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QString m_caption;
    QImage m_frame;
    QRect m_destination;
};
