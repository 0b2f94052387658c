#include "addresses/address_list.h"

#include <cstdlib>
#include <cstring>
#include <new>

#include "addresses/address_index.h"
#include "addresses/ascii_case.h"
#include "addresses/file_io.h"
#include "addresses/list_file.h"
#include "addresses/list_lock.h"

AddressList g_addressList = {nullptr};
char g_modulePath[kPathSize] = {};

namespace {
uint32_t g_changeCount = 1;

// Callers hold the lock.
void CountChange() {
    if (++g_changeCount == 0) g_changeCount = 1;
}
}  // namespace

ListLock::ListLock() {
    AcquireListLock();
}
ListLock::~ListLock() {
    ReleaseListLock();
}

namespace {

void DestroyEntry(AddressEntry* entry) {
    std::free(entry->text);
    entry->~AddressEntry();
    std::free(entry);
}

void AddLoadedEntry(void*, const char* text) {
    AddAddress(text);
}

bool WriteToReplacement(void* file, const char* data, size_t size) {
    return static_cast<FileReplacement*>(file)->Write(data, size);
}

void FeedParser(void* parser, const char* data, size_t size) {
    static_cast<ListFileParser*>(parser)->Feed(data, size);
}

}  // namespace

bool EqualsNoCase(const char* a, const char* b) {
    const auto* x = reinterpret_cast<const unsigned char*>(a);
    const auto* y = reinterpret_cast<const unsigned char*>(b);
    while (*x && FoldAscii(*x) == FoldAscii(*y)) ++x, ++y;
    return FoldAscii(*x) == FoldAscii(*y);
}

void LoadAddressList() {
    ListLock lock;
    if (g_addressList.head || g_modulePath[0] == '\0') return;
    ListFileParser parser(AddLoadedEntry, nullptr);
    if (ReadFileChunks(g_modulePath, FeedParser, &parser)) parser.Finish();
    CountChange();
}

bool SaveAddressList() {
    ListLock lock;
    if (g_modulePath[0] == '\0') return false;
    FileReplacement file(g_modulePath);
    if (!file.IsOpen()) return false;
    ListFileWriter writer(WriteToReplacement, &file);
    for (const AddressEntry* entry = g_addressList.head; entry; entry = entry->next) {
        writer.AddEntry(entry->text);
    }
    return writer.Finish() && file.Commit();
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

void ReleasePlugin() {
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
