// BenchMain.cpp: runs the figures (Google Benchmark flags apply) and prints the table of
// ratios on standard output; the usual per-run lines go to standard error.
// --profile=NAME[:UNITS] runs only that figure's candidate, for callgrind (see ProfileFigure).
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <iostream>
#include <string>
#include <string_view>

#include "bench/BenchFiles.h"
#include "bench/BenchTable.h"

namespace {

constexpr std::string_view kProfileFlag = "--profile=";
constexpr long kDefaultProfileUnits = 100;

// NAME[:UNITS] of a --profile argument; empty name when there is none.
std::pair<std::string, long> ProfileRequest(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg.substr(0, kProfileFlag.size()) != kProfileFlag) continue;
        const std::string value(arg.substr(kProfileFlag.size()));
        const size_t colon = value.find(':');
        if (colon == std::string::npos) return {value, kDefaultProfileUnits};
        return {value.substr(0, colon), std::atol(value.c_str() + colon + 1)};
    }
    return {};
}

}  // namespace

int main(int argc, char** argv) {
    const auto [profileName, profileUnits] = ProfileRequest(argc, argv);
    if (profileName.empty()) {
        benchmark::Initialize(&argc, argv);
        if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    }
    // Made before any figure runs, so that no repetition pays for the encoding.
    (void)oggmix::bench::StereoFile();
    (void)oggmix::bench::MonoFile();
    oggmix::bench::AddStreamFigures();
    oggmix::bench::AddMixerFigures();
    oggmix::bench::AddTransformFigures();
    if (!profileName.empty()) {
        if (oggmix::bench::ProfileFigure(profileName, profileUnits)) return 0;
        std::cerr << "oggmix_bench: no figure named " << profileName << "\n";
        return 2;
    }

    oggmix::bench::TableReporter reporter;
    reporter.SetOutputStream(&std::cerr);
    reporter.SetErrorStream(&std::cerr);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.PrintTable(std::cout);
    return 0;
}
