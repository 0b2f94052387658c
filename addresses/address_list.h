// The user's allowed addresses: a process-wide doubly linked list, newest first,
// shared by the mail check and the settings editor under one lock.
#pragma once

#include <cstddef>
#include <cstdint>

struct AddressEntry {
    char* text;  // malloc'd, exactly its length plus the zero byte
    AddressEntry* next;
    AddressEntry* prev;
};

struct AddressList {
    AddressEntry* head;
};

// The list itself. Read it only while holding a ListLock; change it only through
// the functions below, which take the lock themselves and keep the check's index
// (address_index.h) in step.
extern AddressList g_addressList;

// Full path of the list file; empty when the module's folder leaves no room for
// the file name, in which case nothing is read or written.
constexpr size_t kPathSize = 260;
extern char g_modulePath[kPathSize];

// Holds the list's lock for its lifetime. The lock is recursive, so a caller may
// hold it across several of the operations below (find, then remove).
class ListLock {
  public:
    ListLock();
    ~ListLock();
    ListLock(const ListLock&) = delete;
    ListLock& operator=(const ListLock&) = delete;
};

// Fills the list from g_modulePath; does nothing when the list already holds entries.
void LoadAddressList();
// True when the list may lack entries the file holds: the last load stopped
// before the end of the file (a read failed, memory ran out, or the file exists
// but could not be opened), or ReleasePlugin emptied the list since. Saves are
// then refused, so the file keeps those entries, until a load reads it whole.
bool AddressListLoadIncomplete();
// Writes the whole list to the file (file_io.h says by which route). True when
// the file now holds the whole list; on false the list keeps every edit. Takes
// the list's lock only to copy the texts: call it without holding a ListLock.
bool SaveAddressList();

// First entry from the head equal to text, ASCII case ignored; the entry stays
// valid only while the caller holds the lock.
AddressEntry* FindAddress(const char* text);
// Puts a copy of text at the front. Returns false, changing nothing, when memory runs out.
bool AddAddress(const char* text);
// Unlinks the entry, frees its text and destroys it.
void RemoveAddress(AddressEntry* entry);
// Frees every entry; the list is empty afterwards. Published to the host.
void ReleasePlugin();
// ReleasePlugin, and frees the locks: for a module unloaded while its process goes on.
void UnloadAddressList();

// Bumped under the lock by every change: add, remove, release, load. Never 0,
// so a viewer can keep 0 for "never filled". Equal counts mean the same list.
uint32_t ListChangeCount();

// Calls visit(context, text) with each entry's text, newest first, holding the
// list's lock throughout, until visit returns false; the caller may hold it
// too, to keep what it learnt from one visit true for the next. A text is valid
// only during its call, and visit must not change the list. False when visit
// stopped the walk.
bool VisitAddressTexts(bool (*visit)(void* context, const char* text), void* context);
