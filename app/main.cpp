#include "mainwindow.h"

#include <QApplication>
#include <QTranslator>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);

    // The embedded catalogue turns the sensor's English confirmations into
    // Chinese. Without it the window still starts, untranslated.
    QTranslator translator;
    translator.load(QStringLiteral(":/ts/zh_CN.qm"));
    QCoreApplication::installTranslator(&translator);

    MainWindow window;
    window.show();
    return app.exec();
}
