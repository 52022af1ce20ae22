// Process start without Highway's timer calibration.
//
// The Highway shared library measures its timer's resolution in a load-time initialiser
// (a few milliseconds of spinning on the time stamp counter, on every process start) for
// its benchmarking helpers. This program uses Highway only to choose and run its vector
// kernels, never those helpers. The executable defines the measuring function itself, so
// the dynamic linker binds the library's initialiser to this definition, which returns at
// once: the start no longer spins. The vector kernels and their dispatch are unchanged.
#include <cstdint>

namespace hwy::platform {

// The library's benchmarking helpers would read this as the timer resolution in ticks; the
// program never calls them.
std::uint64_t TimerResolution() { return 1; }

} // namespace hwy::platform
