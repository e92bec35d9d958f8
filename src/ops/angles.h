// angles.h - the conversion of caller angles (radians) to the kernel's hundredths of a degree.
#pragma once

namespace dib::ops {

// hundredths = trunc(floor(radians x 57.29577951308 x 100.0)), the two products in that order,
// with whole turns (36000) taken off the floored value. The factor lies just below 180 / pi, so
// pi / 2 gives 8999. false, hundredths untouched, for a NaN, an infinite value or a product
// beyond 2^53 (where whole hundredths are no longer represented).
bool AngleToHundredths(double radians, int& hundredths);

} // namespace dib::ops
