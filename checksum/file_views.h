#pragma once
// The checksum of a large file through mapped views: the bytes are summed
// straight out of the system's file cache instead of being copied into a
// buffer first. On a cached 1 GiB file the copy costs about as much as cat
// itself, so reading and summing in turn took 1.3 to 1.9 times cat's time
// on an AMD machine whose copy leaves the piece out of the cache; the views
// take 1.1 to 1.2 times (bench/checksum). Small files are read: mapping one
// costs more than copying it.
//
// A mapped page whose read fails (a disk error, or on POSIX a file cut short
// by another program while mapped) would end the process with a fault. The
// views guard against it: such a fault replaces the view with zero pages,
// the sum runs on, and the result is reported as a failed read.
#include <cstddef>
#include <cstdint>
#include <functional>

#include "checksum/file_checksum.h"
#include "runtime/types.h"

namespace checksum::detail {

// Files below this are read in pieces.
constexpr int64_t kMapMinSize = 1 << 20;
// Bytes mapped at a time (a multiple of the 64 KiB Windows view alignment):
// memory stays flat whatever the file's size, and 1 GiB takes 256 mappings.
constexpr size_t kViewSize = 4 << 20;

enum class ViewSum {
  kDone,        // every byte fed
  kNotMapped,   // nothing fed: the caller reads the file instead
  kReadFailed,  // a page could not be read
};

// Feeds the file's bytes to `sum` through views, calling `between_chunks`
// after every kChecksumChunkSize bytes. Maps only when the file holds
// exactly `size` bytes (the size the caller saw) and a guard slot is free.
ViewSum SumThroughViews(const rt::Text& path, int64_t size, ChecksumAccumulator& sum,
                        const std::function<void()>& between_chunks);

// The guard's table of mapped ranges (file_views.cpp), shared by the system
// backends: a fault handler asks whether an address lies in a range, and
// marks it failed.
constexpr int kGuardSlots = 8;
// Registers [begin, begin + size); the slot, or -1 when all are taken.
int GuardRange(const std::uint8_t* begin, size_t size);
// The slot's range is gone; true when a fault hit it meanwhile.
bool ReleaseRange(int slot);
// For the fault handler: the slot whose range holds `address` (marked
// failed, with its range), or -1. Lock-free, so a signal handler may call it.
int FailRangeAt(const void* address, const std::uint8_t** begin, size_t* size);

// Sums `size` mapped bytes in kChecksumChunkSize pieces.
void FeedView(const std::uint8_t* view, size_t size, ChecksumAccumulator& sum,
              const std::function<void()>& between_chunks);

}  // namespace checksum::detail
