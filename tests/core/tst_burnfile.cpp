// Reading burn files: the line conversion, the whole-file scan, one page,
// and the burnability check that the burn and dvkctl inspect share.
#include "burnfile/BurnFile.h"
#include "support/core/TestSupport.h"

#include <QFile>
#include <QtTest>

namespace
{

// n lines "0x.." with value i % 256.
QStringList rampLines(int n)
{
    QStringList lines;
    lines.reserve(n);
    for (int i = 0; i < n; ++i)
        lines << "0x" + QString::number(i % 256, 16);
    return lines;
}

} // namespace

class TestBurnFile : public QObject
{
    Q_OBJECT

private:
    QString dir;
    QString path(const QString &name) const { return dir + "/" + name; }

private slots:
    void initTestCase() { dir = makeTempDir(); }

    void conversion_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<int>("value");
        QTest::newRow("plain upper") << "FF" << 255;
        QTest::newRow("0X prefix") << "0XFF" << 255;
        QTest::newRow("spaces around") << " 0xff " << 255;
        QTest::newRow("tabs around") << "\t0a\t" << 10;
        QTest::newRow("writer's computed form") << "0x7f" << 127;
        QTest::newRow("one digit") << "0x0" << 0;
        QTest::newRow("above a byte") << "0x1FF" << 511;
        QTest::newRow("plus sign") << "+0x10" << 16;
        QTest::newRow("minus sign") << "-0x1" << -1;
        QTest::newRow("leading zeros") << "000000000000000000FF" << 255;
        QTest::newRow("largest int") << "7fffffff" << 2147483647;
        QTest::newRow("smallest int") << "-80000000" << int(-2147483647 - 1);
        QTest::newRow("overflow") << "80000000" << 0;
        QTest::newRow("far overflow") << "0xFFFFFFFFF" << 0;
        QTest::newRow("empty") << "" << 0;
        QTest::newRow("blank") << "   " << 0;
        QTest::newRow("prefix only") << "0x" << 0;
        QTest::newRow("sign after prefix") << "0x-1" << 0;
        QTest::newRow("space inside") << "0x 1" << 0;
        QTest::newRow("two numbers") << "1 2" << 0;
        QTest::newRow("not hex") << "0xG1" << 0;
        QTest::newRow("decimal point") << "1.5" << 0;
        QTest::newRow("b is a digit") << "0b1" << 0xb1;
    }
    void conversion()
    {
        QFETCH(QString, line);
        QFETCH(int, value);
        QCOMPARE(convertBurnLine(line), value);
    }

    void scanCountsPagesAndLimit_data()
    {
        QTest::addColumn<int>("lines");
        QTest::addColumn<int>("pages");
        QTest::addColumn<int>("tail");
        QTest::addColumn<bool>("overLimit");
        QTest::newRow("five patterns") << 5120 << 5 << 0 << false;
        QTest::newRow("exactly the limit") << 61440 << 60 << 0 << false;
        QTest::newRow("one over the limit") << 61441 << 60 << 1 << true;
        QTest::newRow("a page and a half") << 1500 << 1 << 476 << false;
        QTest::newRow("short") << 500 << 0 << 500 << false;
        QTest::newRow("one line") << 1 << 0 << 1 << false;
    }
    void scanCountsPagesAndLimit()
    {
        QFETCH(int, lines);
        QFETCH(int, pages);
        QFETCH(int, tail);
        QFETCH(bool, overLimit);
        const QString file = writeLines(path(QString("n%1.txt").arg(lines)), rampLines(lines));
        const BurnFileScan scan = scanBurnFile(file);
        QVERIFY(scan.opened);
        QCOMPARE(scan.count, qint64(lines));
        QCOMPARE(scan.pages(), qint64(pages));
        QCOMPARE(scan.tail(), qint64(tail));
        QCOMPARE(scan.overLimit(), overLimit);
        QCOMPARE(scan.min, 0);
        QCOMPARE(scan.max, lines > 255 ? 255 : lines - 1);
    }

    void scanStartsMinAt255AndMaxAt0()
    {
        // Empty file: nothing read, the starting values stay.
        BurnFileScan scan = scanBurnFile(writeBytes(path("empty.txt"), ""));
        QVERIFY(scan.opened);
        QCOMPARE(scan.count, qint64(0));
        QCOMPARE(scan.min, 255);
        QCOMPARE(scan.max, 0);

        // 16 … 200: the range of the values.
        scan = scanBurnFile(writeLines(path("16-200.txt"), {"0x10", "0xc8", "0x40"}));
        QCOMPARE(scan.min, 16);
        QCOMPARE(scan.max, 200);

        // Values all above 255 leave the minimum at 255; all negative leave
        // the maximum at 0.
        scan = scanBurnFile(writeLines(path("high.txt"), {"0x300", "0x1FF"}));
        QCOMPARE(scan.min, 255);
        QCOMPARE(scan.max, 0x300);
        scan = scanBurnFile(writeLines(path("neg.txt"), {"-5", "-0x20"}));
        QCOMPARE(scan.min, -0x20);
        QCOMPARE(scan.max, 0);

        // A line that does not convert is counted as 0 and pulls the minimum.
        scan = scanBurnFile(writeLines(path("junk.txt"), {"0x80", "junk", "0x90"}));
        QCOMPARE(scan.count, qint64(3));
        QCOMPARE(scan.min, 0);
        QCOMPARE(scan.max, 0x90);
    }

    void lineEndings()
    {
        struct Case {
            const char *bytes;
            qint64 count;
            int max;
        };
        const Case cases[] = {
            {"0x1\n0x2\n", 2, 2},             // final line feed adds no line
            {"0x1\n0x2", 2, 2},               // last line without a line feed counts
            {"0x1\r\n0x2\r\n", 2, 2},         // CR LF reads as LF
            {"0x1\r\n0xFF", 2, 255},          // CR LF, no final terminator
            {"0x1\n\n0x2\n", 3, 2},           // an empty line is a line
            {"\n", 1, 0},                     // one empty line
            {"\r\n\r\n", 2, 0},               // two empty CR LF lines
            {"0xFF\r\n\n0x3\n", 3, 255},      // mixed endings
            {"  0xff  \r\n\t0XFe\n", 2, 255}, // spacing with CR LF
        };
        int n = 0;
        for (const Case &c : cases) {
            const QString file = writeBytes(path(QString("le%1.txt").arg(n++)), c.bytes);
            const BurnFileScan scan = scanBurnFile(file);
            QVERIFY2(scan.count == c.count, c.bytes);
            QVERIFY2(scan.max == c.max, c.bytes);
        }
        // CR LF pages read the same values as LF pages.
        QByteArray lf, crlf;
        for (int i = 0; i < 2048; ++i) {
            const QByteArray v = "0x" + QByteArray::number((i * 7) % 256, 16);
            lf += v + "\n";
            crlf += v + "\r\n";
        }
        const BurnPage a = readBurnPage(writeBytes(path("lf.txt"), lf), 1);
        const BurnPage b = readBurnPage(writeBytes(path("crlf.txt"), crlf), 1);
        QCOMPARE(a.values.size(), 1024);
        QCOMPARE(a.values, b.values);
    }

    void missingFile()
    {
        const BurnFileScan scan = scanBurnFile(path("does-not-exist.txt"));
        QVERIFY(!scan.opened);
        QVERIFY(!scan.error.isEmpty());
        QVERIFY(!readBurnPage(path("does-not-exist.txt"), 0).opened);
        QVERIFY(!scanBurnFile(dir).opened); // a directory is not a file
        const BurnFileCheck check = checkBurnFile(path("does-not-exist.txt"));
        QCOMPARE(check.status, BurnFileStatus::CannotOpen);
        QVERIFY(!check.burnable());
    }

    void pages()
    {
        const QString file = writeLines(path("pages.txt"), rampLines(2500));
        // Page 1 starts at line 1024.
        BurnPage page = readBurnPage(file, 1);
        QVERIFY(page.opened);
        QCOMPARE(page.values.size(), 1024);
        QCOMPARE(page.values.first(), 1024 % 256);
        QCOMPARE(page.values.last(), 2047 % 256);
        // The partial last page holds what is left.
        page = readBurnPage(file, 2);
        QCOMPARE(page.values.size(), 2500 - 2048);
        QCOMPARE(page.values.first(), 2048 % 256);
        // Past the end: opened, nothing read.
        page = readBurnPage(file, 3);
        QVERIFY(page.opened);
        QVERIFY(page.values.isEmpty());
        page = readBurnPage(file, 1 << 30);
        QVERIFY(page.opened);
        QVERIFY(page.values.isEmpty());
        // A short file on page index 0.
        page = readBurnPage(writeLines(path("short.txt"), rampLines(500)), 0);
        QCOMPARE(page.values.size(), 500);
        QCOMPARE(page.values[499], 499 % 256);
    }

    void checkBurnable()
    {
        const QStringList lines = rampLines(1500);
        const BurnFileCheck check = checkBurnFile(writeLines(path("ok.txt"), lines));
        QCOMPARE(check.status, BurnFileStatus::Burnable);
        QVERIFY(check.reason.isEmpty());
        QCOMPARE(check.scan.count, qint64(1500));
        QCOMPARE(int(check.values.size()), 1500);
        for (int i = 0; i < 1500; ++i)
            QCOMPARE(int(check.values[size_t(i)]), i % 256);

        const BurnFileCheck limit = checkBurnFile(writeLines(path("limit.txt"), rampLines(61440)));
        QCOMPARE(limit.status, BurnFileStatus::Burnable);
        QCOMPARE(int(limit.values.size()), 61440);
    }

    void checkRefusals()
    {
        // Too short: no whole page.
        BurnFileCheck check = checkBurnFile(writeLines(path("c500.txt"), rampLines(500)));
        QCOMPARE(check.status, BurnFileStatus::NoWholePage);
        QVERIFY(check.values.empty());
        QVERIFY(check.reason.contains("500"));
        check = checkBurnFile(writeBytes(path("c0.txt"), ""));
        QCOMPARE(check.status, BurnFileStatus::NoWholePage);

        // Over the limit: counted to the end, line 61441 named.
        QStringList lines = rampLines(61500);
        check = checkBurnFile(writeLines(path("c61500.txt"), lines));
        QCOMPARE(check.status, BurnFileStatus::TooManyValues);
        QCOMPARE(check.scan.count, qint64(61500));
        QCOMPARE(check.badLine, qint64(61441));
        QVERIFY(check.values.empty());
        QVERIFY(check.reason.contains("61440"));

        // A value out of range at line 2000, then a second one: the first is
        // named, and the whole file is still counted.
        lines = rampLines(3000);
        lines[1999] = "0x100";
        lines[2500] = "-1";
        check = checkBurnFile(writeLines(path("c-range.txt"), lines));
        QCOMPARE(check.status, BurnFileStatus::ValueOutOfRange);
        QCOMPARE(check.badLine, qint64(2000));
        QCOMPARE(check.badValue, 256);
        QCOMPARE(check.badText, QString("0x100"));
        QCOMPARE(check.scan.count, qint64(3000));
        QCOMPARE(check.scan.max, 256);
        QCOMPARE(check.scan.min, -1);
        QVERIFY(check.values.empty());
        QVERIFY(check.reason.contains("2000"));

        // A negative value alone.
        lines = rampLines(1024);
        lines[0] = "-0x1";
        check = checkBurnFile(writeLines(path("c-neg.txt"), lines));
        QCOMPARE(check.status, BurnFileStatus::ValueOutOfRange);
        QCOMPARE(check.badLine, qint64(1));
        QCOMPARE(check.badValue, -1);

        // Over the limit wins over a bad value, as the load refuses first;
        // a short file with a bad value is refused for being short.
        lines = rampLines(61441);
        lines[5] = "0x1FF";
        QCOMPARE(checkBurnFile(writeLines(path("c-both.txt"), lines)).status,
                 BurnFileStatus::TooManyValues);
        QCOMPARE(checkBurnFile(writeLines(path("c-short-bad.txt"), {"0x1FF"})).status,
                 BurnFileStatus::NoWholePage);

        // A very long line (spaces, then 0x100) is no value, and is cut in
        // the reason.
        lines = rampLines(1024);
        lines[3] = QString(5000, QChar(' ')) + "100";
        check = checkBurnFile(writeLines(path("c-long.txt"), lines));
        QCOMPARE(check.status, BurnFileStatus::NotANumber);
        QVERIFY(check.badText.size() <= 40);
        QVERIFY(check.reason.size() < 200);
    }
};

QTEST_GUILESS_MAIN(TestBurnFile)
#include "tst_burnfile.moc"
