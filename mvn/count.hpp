// Call counter for the bivariate routine, compiled in only for measurement builds
// (TRAZ_MVN_COUNT defined); production builds carry no trace of it.
#pragma once

#ifdef TRAZ_MVN_COUNT
namespace traz {
extern long long bvnd_calls;
}
#define TRAZ_MVN_COUNT_BVND() (++::traz::bvnd_calls)
#else
#define TRAZ_MVN_COUNT_BVND() ((void)0)
#endif
