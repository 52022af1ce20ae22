// TRAZ: reads a selection problem on standard input and writes its report.
#include <iostream>
#include <iterator>
#include <string>

#include "driver/driver.hpp"

int main() {
    traz::RunOptions opt;
    opt.start = traz::cpu_seconds();
    opt.has_start = true;
    const std::string deck((std::istreambuf_iterator<char>(std::cin)), std::istreambuf_iterator<char>());
    return traz::run(deck, stdout, stderr, opt);
}
