#ifndef DVK_GENERATEDSETS_H
#define DVK_GENERATEDSETS_H

// Pattern sets as the generators write them, checked by the analyzer: what
// the analyzer's tests (quick and long) share.

#include "analysis/PatternAnalysis.h"
#include "patterns/Generators.h"

#include <QString>
#include <QStringList>

#include <vector>

// A file's values as the reader gives them, from generator runs in order.
PatternFileValues fileOfRuns(const std::vector<PatternRun> &runs);

// A set request from its command-line text; a bad one ends the test run.
PatternSetRequest setRequest(const QString &text);

// Every set the generators can make, as "kind:params@1".
QStringList everyGeneratedSet();

// Generates `set` for the scan value on page 2 of a file (after a dark page)
// and analyzes it there: empty when the analyzer accepts it, otherwise what
// it says.
QString generatedSetDisagreement(float scanValue, const QString &set);

#endif
