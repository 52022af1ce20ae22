// Constants of phid, shared by its scalar and its vector form.
#pragma once

namespace traz::phid_rules {

// Phi(-|z|) = exp(-z^2/2) P(|z|) / Q(|z|) below the cutoff; p[i] and q[i] are the
// coefficients of |z|^i.
inline constexpr double p[7] = {220.2068679123761, 221.2135961699311, 112.0792914978709, 33.912866078383,
                                6.37396220353165,  0.7003830644436881, 0.03526249659989109};
inline constexpr double q[8] = {440.4137358247522, 793.8265125199484, 637.3336333788311, 296.5642487796737,
                                86.78073220294608, 16.06417757920695, 1.755667163182642, 0.08838834764831845};
inline constexpr double rrtpi = 2.506628274631001;  // sqrt(2 pi), of the continued fraction
inline constexpr double cutoff = 7.071067811865475; // 10/sqrt(2)
inline constexpr double zero_beyond = 37.0;         // |z| beyond which Phi is 0 or 1

} // namespace traz::phid_rules
