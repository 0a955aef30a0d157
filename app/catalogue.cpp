#include "catalogue.h"

#include <QCoreApplication>
#include <QTranslator>

bool installCatalogue(QTranslator &translator)
{
    const bool loaded = translator.load(QLatin1String(kCataloguePath));
    QCoreApplication::installTranslator(&translator);
    return loaded;
}
