// dvkctl: the window's work from a terminal or a script, on the same core.
#include "Cli.h"

#include <QCoreApplication>

#include <cstdio>
#include <functional>
#include <map>

namespace
{

const char *kUsage = "Usage: dvkctl [--help] [--version] SUBCOMMAND [options]\n"
                     "\n"
                     "Subcommands:\n"
                     "  ports      list the serial ports the system offers\n"
                     "  generate   write a pattern set (phase, gray, square, dark, light)\n"
                     "  inspect    scan a pattern file as the window's loader does\n"
                     "  preview    render a page of a pattern file to PNG\n"
                     "  analyze    decode pattern sets of a file and check them\n"
                     "  decode     decode camera captures of projected sets, check the burn\n"
                     "  query      ask the projector for its scan value\n"
                     "  burn       burn a pattern file into the projector\n"
                     "  simulate   run the projector simulator on a pseudo-terminal\n"
                     "\n"
                     "'dvkctl SUBCOMMAND --help' describes a subcommand's options.\n";

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
    QCoreApplication::setApplicationName("dvkctl");
    QCoreApplication::setApplicationVersion("2.03");

    const std::map<QString, std::function<int(const QStringList &)>> commands = {
        {"ports", cli::cmdPorts},       {"generate", cli::cmdGenerate},
        {"inspect", cli::cmdInspect},   {"preview", cli::cmdPreview},
        {"query", cli::cmdQuery},       {"burn", cli::cmdBurn},
        {"simulate", cli::cmdSimulate}, {"analyze", cli::cmdAnalyze},
        {"decode", cli::cmdDecode},
    };

    const QStringList args = app.arguments().mid(1);
    if (args.isEmpty()) {
        std::fputs(kUsage, stderr);
        return cli::ExitUsage;
    }
    const QString first = args.first();
    if (first == "--help" || first == "-h") {
        std::fputs(kUsage, stdout);
        return cli::ExitOk;
    }
    if (first == "--version" || first == "-v") {
        cli::outLine("dvkctl 2.03");
        return cli::ExitOk;
    }
    const auto it = commands.find(first);
    if (it == commands.end()) {
        cli::err(QString("dvkctl: unknown subcommand '%1'").arg(first));
        std::fputs(kUsage, stderr);
        return cli::ExitUsage;
    }
    return it->second(args);
}
