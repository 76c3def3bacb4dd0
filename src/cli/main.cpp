// dvkctl: the window's work from a terminal or a script, on the same core.
#include "Cli.h"

#include "patterns/FileAccess.h"

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
                     "  calibrate  calibrate the camera and light sheets from a chessboard\n"
                     "  reconstruct  triangulate captures into a point cloud and depth map\n"
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
    installFileNameCodec(); // before the arguments are decoded
    QCoreApplication::setApplicationName("dvkctl");
    QCoreApplication::setApplicationVersion(DVK_VERSION);

    const std::map<QString, std::function<int(const QStringList &)>> commands = {
        {"ports", cli::cmdPorts},
        {"generate", cli::cmdGenerate},
        {"inspect", cli::cmdInspect},
        {"preview", cli::cmdPreview},
        {"query", cli::cmdQuery},
        {"burn", cli::cmdBurn},
        {"simulate", cli::cmdSimulate},
        {"analyze", cli::cmdAnalyze},
        {"decode", cli::cmdDecode},
        {"calibrate", cli::cmdCalibrate},
        {"reconstruct", cli::cmdReconstruct},
    };

    const QStringList args = fileNameArguments(argc, argv).mid(1);
    int rc = cli::ExitUsage;
    if (args.isEmpty()) {
        std::fputs(kUsage, stderr);
    } else if (args.first() == "--help" || args.first() == "-h") {
        std::fputs(kUsage, stdout);
        rc = cli::ExitOk;
    } else if (args.first() == "--version" || args.first() == "-v") {
        cli::outLine("dvkctl " DVK_VERSION);
        rc = cli::ExitOk;
    } else if (const auto it = commands.find(args.first()); it != commands.end()) {
        rc = it->second(args);
    } else {
        cli::err(QString("dvkctl: unknown subcommand '%1'").arg(args.first()));
        std::fputs(kUsage, stderr);
    }
    // Results that never reached standard output (a full disk, a closed
    // descriptor) are a failure, not a success that printed nothing.
    if (cli::standardOutputFailed()) {
        cli::err(QString("dvkctl%1: cannot write to standard output")
                     .arg(args.isEmpty() || !commands.count(args.first()) ? QString()
                                                                          : " " + args.first()));
        if (rc == cli::ExitOk)
            rc = cli::ExitFailed;
    }
    return rc;
}
