#include "ui/language.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

#include "app/string_tables.h"

namespace corvane {
namespace {

QTranslator& qtRussianTranslator() {
    static QTranslator translator;
    return translator;
}

}  // namespace

bool systemPrefersRussian() {
    return QLocale::system().language() == QLocale::Russian;
}

void applyLanguage(bool russian) {
    setUseRussian(russian);
    QTranslator& translator = qtRussianTranslator();
    QCoreApplication::removeTranslator(&translator);
    if (!russian) {
        return;
    }
    // Without Qt's translations installed the buttons stay English; nothing else changes.
    if (translator.isEmpty() &&
        !translator.load(QLocale(QLocale::Russian), QStringLiteral("qtbase"), QStringLiteral("_"),
                         QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        return;
    }
    QCoreApplication::installTranslator(&translator);
}

}  // namespace corvane
