#ifndef QV_BENCH_REPORT_H
#define QV_BENCH_REPORT_H

// A console reporter that also keeps every run's times, so that a benchmark
// program can print its own summary (ratios, time per bone, growth between
// sizes) from the same run once all benchmarks have finished.

#include <benchmark/benchmark.h>

#include <stdio.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace qvbench
{
inline double Median(std::vector<double> v)
{
    if (v.empty())
        return NAN;
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : 0.5 * (v[n / 2 - 1] + v[n / 2]);
}

// Times of one benchmark in nanoseconds per iteration: one entry per
// repetition, or the library's own median when only aggregates are reported
// (--benchmark_display_aggregates_only).
struct Times
{
    std::vector<double> cpu;
    std::vector<double> real;
    double medianCpu = NAN;
    double medianReal = NAN;
    double MedianCpu() const { return std::isnan(medianCpu) ? Median(cpu) : medianCpu; }
    double MedianReal() const { return std::isnan(medianReal) ? Median(real) : medianReal; }
};

typedef std::map<std::string, Times> Results;

class SummaryReporter : public benchmark::ConsoleReporter
{
public:
    // Colours only on a terminal, so that a saved report stays plain text.
    explicit SummaryReporter(std::function<void(const Results&)> summary)
        : ConsoleReporter(isatty(fileno(stdout)) ? OO_ColorTabular : OO_Tabular), mSummary(std::move(summary))
    {
    }

    void ReportRuns(const std::vector<Run>& runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs)
        {
            if (run.error_occurred || run.iterations == 0)
                continue;
            const double toNs = 1e9 / benchmark::GetTimeUnitMultiplier(run.time_unit);
            if (run.run_type == Run::RT_Iteration)
            {
                Times& t = mResults[run.benchmark_name()];
                t.cpu.push_back(run.GetAdjustedCPUTime() * toNs);
                t.real.push_back(run.GetAdjustedRealTime() * toNs);
            }
            else if (run.aggregate_name == "median")
            {
                Times& t = mResults[run.run_name.str()];
                t.medianCpu = run.GetAdjustedCPUTime() * toNs;
                t.medianReal = run.GetAdjustedRealTime() * toNs;
            }
        }
    }

    void Finalize() override
    {
        ConsoleReporter::Finalize();
        std::printf("\n");
        mSummary(mResults);
        std::fflush(stdout);
    }

private:
    std::function<void(const Results&)> mSummary;
    Results mResults;
};

// Runs the registered benchmarks with a SummaryReporter; the usual main.
inline int RunWithSummary(int argc, char** argv, std::function<void(const Results&)> summary)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    SummaryReporter reporter(std::move(summary));
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}

// Prints, for the benchmarks prefix + size (sizes ascending), the median CPU
// and wall time per run, the CPU time per item, and the growth exponent of the
// CPU time between neighbouring sizes: log(time ratio) / log(size ratio), 1
// for linear growth, 2 for quadratic.
inline void PrintScaling(const Results& results, const std::string& prefix, const std::vector<unsigned int>& sizes,
                         const char* item)
{
    bool header = false;
    double prevT = 0.0, prevN = 0.0;
    for (unsigned int n : sizes)
    {
        auto it = results.find(prefix + std::to_string(n));
        if (it == results.end())
            continue;
        if (!header)
        {
            std::printf("%s<N>: medians, and growth exponent of the CPU time against the previous size\n",
                        prefix.c_str());
            std::printf("  %8s %12s %12s %14s %9s\n", "N", "CPU (ms)", "wall (ms)",
                        (std::string("CPU per ") + item).c_str(), "exponent");
            header = true;
        }
        const double t = it->second.MedianCpu();
        std::printf("  %8u %12.2f %12.2f %11.2f us", n, t / 1e6, it->second.MedianReal() / 1e6, t / n / 1e3);
        if (prevN > 0.0)
            std::printf(" %9.2f", std::log(t / prevT) / std::log(n / prevN));
        std::printf("\n");
        prevT = t;
        prevN = n;
    }
}
} // namespace qvbench

#endif // QV_BENCH_REPORT_H
