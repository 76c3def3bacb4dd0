#ifndef DVK_PATTERNSETREQUEST_H
#define DVK_PATTERNSETREQUEST_H

// Naming a pattern set of a file on the command line.

#include <QString>

enum class PatternSetKind { Gray, Phase, Square };

// The kind as the command line spells it: "gray", "phase", "square".
QString patternSetKindName(PatternSetKind kind);

// One set named on the command line: KIND:PARAMS@PAGE, for example gray:4@1,
// phase:4x16@5, square:8@9. Pages count from 1; the set's patterns are the
// consecutive pages from `page` on.
struct PatternSetRequest {
    PatternSetKind kind = PatternSetKind::Gray;
    int bits = 0;    // gray
    int steps = 0;   // phase
    int stripes = 0; // phase, square
    int page = 1;

    int patternCount() const;
    QString text() const;
};

// Parses the form above with the generators' parameter ranges and pages 1 to
// 60. On failure returns false and says why in *error.
bool parsePatternSetRequest(const QString &text, PatternSetRequest *request, QString *error);

#endif
