#ifndef DVK_PATTERNCONSTANTS_H
#define DVK_PATTERNCONSTANTS_H

// Values in one pattern: lines per pattern in a pattern file, one preview
// page, one burn block.
constexpr int kSamplesPerPage = 1024;
// The most values a pattern file may hold for burning: 60 whole patterns.
constexpr int kMaxBurnPatterns = 60;
constexpr int kMaxBurnSamples = kMaxBurnPatterns * kSamplesPerPage;

#endif
