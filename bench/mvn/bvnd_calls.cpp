// The bvnd call counter of the counting build.
#include "mvn/count.hpp"

namespace traz {
long long bvnd_calls = 0;
}
