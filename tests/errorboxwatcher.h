#pragma once

#include <QApplication>
#include <QMessageBox>
#include <QStringList>
#include <QTimer>

// Answers every error box that opens: records its caption and text and presses
// OK, so code that shows one can run inside a test.
class ErrorBoxWatcher : public QObject
{
public:
    ErrorBoxWatcher()
    {
        connect(&m_timer, &QTimer::timeout, this, &ErrorBoxWatcher::poll);
        m_timer.start(5);
    }

    QStringList texts;
    QStringList captions;

private:
    void poll()
    {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box || !box->isVisible())
            return;
        texts << box->text();
        captions << box->windowTitle();
        m_icons << box->icon();
        box->button(QMessageBox::Ok)->click();
    }

    QTimer m_timer;
    QList<QMessageBox::Icon> m_icons;

public:
    const QList<QMessageBox::Icon> &icons() const { return m_icons; }
};
