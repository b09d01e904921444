#pragma once

#include <chrono>

// Terminal messages run to megabytes, and each one passes through several
// buffers of its size (frame, parsed document, log line, receipt lines).
// By default glibc gives each such buffer fresh pages and returns them when
// it is freed, so every message pays for thousands of page faults, taken by
// threads that contend for the process's address space. Keeping buffers
// below the message cap in the heap, and the heap's freed top mapped up to
// a bound, makes a message cost its work alone.
//
// What that keeps is returned later: a flood of large messages leaves free
// pieces all over the allocator's arenas, which glibc would hold resident
// for good. A watcher hands them back to the system once the resident
// memory that is not in use has grown well past what it was after the last return.
namespace AllocatorTuning {

constexpr int mmapThreshold = 16 * 1024 * 1024;
constexpr int trimThreshold = 32 * 1024 * 1024;
// Each thread that allocates may otherwise get an arena of its own, and
// each arena keeps its own free pieces.
constexpr int arenaMax = 4;

// How often the watcher looks, and by how much the free resident memory must have grown.
constexpr std::chrono::seconds returnCheckInterval{5};
constexpr long long returnAboveBytes = 16 * 1024 * 1024;

// Call once, first thing in main(); a no-op where the C library has no such knobs.
void apply();

// Hands every free page of every arena back now; what the watcher does.
void returnFreedMemory();

} // namespace AllocatorTuning
