// dvkctl simulate: a stand-in for the projector on a pseudo-terminal. It
// answers the scan-value query and reads burn transfers with the same protocol
// code the burn uses, reporting each as one JSON line.
#include "Cli.h"

#include "ProjectorSimulator.h"

#include "serial/PseudoTerminal.h"
#include "serial/SimulatorPorts.h"

#include <QDir>
#include <QRegularExpression>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <limits>

#include <fcntl.h>
#include <unistd.h>

namespace cli
{

namespace
{

int signalPipe[2] = {-1, -1};

void onSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t r = ::write(signalPipe[1], &byte, 1);
}

bool parseOptions(const Call &call, SimulatorOptions *o)
{
    const QCommandLineParser &parser = call.parser;
    const QString &kName = call.tag;
    o->tag = call.tag;
    const int answerForms =
        int(parser.isSet("scan-value")) + int(parser.isSet("answer")) + int(parser.isSet("silent"));
    if (answerForms > 1) {
        err(kName + ": give at most one of --scan-value, --answer, --silent");
        return false;
    }
    int scan = 10000;
    // Any two bytes: the simulator also stands in for projectors that
    // report values the model does not cover.
    if (parser.isSet("scan-value") && !rangeOption(parser, kName, "scan-value", 0, 0xFFFF, &scan))
        return false;
    o->answer = QByteArray();
    o->answer.append(char(scan >> 8));
    o->answer.append(char(scan & 0xFF));
    if (parser.isSet("answer")) {
        const QString text = parser.value("answer");
        static const QRegularExpression hexBytes("^([0-9A-Fa-f]{2})+$");
        if (!hexBytes.match(text).hasMatch()) {
            err(QString(kName + ": --answer: '%1' is not hexadecimal bytes").arg(text));
            return false;
        }
        o->answer = QByteArray::fromHex(text.toLatin1());
    }
    if (parser.isSet("silent"))
        o->answer.clear();
    if (parser.isSet("baud")) {
        int baud = 0;
        if (!rangeOption(parser, kName, "baud", 1, std::numeric_limits<int>::max(), &baud))
            return false;
        o->baud = baud;
    }
    if (parser.isSet("record")) {
        o->recordDir = parser.value("record");
        if (!QDir().mkpath(o->recordDir)) {
            err(QString(kName + ": --record: cannot create '%1'").arg(o->recordDir));
            return false;
        }
    }
    o->link = parser.value("link");
    if (parser.isSet("link") && o->link.isEmpty()) {
        err(kName + ": --link: the path is empty");
        return false;
    }
    o->nameGiven = parser.isSet("name");
    o->name =
        o->nameGiven ? parser.value("name") : QString("simulator-%1").arg(qlonglong(::getpid()));
    if (!simulatorports::validName(o->name)) {
        err(QString(kName + ": --name: '%1' is not a plain file name").arg(o->name));
        return false;
    }
    o->once = parser.isSet("once");
    return true;
}

} // namespace

int runSimulator(const Call &call)
{
    const QCommandLineParser &parser = call.parser;
    const QString &kName = call.tag;
    if (!noArguments(parser, kName))
        return ExitUsage;
    SimulatorOptions options;
    if (!parseOptions(call, &options))
        return ExitUsage;

    if (::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        err(kName + ": cannot create a pipe");
        return ExitFailed;
    }
    QString path;
    int keep = -1;
    const int master = openPseudoTerminal(&path, &keep);
    if (master < 0) {
        err(QString(kName + ": cannot open a pseudo-terminal: %1").arg(strerror(errno)));
        return ExitFailed;
    }
    // From here on a signal ends the run through the loop, which removes the
    // links made below.
    struct sigaction sa = {};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    // A closed terminal and SIGQUIT end it the same way, or the link and
    // the port list's entry would outlive it.
    for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT})
        ::sigaction(signal, &sa, nullptr);
    ::signal(SIGPIPE, SIG_IGN);

    // --link is made only where nothing is, and removed at the end only
    // while it is still ours.
    OwnedLink link;
    if (!options.link.isEmpty()) {
        QString why;
        if (!link.make(options.link, path, &why)) {
            err(kName + ": --link: " + why);
            return ExitUsage;
        }
    }
    // Listed in the window's port list while it runs. Without --name a
    // failure only costs that listing.
    SimulatorRegistration registration;
    {
        QString why;
        if (!registration.make(options.name, path, &why)) {
            err(kName + ": not listed in the window's port list: " + why);
            if (options.nameGiven)
                return ExitFailed;
        }
    }

    // Watched before anyone learns the path, so that every client is counted.
    PortClients clients(path, keep);
    outLine(path);

    ProjectorSimulator simulator(options, master, signalPipe[0], clients);
    simulator.run();

    registration.remove();
    link.remove();
    ::close(master);
    ::close(keep);
    return ExitOk;
}

} // namespace cli
