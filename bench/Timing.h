// Timing of two ways of doing the same work, measured in alternation in one process so that a busy
// machine slows both alike; the median of the samples is what counts.
#pragma once

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

namespace kivbench {

inline double Seconds() {
    static const double frequency = [] {
        LARGE_INTEGER f;
        ::QueryPerformanceFrequency(&f);
        return static_cast<double>(f.QuadPart);
    }();
    LARGE_INTEGER now;
    ::QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) / frequency;
}

template <class Fn>
double Batch(Fn& fn, int iterations) {
    const double start = Seconds();
    for (int i = 0; i < iterations; ++i) fn();
    return (Seconds() - start) / iterations;
}

inline double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// Only comparisons whose name contains this text run (all when it is empty); from the command line.
inline const char*& Filter() {
    static const char* filter = "";
    return filter;
}

inline double Quantile(std::vector<double> values, double q) {
    std::sort(values.begin(), values.end());
    return values[static_cast<size_t>(q * (values.size() - 1) + 0.5)];
}

struct Settings {
    double sampleSeconds = 0.02;  // one batch of iterations lasts about this long
    int samples = 101;
};

// Runs `library` and `baseline` in alternating batches (the first of each pair alternating too) and
// prints both medians and the line "ratio NAME: VALUE": library time / baseline time, the median of
// the ratios of the pairs, so that a change of load on the machine during the run cancels out.
template <class Library, class Baseline>
double Compare(const char* name, Library library, Baseline baseline, const Settings& settings = {}) {
    if (!std::strstr(name, Filter())) return 0;
    // Warm up both, and size the batches from the slower of the two.
    library();
    baseline();
    const double once = std::max(Batch(library, 3), Batch(baseline, 3));
    const int iterations = std::max(1, static_cast<int>(settings.sampleSeconds / std::max(once, 1e-9)));
    std::vector<double> a, b;
    for (int s = 0; s < settings.samples; ++s) {
        if (s % 2) {
            b.push_back(Batch(baseline, iterations));
            a.push_back(Batch(library, iterations));
        } else {
            a.push_back(Batch(library, iterations));
            b.push_back(Batch(baseline, iterations));
        }
    }
    std::vector<double> ratios;
    for (size_t s = 0; s < a.size(); ++s) ratios.push_back(a[s] / b[s]);
    const double ratio = Median(ratios);
    std::printf("%-44s library %10.2f us  baseline %10.2f us  ratios %.3f..%.3f  (%d x %d)\n", name,
                Median(a) * 1e6, Median(b) * 1e6, Quantile(ratios, 0.25), Quantile(ratios, 0.75),
                settings.samples, iterations);
    std::printf("ratio %s: %.3f\n", name, ratio);
    std::fflush(stdout);
    return ratio;
}

}  // namespace kivbench
