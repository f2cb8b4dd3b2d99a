#pragma once
// BenchTable.h: figures timed in lockstep with their baselines, and the table of ratios that
// the benchmark program prints at the end.
//
// A figure is one Google Benchmark whose every iteration runs a unit of the baseline and a
// unit of the candidate back to back (alternating which goes first), each timed on the
// thread's CPU clock. So the two see the same machine at the same moment, and a shared,
// busy machine slows both alike. Per repetition the ratio is candidate time / baseline time;
// the table shows the medians over the repetitions.
// Threads: the benchmark thread. Memory: allocates (registration and reporting only).

#include <benchmark/benchmark.h>

#include <ctime>
#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

namespace oggmix::bench {

enum class FigureUnit { Block, Call };  // a block: 8192 output frames; a call: one call

struct FigureDef {
    std::string Name;          // the benchmark's name, e.g. "render/stereo/defaults"
    std::string Caption;       // the table's text for the ratio
    std::string BaselineText;  // what the ratio divides by
    double Target = 0.0;       // the largest ratio allowed; 0: no target
    FigureUnit Unit = FigureUnit::Block;
    std::string FloorCaption;  // non-empty: also print the baseline's own figure (decode floor)
    int64_t Iterations = 1;    // units per repetition
    int32_t CallsPerUnit = 1;  // a Call figure times this many calls per clock reading
};

// Everything a figure does, set up by its factory once per repetition (untimed).
struct FigureWork {
    std::function<void()> Candidate;
    std::function<void()> Baseline;
    std::function<void()> BeforeUnit;  // untimed, before each unit; may be empty
};

// Registers a figure with Google Benchmark and with the table, in table order.
void AddFigure(FigureDef def, std::function<FigureWork()> factory);

// Runs Units units of the named figure's candidate alone, with callgrind's instrumentation
// on around them only (for `valgrind --tool=callgrind --instr-atstart=no`). False when no
// figure has that name.
[[nodiscard]] bool ProfileFigure(const std::string& name, int64_t Units);

// The thread's CPU time in seconds.
[[nodiscard]] inline double ThreadCpuSec() noexcept {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// A reporter that shows the usual console lines on a stream of its choice and keeps every
// repetition for the table.
class TableReporter : public benchmark::ConsoleReporter {
public:
    TableReporter() : benchmark::ConsoleReporter(OO_Tabular) {}
    void ReportRuns(const std::vector<Run>& reports) override;
    // The table of every registered figure, with a header naming date, processor and method.
    void PrintTable(std::ostream& out) const;

private:
    struct Repetition {
        double CandidateSec = 0.0;
        double BaselineSec = 0.0;
        double Units = 0.0;
    };
    std::vector<std::pair<std::string, Repetition>> FRuns;
};

// The figures, registered in table order by the program's main.
void AddStreamFigures();
void AddMixerFigures();
void AddTransformFigures();

}  // namespace oggmix::bench
