#ifndef DVK_SINGLEMATH_H
#define DVK_SINGLEMATH_H

// Single-precision arctangent, arcsine and tangent of the scan-timing model,
// correctly rounded: for every float the float nearest the exact value (ties
// cannot occur). A segment boundary's last bit decides which sample falls on
// which side of it, and no C library promises these last bits, nor do two of
// them agree; the nearest float is one definition that every platform and
// compiler reproduce, so the written pattern is the same everywhere.
float singleAtan(float x);
float singleAsin(float x); // not-a-number outside [-1, 1]
float singleTan(float x);

#endif
