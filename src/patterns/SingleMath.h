#ifndef DVK_SINGLEMATH_H
#define DVK_SINGLEMATH_H

// The single-precision arctangent and arcsine of the scan-timing model, the
// same to the last bit on every platform. The C libraries' atanf and asinf
// are not correctly rounded and differ between them (MinGW-w64's round the
// double result; glibc's evaluate in single), and a last bit moves a segment
// boundary across a sample instant, so the written pattern would depend on
// the platform. These evaluate in single, step for step, the freely
// distributable algorithms that glibc's atanf and asinf use, so the Linux
// build's figures stay as they were and the Windows build's equal them.
float singleAtan(float x);
float singleAsin(float x);

#endif
