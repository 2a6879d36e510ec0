// Lets an exception escape main, so that the shipped programs' terminate handler has to report it.
#include <stdexcept>

int main() { throw std::runtime_error("the probe's own failure"); }
