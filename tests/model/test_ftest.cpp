// Multi-stage integrand tests.
#include <gtest/gtest.h>
