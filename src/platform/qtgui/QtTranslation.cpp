#include "platform/qtgui/QtTranslation.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

namespace tarvel {

bool LoadQtTranslation() {
    // Lives as long as the application, as the translator must.
    static QTranslator translator;
    if (translator.isEmpty() &&
        !translator.load(QStringLiteral("qtbase_it"),
                         QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        return false;
    return QCoreApplication::installTranslator(&translator);
}

}  // namespace tarvel
