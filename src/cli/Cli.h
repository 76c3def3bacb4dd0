#ifndef DVK_CLI_H
#define DVK_CLI_H

#include "serial/ProjectorQuery.h"

#include <QCommandLineParser>
#include <QList>
#include <QString>
#include <QStringList>

#include <vector>

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

struct Command;

// What a subcommand's handler receives: its arguments, parsed and checked
// against its declaration.
struct Call {
    const Command &command;
    const QCommandLineParser &parser;
    QString tag; // "dvkctl NAME", as its messages begin
};

// A positional argument as `--help` lists it.
struct Argument {
    QString name;
    QString description;
    QString syntax; // the usage line's form; empty: the name
};

// One subcommand, declared once: the usage list, its `--help`, the checks
// of its options and the dispatch all come from this.
struct Command {
    QString name;        // as typed after dvkctl
    QString summary;     // its line in `dvkctl --help`
    QString description; // the head of `dvkctl NAME --help`
    QList<QCommandLineOption> options;
    QList<Argument> arguments;
    QStringList repeatable; // options that may be given more than once
    int (*run)(const Call &call);

    // "dvkctl NAME", as its messages begin.
    QString tag() const { return "dvkctl " + name; }
};

// Every subcommand, in the order `dvkctl --help` lists them.
const std::vector<const Command *> &commands();

// `dvkctl --help`: the subcommands with their summaries.
QString usage();

// The subcommand called `name`, or null.
const Command *findCommand(const QString &name);

// Runs `command` on its arguments (args[0] is its name): parses them, shows
// its help or reports bad usage, else calls its handler. Returns the exit code.
int runCommand(const Command &command, const QStringList &args);

// The --port option of the subcommands that talk to a projector, and the
// check they share: the device path of a port that must be given. Returns
// -1 to go on, or ExitUsage (reported).
QCommandLineOption
portOptionDeclaration(const QString &description = "The projector's serial port (path or name).");
int requiredPort(const Call &call, QString *device);

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

// A port given as a name the discovery lists (ttyUSB0, a simulator's name)
// or as a path.
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

// The subcommands' declarations, each in its own file.
extern const Command portsCommand;
extern const Command generateCommand;
extern const Command inspectCommand;
extern const Command previewCommand;
extern const Command analyzeCommand;
extern const Command decodeCommand;
extern const Command calibrateCommand;
extern const Command reconstructCommand;
extern const Command queryCommand;
extern const Command burnCommand;
extern const Command simulateCommand;

} // namespace cli

#endif
