#include "app/form1.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Cuevox"));
    QApplication::setApplicationDisplayName(QStringLiteral("Cuevox"));
    QApplication::setDesktopFileName(QStringLiteral("cuevox"));

    TForm1 form(QApplication::applicationDirPath());
    Form1 = &form;
    form.show();
    QApplication::exec();
    return 0;
}
