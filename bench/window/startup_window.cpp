// Starts exactly as the tool does, and reports when its window is up.
#include "catalogue.h"
#include "mainwindow.h"
#include "shown.h"

#include <QTranslator>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QTranslator translator;
    installCatalogue(translator);
    MainWindow window;
    return reportWhenShown(app, window);
}
