#ifndef DVK_CLI_H
#define DVK_CLI_H

#include "serial/ProjectorQuery.h"

#include <QCommandLineParser>
#include <QString>
#include <QStringList>

class mySerial;

// Shared conventions of the dvkctl subcommands: results on standard output,
// messages on standard error, exit 0 success / 1 failed / 2 bad usage.
namespace cli
{

enum Exit { ExitOk = 0, ExitFailed = 1, ExitUsage = 2 };

// A line's text as it is printed: control characters and the bytes of a
// file name that are not UTF-8 escaped (\n, \x1b, \xFF), so that a printed
// name is one line and names the file meant.
QString printable(const QString &text);

void out(const QString &text);     // standard output, as it is, no newline added
void outLine(const QString &text); // standard output, printable, newline added
void err(const QString &text);     // standard error, printable, newline added
bool stderrIsTerminal();

// Whether everything written to standard output got there (flushed now).
bool standardOutputFailed();

// Parses a subcommand's arguments (args[0] is the subcommand's name). Returns
// -1 when the caller should go on, or the exit code to return (help shown,
// or a usage error reported). An option that takes a value may be given
// once, except those named in `repeatable`.
int parse(QCommandLineParser &parser, const QStringList &args, const QString &description,
          const QStringList &repeatable = QStringList());

// The positional arguments of a subcommand that takes none: reports the
// first one given as unexpected (bad usage) and returns false.
bool noArguments(const QCommandLineParser &parser, const QString &command);

// The one FILE of a subcommand: reports none, or a second, as bad usage and
// returns false.
bool oneFile(const QCommandLineParser &parser, const QString &command, QString *file);

// Reads a whole decimal number option; reports "bad number" and returns
// false when it is not one.
bool intOption(const QCommandLineParser &parser, const QString &name, int *value);

// Reads a required whole-number option that must lie in low ... high;
// reports what is wrong, naming the subcommand, and returns false otherwise.
bool rangeOption(const QCommandLineParser &parser, const QString &command, const QString &name,
                 int low, int high, int *value);

// Reads --scan-value as a scan value the model covers (1 to 16276), as
// rangeOption does.
bool scanValueOption(const QCommandLineParser &parser, const QString &command, int *value);

// A port given as a name the discovery lists (ttyUSB0) or as a path.
QString portDevicePath(const QString &port);

// The device path of a --port value, for `command`'s messages. Returns -1
// to go on, or ExitUsage (reported) when the value is empty or no such
// device exists: the same for every subcommand that takes a port.
int portOption(const QString &command, const QString &port, QString *device);

// The file named by an output option (-o); reports an empty name, which is
// bad usage, and returns false then.
bool outputOption(const QCommandLineParser &parser, const QString &name, const QString &command,
                  QString *path);

// The projector's answer as scripts need it: the whole query ends within
// kQueryDeadlineMs however the bytes trickle in, and the answer is over after
// kAnswerSettleMs of quiet (the window waits 3 s for more).
constexpr int kQueryDeadlineMs = 10000;
constexpr int kAnswerSettleMs = 50;

// Asks the projector on `device` for its scan value with the window's rule,
// within those bounds; a stop signal ends it at once (see stopSignal()). With
// `open` the port is opened on `serial` and closed again; otherwise it is
// open already and stays open.
QueryResult askForScanValue(mySerial &serial, const QString &device, bool open);

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
int cmdCalibrate(const QStringList &args);
int cmdReconstruct(const QStringList &args);

} // namespace cli

#endif
