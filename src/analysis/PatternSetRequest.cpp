#include "PatternSetRequest.h"

#include "patterns/Generators.h"

#include <QRegularExpression>

QString patternSetKindName(PatternSetKind kind)
{
    static const char *const names[] = {"gray", "phase", "square"};
    return names[int(kind)];
}

int PatternSetRequest::patternCount() const
{
    switch (kind) {
    case PatternSetKind::Gray:
        return bits;
    case PatternSetKind::Phase:
        return steps;
    case PatternSetKind::Square:
        return 4;
    }
    return 0;
}

QString PatternSetRequest::text() const
{
    switch (kind) {
    case PatternSetKind::Gray:
        return QString("gray:%1@%2").arg(bits).arg(page);
    case PatternSetKind::Phase:
        return QString("phase:%1x%2@%3").arg(steps).arg(stripes).arg(page);
    case PatternSetKind::Square:
        return QString("square:%1@%2").arg(stripes).arg(page);
    }
    return QString();
}

bool parsePatternSetRequest(const QString &text, PatternSetRequest *request, QString *error)
{
    static const QRegularExpression form(
        "^(gray|phase|square):(\\d{1,6})(?:x(\\d{1,6}))?@(\\d{1,6})$");
    const QRegularExpressionMatch m = form.match(text.trimmed());
    const bool hasSecond = m.hasMatch() && !m.captured(3).isEmpty();
    if (!m.hasMatch() || hasSecond != (m.captured(1) == "phase")) {
        *error =
            QString("'%1' is not a set (gray:M@PAGE, phase:NxS@PAGE or square:S@PAGE)").arg(text);
        return false;
    }
    PatternSetRequest s;
    const QString kind = m.captured(1);
    const int first = m.captured(2).toInt();
    s.page = m.captured(4).toInt();
    auto inRange = [&](const char *what, int value, int low, int high) {
        if (value >= low && value <= high)
            return true;
        *error = QString("'%1': %2 %3 is out of range (%4 to %5)")
                     .arg(text, what)
                     .arg(value)
                     .arg(low)
                     .arg(high);
        return false;
    };
    if (kind == "gray") {
        s.kind = PatternSetKind::Gray;
        s.bits = first;
        if (!inRange("bits", s.bits, kMinGrayBits, kMaxGrayBits))
            return false;
    } else if (kind == "phase") {
        s.kind = PatternSetKind::Phase;
        s.steps = first;
        s.stripes = m.captured(3).toInt();
        if (!inRange("steps", s.steps, kMinPhaseSteps, kMaxPhaseSteps) ||
            !inRange("stripes", s.stripes, kMinStripes, kMaxStripes))
            return false;
    } else {
        s.kind = PatternSetKind::Square;
        s.stripes = first;
        if (!inRange("stripes", s.stripes, kMinStripes, kMaxStripes))
            return false;
    }
    if (!inRange("page", s.page, 1, 999999))
        return false;
    *request = s;
    return true;
}
