// The sets a run of captures shows, and the plan that combines them.
#include "CaptureDecoder.h"

#include <QRegularExpression>

#include <algorithm>
#include <set>

namespace
{

// Whether a Gray code of `bits` bits numbers `periods` periods: at least two
// stripes per period, whole periods.
bool grayNumbers(int bits, int periods)
{
    const int stripes = 1 << bits;
    return stripes >= 2 * periods && stripes % periods == 0;
}

// A fine set with more than one period needs a Gray code that numbers its
// periods, with at least two stripes to a period.
bool fineSetNumbered(const CapturePlan &p, QString *error)
{
    if (p.fine < 0 || p.sets[size_t(p.fine)].pattern.stripes <= 1)
        return true;
    const CaptureSetRequest &fine = p.sets[size_t(p.fine)];
    const int periods = fine.pattern.stripes;
    if (p.gray < 0) {
        *error = QString("%1 repeats %2 times across the window: give a Gray-code set "
                         "to number its periods")
                     .arg(fine.text())
                     .arg(periods);
        return false;
    }
    const CaptureSetRequest &gray = p.sets[size_t(p.gray)];
    const int stripes = 1 << gray.pattern.bits;
    if (stripes < 2 * periods) {
        *error = QString("%1 cannot number the %2 periods of %3: its %4 stripes give "
                         "fewer than two per period, so a stripe index off by one "
                         "at a stripe edge would shift a whole period")
                     .arg(gray.text())
                     .arg(periods)
                     .arg(fine.text())
                     .arg(stripes);
        return false;
    }
    if (!grayNumbers(gray.pattern.bits, periods)) {
        *error = QString("%1 cannot number the %2 periods of %3: %4 stripes do not "
                         "divide into %2 whole periods")
                     .arg(gray.text())
                     .arg(periods)
                     .arg(fine.text())
                     .arg(stripes);
        return false;
    }
    return true;
}

} // namespace

int CaptureSetRequest::patternCount() const
{
    return isReference() ? 1 : pattern.patternCount();
}

QString CaptureSetRequest::text() const
{
    return isReference() ? QString("%1@%2").arg(kindName()).arg(page) : pattern.text();
}

QString CaptureSetRequest::kindName() const
{
    if (kind == CaptureSetKind::Dark)
        return "dark";
    if (kind == CaptureSetKind::Light)
        return "light";
    return patternSetKindName(pattern.kind);
}

bool parseCaptureSetRequest(const QString &text, CaptureSetRequest *request, QString *error)
{
    static const QRegularExpression reference("^(dark|light)@(\\d{1,6})$");
    const QRegularExpressionMatch m = reference.match(text.trimmed());
    CaptureSetRequest r;
    if (m.hasMatch()) {
        r.kind = m.captured(1) == "dark" ? CaptureSetKind::Dark : CaptureSetKind::Light;
        r.page = m.captured(2).toInt();
        if (r.page < 1) {
            *error = QString("'%1': page %2 is out of range (1 to 999999)").arg(text).arg(r.page);
            return false;
        }
        *request = r;
        return true;
    }
    QString why;
    if (!parsePatternSetRequest(text, &r.pattern, &why)) {
        *error = text.contains(':')
                     ? why
                     : QString("'%1' is not a set (gray:M@PAGE, phase:NxS@PAGE, square:S@PAGE, "
                               "dark@PAGE or light@PAGE)")
                           .arg(text);
        return false;
    }
    switch (r.pattern.kind) {
    case PatternSetKind::Gray:
        r.kind = CaptureSetKind::Gray;
        break;
    case PatternSetKind::Phase:
        r.kind = CaptureSetKind::Phase;
        break;
    case PatternSetKind::Square:
        r.kind = CaptureSetKind::Square;
        break;
    }
    r.page = r.pattern.page;
    *request = r;
    return true;
}

int CapturePlan::captureOfPage(int page) const
{
    const auto it = std::lower_bound(pages.begin(), pages.end(), page);
    return it != pages.end() && *it == page ? int(it - pages.begin()) : -1;
}

bool planCaptureDecode(const std::vector<CaptureSetRequest> &sets, CapturePlan *plan,
                       QString *error)
{
    CapturePlan p;
    p.sets = sets;
    std::set<int> pages;
    for (size_t i = 0; i < sets.size(); ++i) {
        const CaptureSetRequest &s = sets[i];
        for (int k = 0; k < s.patternCount(); ++k) {
            if (!pages.insert(s.page + k).second) {
                *error = QString("page %1 is in two sets (%2 and another)")
                             .arg(s.page + k)
                             .arg(s.text());
                return false;
            }
        }
        int *role = nullptr;
        switch (s.kind) {
        case CaptureSetKind::Gray:
            role = &p.gray;
            break;
        case CaptureSetKind::Phase:
            role = &p.phase;
            break;
        case CaptureSetKind::Square:
            role = &p.square;
            break;
        case CaptureSetKind::Dark:
            role = &p.dark;
            break;
        case CaptureSetKind::Light:
            role = &p.light;
            break;
        }
        if (*role >= 0) {
            *error = QString("%1 and %2: give at most one %3 set")
                         .arg(sets[size_t(*role)].text(), s.text(), s.kindName());
            return false;
        }
        *role = int(i);
    }
    p.pages.assign(pages.begin(), pages.end());
    if (p.gray < 0 && p.phase < 0 && p.square < 0) {
        *error = "no set to take positions from: give a gray, phase or square set";
        return false;
    }

    // The phase set places pixels when there is one; else the square wave.
    p.fine = p.phase >= 0 ? p.phase : p.square;
    if (!fineSetNumbered(p, error))
        return false;
    *plan = p;
    return true;
}
