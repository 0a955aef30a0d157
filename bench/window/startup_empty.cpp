// The baseline: an empty main window built the same way.
#include "shown.h"

#include <QMainWindow>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QMainWindow window;
    window.resize(1197, 795);
    return reportWhenShown(app, window);
}
