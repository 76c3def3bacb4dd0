// Every scan value the model covers: the analyzer accepts what the generators
// write there, for the largest set of each kind and for parameters that
// rotate through their ranges from one scan value to the next.
#include "patterns/Generators.h"
#include "support/core/GeneratedSets.h"

#include <QtTest>

class TestLongAnalyze : public QObject
{
    Q_OBJECT

private slots:
    void everyScanValue()
    {
        QStringList disagreements;
        for (int scan = kMinScanValue; scan <= kMaxScanValue; ++scan) {
            const int bits = kMinGrayBits + scan % (kMaxGrayBits - kMinGrayBits + 1);
            const int stripes = kMinStripes + scan % (kMaxStripes - kMinStripes + 1);
            const int steps = kMinPhaseSteps + scan % (kMaxPhaseSteps - kMinPhaseSteps + 1);
            const QStringList sets = {QString("gray:%1@1").arg(kMaxGrayBits),
                                      QString("gray:%1@1").arg(bits),
                                      QString("square:%1@1").arg(kMaxStripes),
                                      QString("square:%1@1").arg(stripes),
                                      QString("phase:%1x%2@1").arg(kMaxPhaseSteps).arg(kMaxStripes),
                                      QString("phase:%1x%2@1").arg(steps).arg(stripes)};
            for (const QString &set : sets) {
                const QString d = generatedSetDisagreement(float(scan), set);
                if (!d.isEmpty())
                    disagreements << d;
            }
        }
        QVERIFY2(disagreements.isEmpty(), qPrintable(QString("%1 disagreements, first %2")
                                                         .arg(disagreements.size())
                                                         .arg(disagreements.value(0))));
    }
};

QTEST_GUILESS_MAIN(TestLongAnalyze)
#include "tst_long_analyze.moc"
