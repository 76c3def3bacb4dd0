#include "app/PlatformStart.h"
#include "app/QtTranslation.h"
#include "app/mainwindow.h"

#include "patterns/FileAccess.h"

#include <QApplication>
#include <QPixmap>
#include <QSplashScreen>

#include <memory>

int main(int argc, char *argv[])
{
    // The window paints with the raster engine and has no OpenGL surface, so
    // X11's GLX integration would only load the machine's GL driver at
    // start-up (Mesa's software driver: about 50 MB more memory and 60 ms
    // more to the window shown). A user's own choice of the variable stands.
    if (!qEnvironmentVariableIsSet("QT_XCB_GL_INTEGRATION"))
        qputenv("QT_XCB_GL_INTEGRATION", "none");
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
    window.setWindowTitle("DVK_SP_V" DVK_VERSION);
    window.show();
    splash.finish(&window);
    return app.exec();
}
