#ifndef _QV_BENCH_REPORT_H_
#define _QV_BENCH_REPORT_H_

// A console reporter that also keeps every run's times, so that a benchmark
// program can print its own summary (ratios, time per bone, growth between
// sizes) from the same run once all benchmarks have finished.

#include <benchmark/benchmark.h>

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

// Times of one benchmark, one entry per repetition, in nanoseconds per
// iteration.
struct Times
{
    std::vector<double> cpu;
    std::vector<double> real;
    double MedianCpu() const { return Median(cpu); }
    double MedianReal() const { return Median(real); }
};

typedef std::map<std::string, Times> Results;

class SummaryReporter : public benchmark::ConsoleReporter
{
public:
    explicit SummaryReporter(std::function<void(const Results&)> summary) : mSummary(std::move(summary)) {}

    void ReportRuns(const std::vector<Run>& runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs)
        {
            if (run.run_type != Run::RT_Iteration || run.error_occurred || run.iterations == 0)
                continue;
            const double toNs = 1e9 / benchmark::GetTimeUnitMultiplier(run.time_unit);
            Times& t = mResults[run.benchmark_name()];
            t.cpu.push_back(run.GetAdjustedCPUTime() * toNs);
            t.real.push_back(run.GetAdjustedRealTime() * toNs);
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

// Prints, for the benchmarks prefix + size (sizes ascending), the median time
// per run and per item, and the growth exponent between neighbouring sizes:
// log(time ratio) / log(size ratio), 1 for linear growth, 2 for quadratic.
inline void PrintScaling(const Results& results, const std::string& prefix, const std::vector<unsigned int>& sizes,
                         const char* item, bool realTime)
{
    std::printf("%s<N>: median %s time, per %s, and growth exponent against the previous size\n", prefix.c_str(),
                realTime ? "wall" : "CPU", item);
    std::printf("  %8s %14s %14s %9s\n", "N", "time (us)", "per item (ns)", "exponent");
    double prevT = 0.0, prevN = 0.0;
    for (unsigned int n : sizes)
    {
        auto it = results.find(prefix + std::to_string(n));
        if (it == results.end())
            continue;
        const double t = realTime ? it->second.MedianReal() : it->second.MedianCpu();
        std::printf("  %8u %14.1f %14.1f", n, t / 1e3, t / n);
        if (prevN > 0.0)
            std::printf(" %9.2f", std::log(t / prevT) / std::log(n / prevN));
        std::printf("\n");
        prevT = t;
        prevN = n;
    }
}
} // namespace qvbench

#endif // _QV_BENCH_REPORT_H_
