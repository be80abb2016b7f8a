#pragma once

#include "app/mediadevice.h"

#include <QAbstractButton>
#include <QPointer>
#include <QWidget>
#include <chrono>
#include <memory>

class TPanel;

// The kinds of button a media player bar can have; this bar shows Play and Pause.
enum TMPBtnType { btPlay, btPause, btStop, btNext, btPrev, btStep, btBack, btRecord, btEject };

// One button of the bar. It stays focusable and answers Space even when it is
// greyed, so the keyboard reaches it; the mouse only works on a usable one.
class TMPButton : public QAbstractButton
{
    Q_OBJECT
public:
    TMPButton(TMPBtnType kind, const QString &name, QWidget *parent);

    TMPBtnType kind() const { return m_kind; }
    bool usable() const { return m_usable; }
    void setUsable(bool usable);

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    void paintGlyph(QPainter &painter, const QRect &area, const QColor &color) const;

    TMPBtnType m_kind;
    bool m_usable = false;
};

// The transport bar over one media device: Play and Pause. Each click first
// goes to the click event, which may cancel the button's own action, then the
// action runs. Buttons are enabled by the device's mode; Play at the end of
// the media rewinds first; Pause toggles between pause and resume.
class TMediaPlayer : public QWidget
{
    Q_OBJECT
public:
    explicit TMediaPlayer(std::unique_ptr<TMediaDevice> device, QWidget *parent = nullptr);
    ~TMediaPlayer() override;

    TMediaDevice &device() const { return *m_device; }
    TMPButton *button(TMPBtnType kind) const;

    void setDisplay(TPanel *display);
    void setFileName(const QString &fileName) { m_fileName = fileName; }
    QString fileName() const { return m_fileName; }
    void open();
    void close();
    void setDisplayRect(const QRect &rect);
    // The device reports positions in milliseconds once this is set.
    void setTimeFormatMilliseconds() { m_milliseconds = true; }
    bool timeFormatMilliseconds() const { return m_milliseconds; }
    std::chrono::milliseconds position() const { return m_device->position(); }
    quint16 deviceId() const { return m_device->deviceId(); }
    TMediaDevice::Mode mode() const { return m_device->mode(); }

    // Runs one button as if clicked: the click event, then the action.
    void press(TMPBtnType kind);

signals:
    // Before a button's own action; clearing doDefault cancels the action.
    void click(QObject *sender, TMPBtnType button, bool &doDefault);

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    void runAction(TMPBtnType kind);
    void updateButtons();

    std::unique_ptr<TMediaDevice> m_device;
    TMPButton *m_play;
    TMPButton *m_pause;
    QPointer<TPanel> m_display;
    QString m_fileName;
    bool m_milliseconds = false;
};
