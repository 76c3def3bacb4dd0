// dvkctl: the window's work from a terminal or a script, on the same core.
#include "Cli.h"

#include "patterns/FileAccess.h"

#include <QCoreApplication>

#include <cstdio>

namespace
{

// The core's diagnostic lines are for the window's debug output; dvkctl's
// standard error carries only its own messages.
void quietDebug(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if (type == QtDebugMsg || type == QtInfoMsg)
        return;
    std::fprintf(stderr, "%s\n", qPrintable(message));
}

} // namespace

int main(int argc, char *argv[])
{
    qInstallMessageHandler(quietDebug);
    QCoreApplication app(argc, argv);
    installFileNameCodec(); // before the arguments are decoded
    QCoreApplication::setApplicationName("dvkctl");
    QCoreApplication::setApplicationVersion(DVK_VERSION);

    const QStringList args = fileNameArguments(argc, argv).mid(1);
    const cli::Command *command = args.isEmpty() ? nullptr : cli::findCommand(args.first());
    int rc = cli::ExitUsage;
    if (args.isEmpty()) {
        std::fputs(qPrintable(cli::usage()), stderr);
    } else if (args.first() == "--help" || args.first() == "-h") {
        cli::out(cli::usage());
        rc = cli::ExitOk;
    } else if (args.first() == "--version" || args.first() == "-v") {
        cli::outLine("dvkctl " DVK_VERSION);
        rc = cli::ExitOk;
    } else if (command) {
        rc = cli::runCommand(*command, args);
    } else {
        cli::err(QString("dvkctl: unknown subcommand '%1'").arg(args.first()));
        std::fputs(qPrintable(cli::usage()), stderr);
    }
    // Results that never reached standard output (a full disk, a closed
    // descriptor) are a failure, not a success that printed nothing.
    if (cli::standardOutputFailed()) {
        cli::err(QString("dvkctl%1: cannot write to standard output")
                     .arg(command ? " " + command->name : QString()));
        if (rc == cli::ExitOk)
            rc = cli::ExitFailed;
    }
    return rc;
}
