#include "app/PlatformStart.h"

#include <QByteArray>
#include <QString>
#include <QVector>

#include <cstdio>
#include <cstdlib>

namespace
{

struct HeldMessage {
    QtMsgType type;
    QByteArray file, function, category;
    int line;
    QString text;
};

QVector<HeldMessage> held;
QtMessageHandler previousHandler = nullptr;

void writeHeld()
{
    for (const HeldMessage &m : qAsConst(held)) {
        const QMessageLogContext context(m.file.constData(), m.line, m.function.constData(),
                                         m.category.constData());
        qt_message_output(m.type, context, m.text);
    }
    held.clear();
}

bool displayUnreachable()
{
    for (const HeldMessage &m : qAsConst(held)) {
        if (m.text.contains(QLatin1String("could not connect to display")))
            return true;
    }
    return false;
}

void holdMessage(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    if (type != QtFatalMsg) {
        held.append({type, context.file, context.function, context.category, context.line, text});
        return;
    }
    // Qt found no window system it could use; it would abort now.
    if (displayUnreachable()) {
        const QByteArray display = qgetenv("DISPLAY");
        const QByteArray where = display.isEmpty()
                                     ? QByteArray("no display found (DISPLAY is not set)")
                                     : "cannot reach the display \"" + display + "\"";
        std::fprintf(stderr,
                     "dvk-sp: %s: run it in a desktop session or under xvfb-run, or use "
                     "dvkctl on the command line\n",
                     where.constData());
    } else {
        qInstallMessageHandler(previousHandler);
        writeHeld();
        std::fprintf(stderr, "dvk-sp: %s\n", qPrintable(text));
    }
    std::fflush(stderr);
    // Nothing has been built that needs tearing down; leave without the
    // static destructors of a half-constructed application.
    std::_Exit(1);
}

} // namespace

PlatformStartGuard::PlatformStartGuard()
{
    previousHandler = qInstallMessageHandler(holdMessage);
}

PlatformStartGuard::~PlatformStartGuard()
{
    qInstallMessageHandler(previousHandler);
    writeHeld();
}
