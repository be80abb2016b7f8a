#include "app/errorbox.h"

#include "app/error.h"

#include <QApplication>
#include <QMessageBox>

QString ErrorBoxText(const QString &message)
{
    if (!message.isEmpty() && message.back() > QLatin1Char('.'))
        return message + QLatin1Char('.');
    return message;
}

void ShowErrorBox(const QString &message)
{
    QMessageBox box(QMessageBox::Critical, QStringLiteral("Cuevox"), ErrorBoxText(message),
                    QMessageBox::Ok, QApplication::activeWindow());
    box.setWindowModality(Qt::ApplicationModal);
    box.exec();
}

void RunGuarded(const std::function<void()> &handler)
{
    try {
        handler();
    } catch (const Error &error) {
        ShowErrorBox(error.message());
    } catch (const std::exception &error) {
        ShowErrorBox(QString::fromLocal8Bit(error.what()));
    }
}
