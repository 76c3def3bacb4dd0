// dvkctl inspect: scans a pattern file as the window's loader does and says
// whether it can be burned.
#include "Cli.h"

#include "burnfile/BurnFile.h"

#include <QJsonDocument>
#include <QJsonObject>

namespace cli
{

namespace
{
int run(const Call &call);
} // namespace

const Command inspectCommand{
    "inspect",
    "scan a pattern file as the window's loader does",
    "Scans a pattern file as the window's loader does: values, minimum and maximum (the loader "
    "starts them at 255 and 0), whole pages, values past the last whole page, and whether it can "
    "be burned.\nExit: 0 burnable, 1 not burnable, 2 cannot read.",
    {{"json", "One JSON object on standard output."}},
    {{"FILE", "The pattern file to scan.", {}}},
    {},
    run};

namespace
{

int run(const Call &call)
{
    QString file;
    if (!oneFile(call.parser, call.tag, &file))
        return ExitUsage;

    const BurnFileCheck check = checkBurnFile(file);
    // The check reads nothing of a file too large to burn; the counts are
    // then those of the part the window's loader reads.
    const BurnFileScan scan =
        check.status == BurnFileStatus::TooLarge ? scanBurnFile(file) : check.scan;
    if (!scan.opened) {
        err(QString("%1: cannot open '%2': %3").arg(call.tag, file, scan.error));
        return ExitUsage;
    }

    if (call.parser.isSet("json")) {
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

} // namespace

} // namespace cli
