#include "app/QtTranslation.h"

#include "QtCompat.h"

#include <QCoreApplication>
#include <QTranslator>

bool installQtChinese(QCoreApplication *app)
{
    auto *translator = new QTranslator(app);
    // Where Qt keeps them; the Windows package carries them in translations/
    // beside the program.
    const QStringList dirs = {qtTranslationsPath(),
                              QCoreApplication::applicationDirPath() + "/translations"};
    for (const QString &dir : dirs) {
        if (translator->load("qtbase_zh_CN", dir))
            return QCoreApplication::installTranslator(translator);
    }
    delete translator;
    return false;
}
