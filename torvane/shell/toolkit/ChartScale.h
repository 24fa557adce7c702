#pragma once
// The arithmetic of the chart, apart from any widget: where an axis puts its
// ticks and how many decimals their labels carry, whether markers and point
// labels can be read at the current density, and which sample lies under the
// cursor. The chart control asks these; tests ask them without a display.

#include <string>

namespace chartscale {

// Ticks of an axis: first tick at or above the range's minimum, then every
// `step`; labels with `decimals` places.
struct Ticks {
    double first = 0;
    double step = 1;
    int count = 0;
    int decimals = 0;
};

// Decimals of a value by its parameter exponent: 0 -> 0, -1 -> 1, -2 -> 2,
// any other -> 3 (the value texts of the views).
int DecimalsOfExponent(int exponent);

// About `wanted` ticks over [lo, hi] at steps of 1, 2 or 5 times a power of
// ten, never finer than the last of `maxDecimals` places: a signal with one
// decimal never gets ticks at 0.05.
Ticks NiceTicks(double lo, double hi, int wanted, int maxDecimals);

// The label of a tick: fixed decimals, and no "-0".
std::string TickText(double value, int decimals);

// Markers help only while the points stand apart: at least `minSpacingPx`
// pixels between neighbours over a plot `plotWidthPx` wide.
bool MarkersReadable(int pointsInView, double plotWidthPx, double minSpacingPx = 12);

// Every how many points a label may stand so that labels about
// `labelWidthPx` wide do not run into each other (1 = every point).
int LabelStride(int pointsInView, double plotWidthPx, double labelWidthPx);

// The sample index under pixel x of a plot from `left` to `right` showing the
// time axis from visMin to visMax, both truncated to whole samples; -1 off
// the plot.
long long HoverIndex(int x, int left, int right, double visMin, double visMax);

}  // namespace chartscale
