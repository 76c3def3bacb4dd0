#include "QtTranslation.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

bool installQtChinese(QCoreApplication *app)
{
    auto *translator = new QTranslator(app);
    if (!translator->load("qtbase_zh_CN", QLibraryInfo::location(QLibraryInfo::TranslationsPath))) {
        delete translator;
        return false;
    }
    return QCoreApplication::installTranslator(translator);
}
