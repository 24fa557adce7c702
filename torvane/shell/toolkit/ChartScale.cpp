#include "ChartScale.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace chartscale {

int DecimalsOfExponent(int exponent)
{
    switch (exponent) {
    case 0: return 0;
    case -1: return 1;
    case -2: return 2;
    default: return 3;
    }
}

Ticks NiceTicks(double lo, double hi, int wanted, int maxDecimals)
{
    Ticks t;
    maxDecimals = std::clamp(maxDecimals, 0, 6);
    if (!(hi > lo) || !std::isfinite(lo) || !std::isfinite(hi)) {
        t.first = lo;
        t.count = 1;
        t.decimals = maxDecimals;
        return t;
    }
    const double rough = (hi - lo) / std::max(1, wanted);
    const double p = std::pow(10.0, std::floor(std::log10(rough)));
    const double m = rough / p;
    double step = (m <= 1 ? 1 : m <= 2 ? 2 : m <= 5 ? 5 : 10) * p;
    step = std::max(step, std::pow(10.0, -maxDecimals));
    // Places the step itself needs: 0.5 needs one, 0.25 never occurs.
    int decimals = 0;
    while (decimals < maxDecimals && std::fabs(step * std::pow(10.0, decimals) -
                                               std::round(step * std::pow(10.0, decimals))) > 1e-9)
        ++decimals;
    t.step = step;
    t.decimals = decimals;
    t.first = std::ceil(lo / step - 1e-9) * step;
    t.count = static_cast<int>(std::floor((hi - t.first) / step + 1e-9)) + 1;
    return t;
}

std::string TickText(double value, int decimals)
{
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*f", std::clamp(decimals, 0, 6), value);
    std::string s = buf;
    if (s[0] == '-' && s.find_first_not_of("-0.") == std::string::npos) s.erase(0, 1);
    return s;
}

bool MarkersReadable(int pointsInView, double plotWidthPx, double minSpacingPx)
{
    if (pointsInView <= 1) return true;
    return plotWidthPx / (pointsInView - 1) >= minSpacingPx;
}

int LabelStride(int pointsInView, double plotWidthPx, double labelWidthPx)
{
    if (pointsInView <= 1 || !(plotWidthPx > 0)) return 1;
    const double spacing = plotWidthPx / (pointsInView - 1);
    return std::max(1, static_cast<int>(std::ceil(labelWidthPx / spacing)));
}

long long HoverIndex(int x, int left, int right, double visMin, double visMax)
{
    if (right <= left || x < left || x > right) return -1;
    const long long lo = static_cast<long long>(visMin);
    const long long hi = static_cast<long long>(visMax);
    const long long px = x, l = left, r = right;
    return ((px - l) * hi + (r - px) * lo) / (r - l);
}

}  // namespace chartscale
