#include "catalogue.h"
#include "mainwindow.h"

#include <QApplication>
#include <QFont>
#include <QTranslator>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);

    // The form asks for a Windows font family that Linux lacks. Without a
    // substitute Qt takes the Chinese glyphs from a CJK font and the Latin
    // letters, digits and hex from another family, at the form's hairline
    // weight; mapped to an installed CJK family, every glyph comes from it.
    QFont::insertSubstitutions(QStringLiteral("微软雅黑"), {QStringLiteral("WenQuanYi Micro Hei"),
                                                            QStringLiteral("Noto Sans CJK SC"),
                                                            QStringLiteral("Source Han Sans SC"),
                                                            QStringLiteral("WenQuanYi Zen Hei"),
                                                            QStringLiteral("Droid Sans Fallback")});

    // The embedded catalogue turns the sensor's English confirmations into
    // Chinese. Without it the window still starts, untranslated.
    QTranslator translator;
    installCatalogue(translator);

    MainWindow window;
    window.show();
    return app.exec();
}
