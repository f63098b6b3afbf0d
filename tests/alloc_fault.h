// Allocation fault injection for the test executable: the heap functions of the whole
// process (the module and yyjson included) are interposed while a test arms a countdown.
#ifndef NTSRCH_TESTS_ALLOC_FAULT_H
#define NTSRCH_TESTS_ALLOC_FAULT_H

#include <cstddef>

namespace alloc_fault {

// False in sanitizer builds, whose runtimes own the heap functions.
bool available();

// Counts allocations from now on until disarm(); the n-th (1-based) fails, none when n is 0.
void arm(std::size_t n);
void disarm();

// Allocations attempted since arm(), and blocks still live among those it let through.
std::size_t attempts();
long live_blocks();

} // namespace alloc_fault

#endif
