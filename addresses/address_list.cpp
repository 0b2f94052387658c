#include "addresses/address_list.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>

#include "addresses/address_index.h"
#include "addresses/ascii_case.h"
#include "addresses/list_lock.h"

AddressList g_addressList = {nullptr};

namespace {
uint32_t g_changeCount = 1;

// Callers hold the lock.
void CountChange() {
    if (++g_changeCount == 0) g_changeCount = 1;
}

void DestroyEntry(AddressEntry* entry) {
    std::free(entry->text);
    entry->~AddressEntry();
    std::free(entry);
}
}  // namespace

ListLock::ListLock() {
    AcquireListLock();
}
ListLock::~ListLock() {
    ReleaseListLock();
}

AddressEntry* FindAddress(const char* text) {
    if (!text) return nullptr;
    ListLock lock;
    for (AddressEntry* entry = g_addressList.head; entry; entry = entry->next) {
        if (EqualsNoCase(entry->text, text)) return entry;
    }
    return nullptr;
}

bool AddAddress(const char* text) {
    if (!text) return false;
    const size_t size = std::strlen(text) + 1;
    char* copy = static_cast<char*>(std::malloc(size));
    if (!copy) return false;
    std::memcpy(copy, text, size);
    // malloc rather than operator new: the module links no C++ runtime beyond this.
    void* storage = std::malloc(sizeof(AddressEntry));
    if (!storage) {
        std::free(copy);
        return false;
    }
    AddressEntry* entry = new (storage) AddressEntry{copy, nullptr, nullptr};
    ListLock lock;
    entry->next = g_addressList.head;
    if (g_addressList.head) g_addressList.head->prev = entry;
    g_addressList.head = entry;
    IndexAddedEntry(entry);
    CountChange();
    return true;
}

void RemoveAddress(AddressEntry* entry) {
    if (!entry) return;
    ListLock lock;
    if (entry->prev)
        entry->prev->next = entry->next;
    else
        g_addressList.head = entry->next;
    if (entry->next) entry->next->prev = entry->prev;
    IndexRemovedEntry(entry);
    DestroyEntry(entry);
    CountChange();
}

void ClearAddressList() {
    ListLock lock;
    while (AddressEntry* head = g_addressList.head) {
        g_addressList.head = head->next;
        DestroyEntry(head);
    }
    ReleaseAddressIndex();
    CountChange();
}

uint32_t ListChangeCount() {
    ListLock lock;
    return g_changeCount;
}

bool VisitAddressTexts(bool (*visit)(void* context, const char* text), void* context) {
    ListLock lock;
    return VisitAddresses([&](const char* text) { return visit(context, text); });
}
