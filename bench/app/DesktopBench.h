#pragma once

// Shared by the benchmarks that run the program on a virtual desktop.

#include "E2eSupport.h"

#include <algorithm>
#include <cstdio>
#include <vector>

namespace DesktopBench {

// The median of the runs that measured something (a failed run counts as negative); -1 when none did.
inline double median(std::vector<double> values)
{
    values.erase(std::remove_if(values.begin(), values.end(), [](double v) { return v < 0; }), values.end());
    if (values.empty())
        return -1;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// Whether the desktop's programs are installed; if not, the bench says it is skipped.
inline bool toolsInstalled(const char* bench)
{
    const QString missing = E2e::missingTools();
    if (!missing.isEmpty())
        std::printf("%s: skipped (%s)\n", bench, qPrintable(missing));
    return missing.isEmpty();
}

} // namespace DesktopBench
