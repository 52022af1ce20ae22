#include "model/state.hpp"

namespace traz {
thread_local SelectionState sel{};
} // namespace traz
