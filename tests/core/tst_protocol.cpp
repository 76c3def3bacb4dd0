// The burn stream: its exact bytes and pauses, and the projector-side decoder
// that the simulator uses, checked against each other and against damage.
#include "burn/BurnProtocol.h"
#include "support/core/TestSupport.h"

#include <QtTest>

using namespace burnprotocol;

namespace
{

QByteArray sent(const QByteArray &v)
{
    QByteArray out;
    for (char c : v)
        out.append(char(dataByte(quint8(c))));
    return out;
}

QList<Transfer> decode(const QByteArray &stream, QByteArray *notTaken = nullptr)
{
    Decoder d;
    for (char c : stream) {
        if (!d.feed(quint8(c)) && notTaken)
            notTaken->append(c);
    }
    d.cutOff();
    QList<Transfer> out;
    Transfer t;
    while (d.takeTransfer(&t))
        out.append(t);
    return out;
}

// A compact picture of a step list: bytes in hex, pauses as [ms].
QString picture(const std::vector<Step> &steps, size_t from, size_t to)
{
    QStringList parts;
    for (size_t i = from; i < to && i < steps.size(); ++i) {
        const Step &s = steps[i];
        parts << (s.kind == Step::Pause ? QString("[%1]").arg(s.pauseMs)
                                        : QString("%1").arg(s.byte, 2, 16, QChar('0')).toUpper());
    }
    return parts.join(' ');
}

size_t indexOfValue(const std::vector<Step> &steps, int valueNumber)
{
    for (size_t i = 0; i < steps.size(); ++i) {
        if (steps[i].valueNumber == valueNumber)
            return i;
    }
    return steps.size();
}

} // namespace

class TestProtocol : public QObject
{
    Q_OBJECT

private slots:
    void lengthAndPauses_data()
    {
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("blocks");
        for (int n : {1, 500, 1023, 1024, 1025, 1500, 2048, 5120, 61439, 61440})
            QTest::newRow(qPrintable(QString::number(n))) << n << (n + 1023) / 1024;
    }
    void lengthAndPauses()
    {
        QFETCH(int, count);
        QFETCH(int, blocks);
        const auto steps = encodeTransfer(randomValues(count, 7));
        const qint64 expected = 1 + 15 * blocks + 5 * (blocks - 1) + count + 12;
        QCOMPARE(qint64(transferBytes(steps).size()), expected);
        QCOMPARE(transferLength(count), expected);
        QCOMPARE(transferPauseMs(steps), 700 * blocks);
        QCOMPARE(transferPauseTotalMs(count), 700 * blocks);

        // Progress numbers: 1 ... N on the data bytes, in order, nothing else.
        int next = 1;
        for (const Step &s : steps) {
            if (s.valueNumber != 0) {
                QCOMPARE(s.kind, Step::Send);
                QCOMPARE(s.valueNumber, next++);
            }
        }
        QCOMPARE(next, count + 1);
    }

    void fivePatternsExample()
    {
        QCOMPARE(transferLength(5120), qint64(5228));
        QCOMPARE(transferPauseTotalMs(5120), 3500);
    }

    void exactFraming()
    {
        // 1024 values: one header, no block end, then the end sequence.
        const auto one = encodeTransfer(QByteArray(1024, char(0x11)));
        QCOMPARE(picture(one, 0, 21),
                 QString("7F EC EC EC EC EC EC EC EC EC EC [100] FF [100] 00 00 [100] EC EC "
                         "[100] 11"));
        QCOMPARE(picture(one, one.size() - 14, one.size()),
                 QString("11 EC EC EC EC EC EC EC EC EC EC 7F [300] 6F"));
        QCOMPARE(int(transferBytes(one).count(char(0xFF))), 1);

        // 1025 values: the end of block 0 and the header of block 1 come
        // between the 1024th and the 1025th value.
        const auto two = encodeTransfer(QByteArray(1025, char(0x11)));
        const size_t last = indexOfValue(two, 1024);
        QCOMPARE(picture(two, last, indexOfValue(two, 1025) + 1),
                 QString("11 EC EC [100] 00 00 [100] FF [100] EC EC EC EC EC EC EC EC EC EC "
                         "[100] FF [100] 01 01 [100] EC EC [100] 11"));

        // 1500 values: blocks of 1024 and 476.
        const auto three = encodeTransfer(QByteArray(1500, char(0x11)));
        const QByteArray bytes = transferBytes(three);
        QCOMPARE(bytes.size(), 1 + 15 * 2 + 5 + 1500 + 12);
        const int header1 = bytes.indexOf(QByteArray::fromHex("FF0101ECEC"));
        QVERIFY(header1 > 0);
        QCOMPARE(bytes.size() - (header1 + 5) - 12, 476);
    }

    void reservedValuesGoOutOneBelow()
    {
        for (int v = 0; v < 256; ++v) {
            const bool reserved =
                v == 0x4F || v == 0x5F || v == 0x6F || v == 0x7F || v == 0x9F || v == 0xFF;
            QCOMPARE(isReservedValue(quint8(v)), reserved);
            QCOMPARE(int(dataByte(quint8(v))), reserved ? v - 1 : v);
        }
        const QByteArray in = QByteArray::fromHex("7FFF9FEC004F5F6F");
        const QByteArray out = transferBytes(encodeTransfer(in));
        QCOMPARE(out.mid(1 + 15, in.size()).toHex().toUpper(), QByteArray("7EFE9EEC004E5E6E"));
    }

    void decoderReadsWhatTheEncoderSends_data()
    {
        QTest::addColumn<QByteArray>("data");
        QTest::newRow("1") << randomValues(1, 1);
        QTest::newRow("1024") << randomValues(1024, 2);
        QTest::newRow("1025") << randomValues(1025, 3);
        QTest::newRow("1500") << randomValues(1500, 4);
        QTest::newRow("61440") << randomValues(61440, 5);
        // Fill-byte values right where the framing also has fill bytes.
        QTest::newRow("1025 x EC") << QByteArray(1025, char(0xEC));
        QTest::newRow("1500 x EC") << QByteArray(1500, char(0xEC));
        QTest::newRow("block numbers as data") << QByteArray::fromHex("0000010100ECEC0000");
    }
    void decoderReadsWhatTheEncoderSends()
    {
        QFETCH(QByteArray, data);
        const QByteArray stream = transferBytes(encodeTransfer(data));
        const auto transfers = decode(stream);
        QCOMPARE(transfers.size(), 1);
        const Transfer &t = transfers.first();
        QVERIFY2(t.errors.isEmpty(), qPrintable(t.errors.value(0).message));
        QVERIFY(t.committed);
        QCOMPARE(t.values, sent(data));
        QCOMPARE(t.blocks, blockCount(data.size()));
        QCOMPARE(t.length, qint64(stream.size()));
    }

    void queriesBetweenTransfersAreLeftToTheCaller()
    {
        const QByteArray query = QByteArray::fromHex("9FFC01");
        const QByteArray a = transferBytes(encodeTransfer(randomValues(3000, 9)));
        const QByteArray b = transferBytes(encodeTransfer(randomValues(10, 10)));
        QByteArray notTaken;
        const auto transfers = decode(query + a + query + b, &notTaken);
        QCOMPARE(notTaken, query + query);
        QCOMPARE(transfers.size(), 2);
        QVERIFY(transfers[0].committed && transfers[1].committed);
        QVERIFY(transfers[0].errors.isEmpty() && transfers[1].errors.isEmpty());
        QCOMPARE(transfers[1].values, sent(randomValues(10, 10)));
    }

    void damageIsFoundWhereItIs_data()
    {
        QTest::addColumn<QByteArray>("stream");
        QTest::addColumn<qint64>("offset"); // of the first error
        QTest::addColumn<bool>("committed");

        const QByteArray good = transferBytes(encodeTransfer(QByteArray(1500, char(0x22))));
        const int data0 = 1 + 15;      // first value
        const int end0 = data0 + 1024; // EC EC 00 00 FF
        const int header1 = end0 + 5;  // EC x10 FF 01 01 EC EC
        const int data1 = header1 + 15;
        const int end = good.size() - 12; // EC x10 7F 6F

        QByteArray s = good;
        s.remove(3, 1); // nine fill bytes before the first header
        QTest::newRow("short fill run") << s << qint64(10) << true;

        s = good;
        s[header1 + 12] = char(0x02); // block 1 announced as block 2
        QTest::newRow("block number") << s << qint64(header1 + 12) << true;

        s = good;
        s[data0 + 100] = char(0xFF);
        QTest::newRow("marker in data") << s << qint64(data0 + 100) << true;

        s = good;
        s[data1 + 7] = char(0x9F);
        QTest::newRow("reserved value in data") << s << qint64(data1 + 7) << true;

        s = good;
        s.remove(end0, 5); // no end of block 0: the header's FF is the first proof
        QTest::newRow("missing block end") << s << qint64(end0 + 10) << true;

        s = good;
        s.insert(data0 + 10, char(0x22)); // 1025 values in block 0
        QTest::newRow("block overrun") << s << qint64(end0) << true;

        s = good;
        s.remove(data0 + 10, 1); // 1023 values: the block end is one byte early
        QTest::newRow("block underrun") << s << qint64(end0 + 1) << true;

        s = good;
        s[end + 3] = char(0x22); // only nine fill bytes before the final 7F
        QTest::newRow("short end") << s << qint64(end + 10) << true;

        s = good;
        s.chop(1);
        QTest::newRow("no commit") << s << qint64(s.size()) << false;

        s = good;
        s[s.size() - 1] = char(0x00);
        QTest::newRow("wrong commit") << s << qint64(s.size() - 1) << false;

        // A block header with no value after it (the encoder opens a block
        // only for a value), straight into the end sequence.
        s = QByteArray(1, char(0x7F)) + QByteArray(10, char(0xEC)) +
            QByteArray::fromHex("FF0000ECEC") + QByteArray(10, char(0xEC)) +
            QByteArray::fromHex("7F6F");
        QTest::newRow("empty block") << s << qint64(26) << true;

        s = transferBytes(encodeTransfer(QByteArray(61 * 1024, char(0x22))));
        QTest::newRow("61 blocks") << s << qint64(1 + 60 * (15 + 1024 + 5) + 10) << true;
    }
    void damageIsFoundWhereItIs()
    {
        QFETCH(QByteArray, stream);
        QFETCH(qint64, offset);
        QFETCH(bool, committed);
        const auto transfers = decode(stream);
        QCOMPARE(transfers.size(), 1);
        const Transfer &t = transfers.first();
        QVERIFY(!t.errors.isEmpty());
        QCOMPARE(t.errors.first().offset, offset);
        QCOMPARE(t.committed, committed);
    }

    void errorFloodIsCapped()
    {
        // Every data byte reserved: the list stays bounded and says how many
        // more there were.
        QByteArray s = transferBytes(encodeTransfer(QByteArray(1024, char(0x22))));
        for (int i = 16; i < 16 + 1024; ++i)
            s[i] = char(0x4F);
        const Transfer t = decode(s).first();
        QCOMPARE(t.errors.size(), Decoder::kMaxErrors + 1);
        QCOMPARE(t.errors.last().message,
                 QString("and %1 more errors").arg(1024 - Decoder::kMaxErrors));
    }
};

QTEST_APPLESS_MAIN(TestProtocol)
#include "tst_protocol.moc"
