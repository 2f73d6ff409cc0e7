#include "app/InterfaceLanguage.h"

#include <QCoreApplication>
#include <QLocale>
#include <QTranslator>

bool InterfaceLanguage::install(QTranslator& translator, const QStringList& languages)
{
    for (const QString& language : languages) {
        const QLocale locale(language);
        if (locale.language() == QLocale::Chinese)
            return false;
        if (translator.load(":/i18n/" + locale.name()))
            return QCoreApplication::installTranslator(&translator);
    }
    return false;
}
