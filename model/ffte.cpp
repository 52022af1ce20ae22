// Single-stage integrand (being written).
#include "model/model.hpp"
