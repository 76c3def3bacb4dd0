// The subcommand table and what is made from it: the usage list, each
// subcommand's help and option checks, and the dispatch.
#include "Cli.h"

#include <QSet>

namespace cli
{

const std::vector<const Command *> &commands()
{
    // The order of `dvkctl --help`: files first, then the projector.
    static const std::vector<const Command *> all = {
        &portsCommand,   &generateCommand, &inspectCommand,   &previewCommand,
        &analyzeCommand, &decodeCommand,   &calibrateCommand, &reconstructCommand,
        &queryCommand,   &burnCommand,     &simulateCommand,
    };
    return all;
}

QString usage()
{
    // A name longer than the column pushes its summary along.
    constexpr int kNameColumn = 9;
    QString text = "Usage: dvkctl [--help] [--version] SUBCOMMAND [options]\n"
                   "\n"
                   "Subcommands:\n";
    for (const Command *command : commands())
        text += "  " + command->name.leftJustified(kNameColumn) + "  " + command->summary + '\n';
    return text + "\n'dvkctl SUBCOMMAND --help' describes a subcommand's options.\n";
}

const Command *findCommand(const QString &name)
{
    for (const Command *command : commands())
        if (command->name == name)
            return command;
    return nullptr;
}

namespace
{

QString dashed(const QString &name)
{
    return (name.size() == 1 ? "-" : "--") + name;
}

// Returns -1 to go on, or the exit code (help shown, bad usage reported).
int parse(QCommandLineParser &parser, const Command &command, const QStringList &args,
          const QString &tag)
{
    parser.setApplicationDescription(command.description);
    for (const QCommandLineOption &option : command.options)
        parser.addOption(option);
    for (const Argument &argument : command.arguments)
        parser.addPositionalArgument(argument.name, argument.description, argument.syntax);
    const QCommandLineOption help(QStringList{"h", "help"}, "Show this help.");
    parser.addOption(help);
    QStringList argv = args;
    argv[0] = tag;
    if (!parser.parse(argv)) {
        err(QString("%1: %2").arg(tag, parser.errorText()));
        return ExitUsage;
    }
    if (parser.isSet(help)) {
        // The parser names the program by its path; the usage line names
        // the subcommand as it is typed.
        QString text = parser.helpText();
        const int end = text.indexOf(QLatin1String(" [options]"));
        if (text.startsWith(QLatin1String("Usage: ")) && end > 0)
            text.replace(7, end - 7, tag);
        out(text);
        return ExitOk;
    }
    // optionNames() holds one entry per occurrence: each name is looked at
    // once, so thousands of repeats cost no more than their count.
    QStringList names;
    QSet<QString> seen;
    for (const QString &name : parser.optionNames()) {
        if (!seen.contains(name))
            names << name;
        seen.insert(name);
    }
    for (const QString &name : names) {
        // "--steps --stripes 8": the parser takes the next option as the
        // value, and the error would be about whatever is left over.
        for (const QString &value : parser.values(name)) {
            if (value.startsWith("--") && value.size() > 2 && value.at(2).isLetter()) {
                err(QString("%1: %2 needs a value (the next word is the option '%3')")
                        .arg(tag, dashed(name), value));
                return ExitUsage;
            }
        }
    }
    // The parser keeps every value and value() gives the last: a second
    // value would silently win over the first.
    for (const QString &name : names) {
        const QStringList values = parser.values(name);
        if (values.size() > 1 && !command.repeatable.contains(name)) {
            err(QString("%1: %2 given more than once ('%3')")
                    .arg(tag, dashed(name), values.join("', '")));
            return ExitUsage;
        }
    }
    return -1;
}

} // namespace

int runCommand(const Command &command, const QStringList &args)
{
    const QString tag = command.tag();
    QCommandLineParser parser;
    const int rc = parse(parser, command, args, tag);
    if (rc >= 0)
        return rc;
    return command.run(Call{command, parser, tag});
}

} // namespace cli
