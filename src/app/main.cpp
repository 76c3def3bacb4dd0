#include "PlatformStart.h"
#include "QtTranslation.h"
#include "mainwindow.h"

#include "patterns/FileAccess.h"

#include <QApplication>
#include <QPixmap>
#include <QSplashScreen>

#include <memory>

int main(int argc, char *argv[])
{
    auto platformStart = std::make_unique<PlatformStartGuard>();
    QApplication app(argc, argv);
    platformStart.reset();
    installFileNameCodec(); // file names from the dialogs open by their own bytes
    Q_INIT_RESOURCE(resources);
    installQtChinese(&app);

    QPixmap logo(":/Icon/logo.png");
    QSplashScreen splash(logo);
    splash.show();
    app.processEvents(QEventLoop::AllEvents);

    MainWindow window;
    window.setWindowTitle("DVK_SP_V2.03");
    window.show();
    splash.finish(&window);
    return app.exec();
}
