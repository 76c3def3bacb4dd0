#ifndef DVK_DECODERROWS_H
#define DVK_DECODERROWS_H

// The decoder's own working parts, shared by the files that implement it:
// which capture plays which role, and one row of pixels on its way through
// the steps. Not for use outside the decoder.

#include "CaptureDecoder.h"

#include <limits>
#include <vector>

// The modulation of a set that is absent: never below the threshold.
constexpr float kAbsent = std::numeric_limits<float>::infinity();

struct CaptureDecoder::Roles {
    std::vector<const float *> all;
    std::vector<const float *> gray;
    std::vector<const float *> phase;
    std::vector<const float *> square;
    const float *dark = nullptr;
    const float *light = nullptr;
};

// One row of pixels decoded. Modulations of sets that are absent are
// kAbsent.
struct CaptureDecoder::Row {
    std::vector<float> u;
    std::vector<float> modulation; // of the set that places the pixel
    std::vector<float> gray, phase, square, reference;
    std::vector<quint8> saturated;
    std::vector<quint8> disagree; // stripe and phase disagree, or outside the window
    std::vector<float> threshold;
    // The Gray bit nearest its threshold: its distance from it.
    std::vector<float> weakest;
    // Without references and a fine set, the Michelson contrast between the
    // Gray captures' darkest and brightest; infinite otherwise.
    std::vector<float> contrast;
    // working space; squareCos and squareSin hold the square wave's
    // quadrature when zc and zs hold the phase set's
    std::vector<float> zc, zs, sum, squareCos, squareSin;
    std::vector<int> code;

    explicit Row(int width)
    {
        for (std::vector<float> *v :
             {&u, &modulation, &gray, &phase, &square, &reference, &threshold, &weakest, &contrast,
              &zc, &zs, &sum, &squareCos, &squareSin})
            v->resize(size_t(width));
        saturated.resize(size_t(width));
        disagree.resize(size_t(width));
        code.resize(size_t(width));
    }
};

struct CaptureDecoder::Tally {
    std::vector<qint64> setValid;
    qint64 valid = 0;
    qint64 saturated = 0;
    qint64 disagree = 0;
};

#endif
