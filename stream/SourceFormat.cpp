// SourceFormat.cpp: the wording of what keeps a format from playing as it is.
#include "stream/SourceFormat.h"

namespace oggmix {

std::string FormatProblem(int32_t rateHz, int32_t channels) {
    std::string problem;
    if (!RateWithoutResampler(rateHz)) problem = std::to_string(rateHz) + " Hz";
    if (channels < 1 || channels > 2) {
        if (!problem.empty()) problem += ", ";
        problem += std::to_string(channels) + " channels";
    }
    return problem;
}

}  // namespace oggmix
