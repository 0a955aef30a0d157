// Starts exactly as the tool does, and reports when its window is up.
#include "mainwindow.h"
#include "shown.h"

#include <QTranslator>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QTranslator translator;
    translator.load(QStringLiteral(":/ts/zh_CN.qm"));
    QCoreApplication::installTranslator(&translator);
    MainWindow window;
    return reportWhenShown(app, window);
}
