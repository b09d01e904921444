#pragma once

// Terminal messages run to megabytes, and each one passes through several
// buffers of its size (frame, parsed document, log line, receipt lines).
// By default glibc gives each such buffer fresh pages and returns them when
// it is freed, so every message pays for thousands of page faults, taken by
// threads that contend for the process's address space. Keeping buffers
// below the message cap in the heap, and the heap's freed top mapped up to
// a bound, makes a message cost its work alone; what stays mapped is
// bounded by the largest messages seen, not by how many.
namespace AllocatorTuning {

constexpr int mmapThreshold = 16 * 1024 * 1024;
constexpr int trimThreshold = 32 * 1024 * 1024;

// Call once, first thing in main(); a no-op where the C library has no such knobs.
void apply();

} // namespace AllocatorTuning
