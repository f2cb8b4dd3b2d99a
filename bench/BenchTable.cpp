// BenchTable.cpp: lockstep timing of a figure against its baseline, and the table.
#include "bench/BenchTable.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iomanip>
#include <ostream>
#include <sstream>

#include <valgrind/callgrind.h>

#include "bench/BenchFiles.h"

namespace oggmix::bench {
namespace {

std::vector<FigureDef>& Defs() {
    static std::vector<FigureDef> defs;
    return defs;
}

std::vector<std::function<FigureWork()>>& Factories() {
    static std::vector<std::function<FigureWork()>> factories;
    return factories;
}

void RunFigure(benchmark::State& state, const FigureDef& def,
               const std::function<FigureWork()>& factory) {
    FigureWork work = factory();
    const int32_t calls = def.CallsPerUnit;
    auto timed = [calls](const std::function<void()>& fn) {
        const double start = ThreadCpuSec();
        for (int32_t i = 0; i < calls; ++i) fn();
        return ThreadCpuSec() - start;
    };
    double candidateSec = 0.0;
    double baselineSec = 0.0;
    int64_t units = 0;
    for (auto _ : state) {
        if (work.BeforeUnit) work.BeforeUnit();
        double candidate = 0.0;
        // Alternate the order, so that neither side always runs with the other's data in
        // the caches.
        if (units % 2 == 0) {
            baselineSec += timed(work.Baseline);
            candidate = timed(work.Candidate);
        } else {
            candidate = timed(work.Candidate);
            baselineSec += timed(work.Baseline);
        }
        candidateSec += candidate;
        state.SetIterationTime(candidate);
        ++units;
    }
    state.counters["candidate_s"] = candidateSec;
    state.counters["baseline_s"] = baselineSec;
    state.counters["units"] = static_cast<double>(units);
    state.counters["ratio"] = baselineSec > 0.0 ? candidateSec / baselineSec : 0.0;
}

double Median(std::vector<double> values) {
    if (values.empty()) return 0.0;
    std::sort(values.begin(), values.end());
    const size_t mid = values.size() / 2;
    return values.size() % 2 == 1 ? values[mid] : (values[mid - 1] + values[mid]) / 2.0;
}

std::string ProcessorName() {
    std::ifstream cpuinfo("/proc/cpuinfo");
    std::string line;
    while (std::getline(cpuinfo, line)) {
        if (line.rfind("model name", 0) == 0) {
            const size_t colon = line.find(':');
            if (colon != std::string::npos) return line.substr(colon + 2);
        }
    }
    return "unknown processor";
}

std::string Today() {
    const std::time_t now = std::time(nullptr);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d", std::localtime(&now));
    return text;
}

// "812.3 us" or "1234 ns": a time per unit, in the unit that suits it.
std::string FormatTime(double sec, FigureUnit unit) {
    std::ostringstream text;
    text << std::fixed;
    if (unit == FigureUnit::Call)
        text << std::setprecision(0) << sec * 1e9 << " ns";
    else
        text << std::setprecision(1) << sec * 1e6 << " us";
    return text.str();
}

}  // namespace

void AddFigure(FigureDef def, std::function<FigureWork()> factory) {
    Defs().push_back(def);
    Factories().push_back(factory);
    benchmark::RegisterBenchmark(
        def.Name.c_str(),
        [def, factory](benchmark::State& state) { RunFigure(state, def, factory); })
        ->UseManualTime()
        ->Iterations(def.Iterations)
        ->Unit(def.Unit == FigureUnit::Call ? benchmark::kNanosecond : benchmark::kMicrosecond);
}

bool ProfileFigure(const std::string& name, int64_t Units) {
    for (size_t i = 0; i < Defs().size(); ++i) {
        if (Defs()[i].Name != name) continue;
        FigureWork work = Factories()[i]();
        for (int64_t unit = 0; unit < Units; ++unit) {
            if (work.BeforeUnit) work.BeforeUnit();
            CALLGRIND_START_INSTRUMENTATION;
            for (int32_t call = 0; call < Defs()[i].CallsPerUnit; ++call) work.Candidate();
            CALLGRIND_STOP_INSTRUMENTATION;
        }
        return true;
    }
    return false;
}

void TableReporter::ReportRuns(const std::vector<Run>& reports) {
    ConsoleReporter::ReportRuns(reports);
    for (const Run& run : reports) {
        if (run.run_type != Run::RT_Iteration || run.error_occurred) continue;
        const auto counter = [&run](const char* name) {
            const auto found = run.counters.find(name);
            return found == run.counters.end() ? 0.0 : found->second.value;
        };
        FRuns.push_back({run.run_name.function_name,
                         {counter("candidate_s"), counter("baseline_s"), counter("units")}});
    }
}

void TableReporter::PrintTable(std::ostream& out) const {
    size_t repetitions = 0;
    for (const FigureDef& def : Defs()) {
        repetitions = std::max<size_t>(
            repetitions,
            static_cast<size_t>(std::count_if(FRuns.begin(), FRuns.end(), [&def](const auto& run) {
                return run.first == def.Name;
            })));
    }
    out << "oggmix benchmarks, " << Today() << ", " << ProcessorName() << "\n"
        << "Medians of " << repetitions << " repetition(s); thread CPU time; every figure timed "
        << "in lockstep with its baseline.\n"
        << "A block is " << kBlockFrames << " output frames (" << std::fixed << std::setprecision(1)
        << kBlockSec * 1000.0 << " ms of sound).\n\n";
    out << std::left << std::setw(66) << "figure" << std::right << std::setw(12) << "per unit"
        << std::setw(12) << "baseline" << std::setw(9) << "ratio" << std::setw(10) << "target"
        << "\n";
    out << std::string(66 + 12 + 12 + 9 + 10 + 5, '-') << "\n";

    bool allMet = true;
    for (const FigureDef& def : Defs()) {
        std::vector<double> candidate, baseline, ratio;
        for (const auto& [name, rep] : FRuns) {
            if (name != def.Name || rep.Units <= 0.0 || rep.BaselineSec <= 0.0) continue;
            const double calls = rep.Units * def.CallsPerUnit;
            candidate.push_back(rep.CandidateSec / calls);
            baseline.push_back(rep.BaselineSec / calls);
            ratio.push_back(rep.CandidateSec / rep.BaselineSec);
        }
        if (ratio.empty()) continue;
        const double baselineSec = Median(baseline);
        if (!def.FloorCaption.empty()) {
            std::ostringstream realTime;
            realTime << std::fixed << std::setprecision(1) << kBlockSec / baselineSec
                     << "x real time";
            out << std::left << std::setw(66) << def.FloorCaption << std::right << std::setw(12)
                << FormatTime(baselineSec, def.Unit) << "   " << realTime.str() << "\n";
        }
        const double r = Median(ratio);
        std::ostringstream ratioText, targetText;
        ratioText << std::fixed << std::setprecision(3) << r;
        if (def.Target > 0.0) {
            targetText << "<= " << std::fixed << std::setprecision(2) << def.Target;
            if (r > def.Target) allMet = false;
        }
        const std::string caption = "  " + def.Caption + " / " + def.BaselineText;
        out << std::left << std::setw(66) << caption << std::right << std::setw(12)
            << FormatTime(Median(candidate), def.Unit) << std::setw(12)
            << FormatTime(baselineSec, def.Unit) << std::setw(9) << ratioText.str() << std::setw(10)
            << targetText.str()
            << (def.Target > 0.0 ? (r <= def.Target ? "  met" : "  MISSED") : "") << "\n";
    }
    out << "\n" << (allMet ? "Every target met." : "Some targets missed.") << "\n";
}

}  // namespace oggmix::bench
