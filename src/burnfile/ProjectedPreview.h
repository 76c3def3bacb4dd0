#ifndef DVK_PROJECTEDPREVIEW_H
#define DVK_PROJECTEDPREVIEW_H

// A page as it lands on the scene. The projector plays its samples at even
// times while the beam moves fastest at the centre of the sweep, so samples
// are not evenly spread on the projection plane. Resampling the page at even
// steps in projected position shows stripes laid out evenly there as even.

#include "patterns/ScanTiming.h"

#include <QVector>

#include <vector>

// For each of kSamplesPerPage even steps across the projected window, from
// -X to +X, the sample the projector is playing when the beam crosses the
// step's centre: increasing, from 0 to 1023.
std::vector<int> projectedSampleOrder(const ScanTiming &timing);

// The page's values at those steps, ready for the page renderers. A page
// shorter than 1024 values gives the steps its samples reach.
QVector<int> projectedPage(const QVector<int> &values, const ScanTiming &timing);

#endif
