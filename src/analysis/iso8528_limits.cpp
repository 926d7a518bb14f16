#include "analysis/iso8528_limits.h"

namespace torvix::analysis {

std::string_view className(PerformanceClass c) {
    const ClassLimits* limits = limitsOf(c);
    return limits ? limits->name : std::string_view("none");
}

const ClassLimits* limitsOf(PerformanceClass c) {
    for (const ClassLimits& limits : kClassLimits)
        if (limits.performanceClass == c) return &limits;
    return nullptr;
}

}  // namespace torvix::analysis
