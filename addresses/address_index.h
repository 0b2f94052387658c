// An index over the allowed addresses that tells whether a text contains any of
// them, ASCII case ignored, without trying every address at every position.
//
// address_list.cpp keeps it in step: each operation that changes the list tells
// the index before it releases the list's lock, so a check, which holds the lock
// for its whole walk, never sees a stale or half-built index, and never has to
// build or allocate anything itself. When the index could not get its memory, or
// finds the list changed behind the operations' back, it says so through
// AddressIndexInStep and the check tries each address in turn instead.
#pragma once

#include <cstddef>

struct AddressEntry;

// For the list's operations, with the lock held, after the list itself changed.
void IndexAddedEntry(const AddressEntry* entry);    // entry is linked at the head
void IndexRemovedEntry(const AddressEntry* entry);  // entry is unlinked, its text still there
void RebuildAddressIndex();
void ReleaseAddressIndex();  // the list is empty

// With the lock held: whether the index answers for the list as it is now.
bool AddressIndexInStep();
// With the lock held and the index in step: whether text contains an allowed
// address. Reads text no further than its zero byte's aligned 32-byte block.
bool IndexFindsAddress(const char* text);

// Heap and table bytes the index holds now.
size_t AddressIndexBytes();

// The scans by width, narrowest first: bytewise, SSE2, AVX2.
enum class ScanWidth { kBytes, kSse2, kAvx2 };

#ifdef QUORVEL_TEST_SWITCHES
// Test builds of the core only (quorvel_core_for_tests), never the module: the
// widest scan that may be used, when the processor has it; and the index's
// allocations after the next `successes` failing, as when memory runs out (a
// negative count lets them all succeed again).
void LimitScanWidth(ScanWidth widest);
void FailIndexAllocationsAfter(int successes);
#endif
