// dvkctl inspect: scans a pattern file as the window's loader does and says
// whether it can be burned.
#include "Cli.h"

#include "burnfile/BurnFile.h"

#include <QJsonDocument>
#include <QJsonObject>

namespace cli
{

int cmdInspect(const QStringList &args)
{
    QCommandLineParser parser;
    const QCommandLineOption json("json", "One JSON object on standard output.");
    parser.addOption(json);
    parser.addPositionalArgument("FILE", "The pattern file to scan.");
    const int rc = parse(parser, args,
                         "Scans a pattern file as the window's loader does: values, minimum and "
                         "maximum (the loader starts them at 255 and 0), whole pages, values past "
                         "the last whole page, and whether it can be burned.\n"
                         "Exit: 0 burnable, 1 not burnable, 2 cannot read.");
    if (rc >= 0)
        return rc;
    QString file;
    if (!oneFile(parser, "dvkctl inspect", &file))
        return ExitUsage;

    const BurnFileCheck check = checkBurnFile(file);
    // The check reads nothing of a file too large to burn; the counts are
    // then those of the part the window's loader reads.
    const BurnFileScan scan =
        check.status == BurnFileStatus::TooLarge ? scanBurnFile(file) : check.scan;
    if (!scan.opened) {
        err(QString("dvkctl inspect: cannot open '%1': %2").arg(file, scan.error));
        return ExitUsage;
    }

    if (parser.isSet(json)) {
        QJsonObject o;
        o["file"] = file;
        o["values"] = scan.count;
        o["min"] = scan.min;
        o["max"] = scan.max;
        o["pages"] = scan.pages();
        o["tail"] = scan.tail();
        o["burnable"] = check.burnable();
        o["reason"] = check.burnable() ? QJsonValue() : QJsonValue(check.reason);
        o["line"] = check.badLine > 0 ? QJsonValue(check.badLine) : QJsonValue();
        outLine(QString::fromUtf8(QJsonDocument(o).toJson(QJsonDocument::Compact)));
    } else {
        outLine("file: " + file);
        outLine(QString("values: %1").arg(scan.count));
        outLine(QString("min: %1").arg(scan.min));
        outLine(QString("max: %1").arg(scan.max));
        outLine(QString("pages: %1").arg(scan.pages()));
        outLine(QString("tail: %1").arg(scan.tail()));
        outLine(check.burnable() ? QString("burnable: yes")
                                 : QString("burnable: no (%1)").arg(check.reason));
    }
    return check.burnable() ? ExitOk : ExitFailed;
}

} // namespace cli
