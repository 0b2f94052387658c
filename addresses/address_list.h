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

// Holds the list's lock for its lifetime. The lock is recursive, so a caller may
// hold it across several of the operations below (find, then remove).
class ListLock {
  public:
    ListLock();
    ~ListLock();
    ListLock(const ListLock&) = delete;
    ListLock& operator=(const ListLock&) = delete;
};

// First entry from the head equal to text, ASCII case ignored; the entry stays
// valid only while the caller holds the lock.
AddressEntry* FindAddress(const char* text);
// Puts a copy of text at the front. Returns false, changing nothing, when memory runs out.
bool AddAddress(const char* text);
// Unlinks the entry, frees its text and destroys it.
void RemoveAddress(AddressEntry* entry);
// Frees every entry and the check's index; the list is empty afterwards.
// ReleasePlugin (list_store.h) also forgets what the file held.
void ClearAddressList();

// Calls visit(text) for each entry from the head while it returns true; false
// when one returned false. Callers hold a ListLock.
template <typename Visit>
bool VisitAddresses(Visit visit) {
    for (const AddressEntry* entry = g_addressList.head; entry; entry = entry->next) {
        if (!visit(static_cast<const char*>(entry->text))) return false;
    }
    return true;
}

// Bumped under the lock by every change: add, remove, release, load. Never 0,
// so a viewer can keep 0 for "never filled". Equal counts mean the same list.
uint32_t ListChangeCount();

// Calls visit(context, text) with each entry's text, newest first, holding the
// list's lock throughout, until visit returns false; the caller may hold it
// too, to keep what it learnt from one visit true for the next. A text is valid
// only during its call, and visit must not change the list. False when visit
// stopped the walk.
bool VisitAddressTexts(bool (*visit)(void* context, const char* text), void* context);
