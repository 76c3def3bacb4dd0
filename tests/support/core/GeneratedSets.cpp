#include "GeneratedSets.h"

#include <QtGlobal>

PatternFileValues fileOfRuns(const std::vector<PatternRun> &runs)
{
    PatternFileValues f;
    f.opened = true;
    for (const PatternRun &run : runs)
        for (quint8 v : run.values)
            f.values.push_back(v);
    f.unreadable.assign(f.values.size(), false);
    return f;
}

PatternSetRequest setRequest(const QString &text)
{
    PatternSetRequest s;
    QString why;
    if (!parsePatternSetRequest(text, &s, &why))
        qFatal("bad set in test: %s", qPrintable(why));
    return s;
}

QStringList everyGeneratedSet()
{
    QStringList sets;
    for (int m = kMinGrayBits; m <= kMaxGrayBits; ++m)
        sets << QString("gray:%1@1").arg(m);
    for (int s = kMinStripes; s <= kMaxStripes; ++s)
        sets << QString("square:%1@1").arg(s);
    for (int n = kMinPhaseSteps; n <= kMaxPhaseSteps; ++n)
        for (int s = kMinStripes; s <= kMaxStripes; ++s)
            sets << QString("phase:%1x%2@1").arg(n).arg(s);
    return sets;
}

QString generatedSetDisagreement(float scanValue, const QString &set)
{
    PatternSetRequest s = setRequest(set);
    const ScanTiming t = computeScanTiming(scanValue);
    PatternRun run;
    switch (s.kind) {
    case PatternSetKind::Gray:
        run = grayCodePatterns(t, s.bits);
        break;
    case PatternSetKind::Square:
        run = squareWavePatterns(t, s.stripes);
        break;
    case PatternSetKind::Phase:
        run = phaseShiftPatterns(t, s.steps, s.stripes);
        break;
    }
    s.page = 2;
    const PatternSetAnalysis r = analyzePatternSet(fileOfRuns({fixedPattern(0), run}), t, s);
    if (r.ok)
        return QString();
    return QString("%1 at scan value %2: %3")
        .arg(s.text())
        .arg(double(scanValue))
        .arg(r.problems.join("; "));
}
