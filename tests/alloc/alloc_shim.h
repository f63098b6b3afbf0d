/* SPDX-License-Identifier: MIT */
// Heap interposer of the allocation-failure test: counts live blocks and fails chosen
// allocations. Single-threaded use only.
#ifndef NTSRCH_ALLOC_SHIM_H
#define NTSRCH_ALLOC_SHIM_H

#include <cstddef>

namespace shim {

// Starts counting allocation events (malloc, calloc, realloc, operator new) from 1. Event
// number `fail_at` fails; with `fail_rest`, every later one fails too. fail_at 0 fails
// nothing.
void arm(unsigned long fail_at, bool fail_rest) noexcept;
void disarm() noexcept;

unsigned long events() noexcept;   // allocation events since arm()
unsigned long injected() noexcept; // failures returned since arm()
long live() noexcept;              // blocks currently allocated through the shim

} // namespace shim

#endif
