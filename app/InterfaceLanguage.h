#pragma once

#include <QStringList>

class QTranslator;

// The program's texts are written in Chinese. A translation under ":/i18n/"
// serves a user who ranks its language above every Chinese one.
namespace InterfaceLanguage {

// Loads and installs the translation of the first language in the list (most
// wanted first) that has one, unless a Chinese language comes before it.
// True when one was installed.
bool install(QTranslator& translator, const QStringList& languages);

} // namespace InterfaceLanguage
