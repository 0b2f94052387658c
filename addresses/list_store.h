// The list's file side: the load, the save that merges what other programs
// wrote, the recovery of what a save that stopped part-way left, and the locks
// that make saves and loads of one file take turns.
#pragma once

#include <cstddef>

#include "addresses/address_list.h"

// Full path of the list file; empty when the module's folder leaves no room for
// the file name, in which case nothing is read or written.
constexpr size_t kPathSize = 260;
extern char g_modulePath[kPathSize];

// Fills the list from g_modulePath; does nothing when the list already holds
// entries. Waits a few seconds at most for another process's save of the file;
// finishes what an interrupted save left (see file_io.h).
void LoadAddressList();
// True when the last load did not take the whole file (a read failed, memory
// ran out, or the file exists but could not be opened), or ReleasePlugin
// emptied the list since. A save that reads the file whole makes it whole again.
bool AddressListLoadIncomplete();
// Writes the whole list to the file, first taking in what other programs wrote
// to it since this process last read or wrote it. True when the file now holds
// the whole list; on false the list keeps every edit. Takes the list's lock only
// to copy the texts: call it without holding a ListLock.
bool SaveAddressList();

// Frees every entry; the list is empty afterwards. Published to the host.
void ReleasePlugin();
// ReleasePlugin, and frees the locks: for a module unloaded while its process goes on.
void UnloadAddressList();
