#include "BurnFile.h"

#include <QFile>
#include <QTextStream>

namespace
{

// Opens a burn file the way every reader of it does: read-only, text mode
// (so "\r\n" reads as "\n"), through a text stream whose readLine gives each
// line without its terminator. A last line without a line feed is a line; a
// final line feed adds none.
class LineReader
{
public:
    explicit LineReader(const QString &path) : file(path)
    {
        opened = file.open(QIODevice::ReadOnly | QIODevice::Text);
        if (opened)
            stream.setDevice(&file);
        else
            error = file.errorString();
    }

    bool atEnd() const { return stream.atEnd(); }
    QString readLine() { return stream.readLine(); }

    bool opened = false;
    QString error;

private:
    QFile file;
    QTextStream stream;
};

// A line as it may appear in a message: at most 40 characters, however long
// the line in the file.
QString shortText(const QString &line)
{
    return line.size() > 40 ? line.left(37) + "..." : line;
}

} // namespace

int convertBurnLine(const QString &line)
{
    bool ok = false;
    const int value = line.toInt(&ok, 16);
    return ok ? value : 0;
}

BurnFileScan scanBurnFile(const QString &path)
{
    BurnFileScan scan;
    LineReader reader(path);
    if (!reader.opened) {
        scan.error = reader.error;
        return scan;
    }
    scan.opened = true;
    while (!reader.atEnd()) {
        const int v = convertBurnLine(reader.readLine());
        scan.max = qMax(scan.max, v);
        scan.min = qMin(scan.min, v);
        ++scan.count;
    }
    return scan;
}

BurnPage readBurnPage(const QString &path, qint64 pageIndex)
{
    BurnPage page;
    LineReader reader(path);
    if (!reader.opened) {
        page.error = reader.error;
        return page;
    }
    page.opened = true;
    const qint64 skip = qMax<qint64>(pageIndex, 0) * kSamplesPerPage;
    for (qint64 n = 0; n < skip && !reader.atEnd(); ++n)
        reader.readLine();
    page.values.reserve(kSamplesPerPage);
    while (page.values.size() < kSamplesPerPage && !reader.atEnd())
        page.values.append(convertBurnLine(reader.readLine()));
    return page;
}

BurnFileCheck checkBurnFile(const QString &path)
{
    BurnFileCheck check;
    LineReader reader(path);
    if (!reader.opened) {
        check.scan.error = reader.error;
        check.reason = QString("cannot open the file: %1").arg(reader.error);
        return check;
    }
    BurnFileScan &scan = check.scan;
    scan.opened = true;
    check.values.reserve(kMaxBurnSamples);
    while (!reader.atEnd()) {
        const QString line = reader.readLine();
        const int v = convertBurnLine(line);
        scan.max = qMax(scan.max, v);
        scan.min = qMin(scan.min, v);
        ++scan.count;
        if (scan.count > kMaxBurnSamples)
            continue; // still counted; none of these values is kept
        if ((v < 0 || v > 0xFF) && check.badLine == 0) {
            check.badLine = scan.count;
            check.badValue = v;
            check.badText = shortText(line);
        }
        if (check.badLine == 0)
            check.values.push_back(quint8(v));
    }

    if (scan.overLimit()) {
        check.status = BurnFileStatus::TooManyValues;
        check.badLine = kMaxBurnSamples + 1;
        check.badValue = 0;
        check.badText.clear();
        check.reason = QString("more than %1 values (%2)").arg(kMaxBurnSamples).arg(scan.count);
    } else if (scan.count < kSamplesPerPage) {
        check.status = BurnFileStatus::NoWholePage;
        check.badLine = 0;
        check.badText.clear();
        check.reason = QString("no whole pattern: %1 values, fewer than %2")
                           .arg(scan.count)
                           .arg(kSamplesPerPage);
    } else if (check.badLine != 0) {
        check.status = BurnFileStatus::ValueOutOfRange;
        check.reason = QString("value %1 outside 0x00-0xFF at line %2 ('%3')")
                           .arg(check.badValue)
                           .arg(check.badLine)
                           .arg(check.badText);
    } else {
        check.status = BurnFileStatus::Burnable;
    }
    if (!check.burnable()) {
        check.values.clear();
        check.values.shrink_to_fit();
    }
    return check;
}
