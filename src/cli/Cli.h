#ifndef DVK_CLI_H
#define DVK_CLI_H

#include <QCommandLineParser>
#include <QString>
#include <QStringList>

// Shared conventions of the dvkctl subcommands: results on standard output,
// messages on standard error, exit 0 success / 1 failed / 2 bad usage.
namespace cli
{

enum Exit { ExitOk = 0, ExitFailed = 1, ExitUsage = 2 };

void out(const QString &text);     // standard output, no newline added
void outLine(const QString &text); // standard output, newline added
void err(const QString &text);     // standard error, newline added
bool stderrIsTerminal();

// Parses a subcommand's arguments (args[0] is the subcommand's name). Returns
// -1 when the caller should go on, or the exit code to return (help shown,
// or a usage error reported).
int parse(QCommandLineParser &parser, const QStringList &args, const QString &description);

// Reads a whole decimal number option; reports "bad number" and returns
// false when it is not one.
bool intOption(const QCommandLineParser &parser, const QString &name, int *value);

// Reads --scan-value as a scan value the model covers (1 to 16276); reports
// what is wrong, naming the subcommand, and returns false otherwise.
bool scanValueOption(const QCommandLineParser &parser, const QString &command, int *value);

// A port given as a name the discovery lists (ttyUSB0) or as a path.
QString portDevicePath(const QString &port);

// Subcommands; each receives its own name followed by its arguments.
int cmdPorts(const QStringList &args);
int cmdGenerate(const QStringList &args);
int cmdInspect(const QStringList &args);
int cmdPreview(const QStringList &args);
int cmdQuery(const QStringList &args);
int cmdBurn(const QStringList &args);
int cmdSimulate(const QStringList &args);
int cmdAnalyze(const QStringList &args);
int cmdDecode(const QStringList &args);

} // namespace cli

#endif
