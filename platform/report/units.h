// Lengths of the report engine.
//
// Every position and size is an integer number of micrometres (`Micro`), so that
// adding up band heights and offsets never accumulates rounding. Font sizes stay in
// points (a double) because that is how fonts are specified.
#pragma once

#include <cmath>
#include <cstdint>

namespace Platform::Report {

using Micro = std::int64_t;

constexpr Micro kMicroPerMillimetre = 1000;
constexpr Micro kMicroPerInch = 25400;

constexpr Micro FromMillimetres(double aMillimetres) {
  return static_cast<Micro>(aMillimetres * 1000.0 + (aMillimetres < 0 ? -0.5 : 0.5));
}
constexpr double ToMillimetres(Micro aValue) {
  return static_cast<double>(aValue) / 1000.0;
}
// One typographic point is 1/72 inch.
constexpr Micro FromPoints(double aPoints) {
  return static_cast<Micro>(aPoints * 25400.0 / 72.0 + (aPoints < 0 ? -0.5 : 0.5));
}
constexpr double ToPoints(Micro aValue) {
  return static_cast<double>(aValue) * 72.0 / 25400.0;
}

}  // namespace Platform::Report
