#include "driver/state.hpp"

namespace traz {
SelectionState sel{};
} // namespace traz
