#include "QtTranslation.h"

#include "QtCompat.h"

#include <QCoreApplication>
#include <QTranslator>

bool installQtChinese(QCoreApplication *app)
{
    auto *translator = new QTranslator(app);
    if (!translator->load("qtbase_zh_CN", qtTranslationsPath())) {
        delete translator;
        return false;
    }
    return QCoreApplication::installTranslator(translator);
}
