#include "BurnFile.h"

#include "patterns/FileAccess.h"

#include <QDateTime>
#include <QFileInfo>
#include <QRegularExpression>

#include <cstring>

#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace
{

constexpr int kReadChunk = 1 << 16;

// A line as it may appear in a message: at most 40 characters, whatever the
// line holds; bytes outside printable ASCII (a terminal's control sequences,
// NULs, invalid text) are shown as \xHH.
QString shortText(const BurnLine &line)
{
    QString text;
    for (const char c : line.text) {
        const uchar b = uchar(c);
        if (b >= 0x20 && b < 0x7F && b != '\\')
            text += QChar(b);
        else
            text += QString("\\x%1").arg(b, 2, 16, QChar('0'));
    }
    if (line.tooLong || text.size() > 40)
        text = text.left(37) + "...";
    return text;
}

} // namespace

BurnLineReader::BurnLineReader(const QString &path)
{
    isOpen = openRegularFile(file, path, QIODevice::ReadOnly, &why);
    if (isOpen)
        fileSize = file.size();
}

bool BurnLineReader::fill()
{
    const int want = int(qMin<qint64>(kReadChunk, kMaxBurnFileBytes - readSoFar));
    if (want <= 0)
        return false;
    buffer.resize(want);
    const qint64 n = file.read(buffer.data(), want);
    if (n < 0) {
        readFailed = true;
        why = file.errorString();
    }
    buffer.resize(int(qMax<qint64>(n, 0)));
    readSoFar += buffer.size();
    at = 0;
    return n > 0;
}

bool BurnLineReader::next(BurnLine *line)
{
    // Emptied, not freed: the caller's line is reused for every line read.
    if (line->text.capacity() < kMaxBurnLineLength)
        line->text.reserve(kMaxBurnLineLength);
    line->text.resize(0);
    line->tooLong = false;
    if (!isOpen || readFailed)
        return false;
    // Read anything of this line but carriage returns: a file that ends in
    // carriage returns after its last line feed has no line more.
    bool any = false;
    for (;;) {
        if (at >= buffer.size() && !fill())
            return any && !readFailed;
        const char *data = buffer.constData();
        const char *start = data + at;
        const char *end = data + buffer.size();
        const char *feed = static_cast<const char *>(std::memchr(start, '\n', size_t(end - start)));
        const char *stop = feed ? feed : end;
        // Text mode's reading drops every carriage return.
        for (const char *piece = start; piece < stop;) {
            const char *cr =
                static_cast<const char *>(std::memchr(piece, '\r', size_t(stop - piece)));
            const char *pieceEnd = cr ? cr : stop;
            const int room = kMaxBurnLineLength - line->text.size();
            const int length = int(pieceEnd - piece);
            any = any || length > 0;
            line->text.append(piece, qMin(room, length));
            if (length > room)
                line->tooLong = true;
            if (cr)
                carriageReturns = true;
            piece = cr ? cr + 1 : stop;
        }
        if (feed) {
            lineFeeds = true;
            at = int(feed - data) + 1;
            return true;
        }
        at = buffer.size();
    }
}

namespace
{

// A line's number, base 16 ("0x" allowed). Qt 6 reads a number up to a NUL
// and takes "0x10\0junk" for 0x10; a NUL is no part of a number on either.
int hexValue(const QString &text, bool *ok)
{
    if (text.contains(QChar(0))) {
        *ok = false;
        return 0;
    }
    return text.toInt(ok, 16);
}

} // namespace

int convertBurnLine(const QString &line)
{
    bool ok = false;
    const int value = hexValue(line, &ok);
    return ok ? value : 0;
}

BurnLineValue readBurnLineValue(const BurnLine &line)
{
    BurnLineValue v;
    if (line.tooLong)
        return v;
    if (line.text.isEmpty()) {
        v.burnable = true; // stored files rely on an empty line reading as 0
        return v;
    }
    // With its size: a NUL inside the line is part of it, not its end.
    v.value = hexValue(QString::fromUtf8(line.text.constData(), line.text.size()), &v.number);
    if (!v.number)
        v.value = 0;
    v.burnable = v.number && v.value >= 0 && v.value <= 0xFF;
    return v;
}

BurnFileScan scanBurnFile(const QString &path, QVector<int> *values)
{
    BurnFileScan scan;
    if (values)
        values->clear();
    BurnLineReader reader(path);
    if (!reader.opened()) {
        scan.error = reader.error();
        return scan;
    }
    scan.size = reader.size();
    if (values)
        values->reserve(int(qMin<qint64>(scan.size / 2 + 1, kMaxBurnSamples)));
    BurnLine line;
    while (reader.next(&line)) {
        const int v = readBurnLineValue(line).value;
        scan.max = qMax(scan.max, v);
        scan.min = qMin(scan.min, v);
        if (values && scan.count < kMaxBurnSamples)
            values->append(v);
        ++scan.count;
    }
    if (reader.failed()) {
        scan.error = reader.error();
        if (values)
            values->clear();
        return scan;
    }
    scan.opened = true;
    return scan;
}

BurnFileStamp BurnFileStamp::of(const QString &path)
{
    BurnFileStamp stamp;
#ifdef _WIN32
    const QFileInfo info(path);
    if (!info.exists())
        return stamp;
    stamp.size = info.size();
    stamp.modifiedNs = info.lastModified().toMSecsSinceEpoch() * 1000000;
#else
    struct stat st;
    if (path.isEmpty() || ::stat(fileNameBytes(path).constData(), &st) != 0)
        return stamp;
    stamp.device = quint64(st.st_dev);
    stamp.inode = quint64(st.st_ino);
    stamp.size = qint64(st.st_size);
    stamp.modifiedNs = qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
#endif
    stamp.valid = true;
    return stamp;
}

BurnFileScan LoadedBurnFile::load(const QString &newPath)
{
    // Taken before the read: a change made while it reads shows as a
    // different stamp afterwards.
    const BurnFileStamp before = BurnFileStamp::of(newPath);
    const BurnFileScan scan = scanBurnFile(newPath, &values);
    path = newPath;
    stamp = scan.opened ? before : BurnFileStamp();
    return scan;
}

void LoadedBurnFile::clear()
{
    path.clear();
    stamp = BurnFileStamp();
    values = QVector<int>();
}

BurnPage LoadedBurnFile::page(const QString &pagePath, qint64 pageIndex) const
{
    if (pagePath != path || !(BurnFileStamp::of(pagePath) == stamp))
        return readBurnPage(pagePath, pageIndex);
    BurnPage page;
    page.opened = true;
    const qint64 first = qMax<qint64>(pageIndex, 0) * kSamplesPerPage;
    if (first < values.size())
        page.values = values.mid(int(first), kSamplesPerPage);
    return page;
}

BurnPage readBurnPage(const QString &path, qint64 pageIndex)
{
    BurnPage page;
    BurnLineReader reader(path);
    if (!reader.opened()) {
        page.error = reader.error();
        return page;
    }
    const qint64 skip = qMax<qint64>(pageIndex, 0) * kSamplesPerPage;
    BurnLine line;
    bool more = true;
    for (qint64 n = 0; n < skip && (more = reader.next(&line)); ++n) {
    }
    page.values.reserve(kSamplesPerPage);
    while (more && page.values.size() < kSamplesPerPage && reader.next(&line))
        page.values.append(readBurnLineValue(line).value);
    if (reader.failed()) {
        page.error = reader.error();
        page.values.clear();
        return page;
    }
    page.opened = true;
    return page;
}

namespace
{

// What the read saw beyond the counts: how the first unburnable line was
// unburnable, and whether the lines end in a carriage return alone.
struct ReadNotes {
    bool isNumber = false;
    bool tooLong = false;
    bool onlyCarriageReturns = false;
};

// The file's status and the reason shown for it, from what the read found.
void judgeBurnFile(BurnFileCheck *check, const ReadNotes &notes)
{
    if (check->scan.overLimit()) {
        check->status = BurnFileStatus::TooManyValues;
        check->badLine = kMaxBurnSamples + 1;
        check->badValue = 0;
        check->badText.clear();
        check->reason =
            QString("more than %1 values (%2)").arg(kMaxBurnSamples).arg(check->scan.count);
    } else if (check->scan.count < kSamplesPerPage) {
        check->status = BurnFileStatus::NoWholePage;
        check->badLine = 0;
        check->badValue = 0;
        check->badText.clear();
        check->reason = QString("no whole pattern: %1 values, fewer than %2")
                            .arg(check->scan.count)
                            .arg(kSamplesPerPage);
        // A file whose lines end in a carriage return alone reads as one
        // line: say so, or the count makes no sense to whoever wrote it.
        if (notes.onlyCarriageReturns)
            check->reason += "; no line breaks found (the lines end in a carriage return alone)";
    } else if (check->badLine != 0 && notes.isNumber) {
        check->status = BurnFileStatus::ValueOutOfRange;
        check->reason = QString("value %1 outside 0x00-0xFF at line %2 ('%3')")
                            .arg(check->badValue)
                            .arg(check->badLine)
                            .arg(check->badText);
    } else if (check->badLine != 0) {
        // A hexadecimal number too large for the conversion, or no number.
        static const QRegularExpression hexNumber("^\\s*[+-]?(0[xX])?[0-9a-fA-F]+\\s*$");
        const bool tooLarge = hexNumber.match(check->badText).hasMatch();
        check->status = BurnFileStatus::NotANumber;
        // Checked first: a long run of padding reads as blank, not as text.
        const QString what = notes.tooLong
                                 ? QString("line longer than %1 characters").arg(kMaxBurnLineLength)
                             : tooLarge ? QString("number outside 0x00-0xFF")
                                        : QString("not a hexadecimal value");
        check->reason =
            QString("%1 at line %2 ('%3')").arg(what).arg(check->badLine).arg(check->badText);
    } else {
        check->status = BurnFileStatus::Burnable;
    }
}

} // namespace

BurnFileCheck checkBurnFile(const QString &path)
{
    BurnFileCheck check;
    BurnLineReader reader(path);
    BurnFileScan &scan = check.scan;
    auto cannotRead = [&]() {
        scan.error = reader.error();
        scan.opened = false;
        check.status = BurnFileStatus::CannotOpen;
        check.reason = QString("cannot open the file: %1").arg(reader.error());
        check.values.clear();
        check.values.shrink_to_fit();
        return check;
    };
    if (!reader.opened())
        return cannotRead();
    scan.size = reader.size();
    scan.opened = true;
    // Nothing this large can be burned: refused before any of it is read.
    if (scan.tooLarge()) {
        check.status = BurnFileStatus::TooLarge;
        check.reason = QString("larger than any pattern file: %1 bytes, at most %2")
                           .arg(scan.size)
                           .arg(kMaxBurnFileBytes);
        return check;
    }
    check.values.reserve(kMaxBurnSamples);
    ReadNotes notes;
    BurnLine line;
    while (reader.next(&line)) {
        const BurnLineValue v = readBurnLineValue(line);
        scan.max = qMax(scan.max, v.value);
        scan.min = qMin(scan.min, v.value);
        ++scan.count;
        if (scan.count > kMaxBurnSamples)
            continue; // still counted; none of these values is kept
        if (!v.burnable && check.badLine == 0) {
            check.badLine = scan.count;
            check.badValue = v.value;
            check.badText = shortText(line);
            notes.isNumber = v.number;
            notes.tooLong = line.tooLong;
        }
        if (check.badLine == 0)
            check.values.push_back(quint8(v.value));
    }
    if (reader.failed())
        return cannotRead();

    notes.onlyCarriageReturns = !reader.sawLineFeed() && reader.sawCarriageReturn();
    judgeBurnFile(&check, notes);
    if (!check.burnable()) {
        check.values.clear();
        check.values.shrink_to_fit();
    }
    return check;
}

PatternFileValues readPatternFileValues(const QString &path, qint64 maxLines)
{
    PatternFileValues result;
    BurnLineReader reader(path);
    if (!reader.opened()) {
        result.error = reader.error();
        return result;
    }
    // No pattern file holds more than the burn limit: nothing past it is
    // read, whatever the file holds.
    maxLines = qMin<qint64>(maxLines, kMaxBurnSamples);
    BurnLine line;
    while (qint64(result.values.size()) < maxLines && reader.next(&line)) {
        const BurnLineValue v = readBurnLineValue(line);
        result.values.push_back(v.value);
        result.unreadable.push_back(!v.number);
    }
    result.truncated = !reader.failed() && reader.next(&line);
    if (reader.failed()) {
        result.error = reader.error();
        result.values.clear();
        result.unreadable.clear();
        return result;
    }
    result.opened = true;
    return result;
}
