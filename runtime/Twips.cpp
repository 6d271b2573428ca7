#include <runtime/Twips.h>

#include <algorithm>
#include <cmath>

namespace runtime {

int toPixels(double twips) {
    // Far beyond any screen, yet small enough that sums of two stay inside int.
    constexpr double kFarAway = 1'000'000.0;
    if (std::isnan(twips))
        return 0;
    return static_cast<int>(std::lround(std::clamp(twips / kTwipsPerPixel, -kFarAway, kFarAway)));
}

} // namespace runtime
