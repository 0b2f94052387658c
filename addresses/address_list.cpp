#include "addresses/address_list.h"

#include <cstdint>
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

// Set while the list holds only part of its file (a read failed, or memory ran
// out): saving it would cut the file down to that part.
bool g_loadIncomplete = false;

void AddLoadedEntry(void* incomplete, const char* text) {
    if (!AddAddress(text)) *static_cast<bool*>(incomplete) = true;
}

// The file's bytes, gathered under the lock so the disk is written outside it.
struct SaveBytes {
    char* data = nullptr;
    size_t size = 0;
    size_t capacity = 0;
    ~SaveBytes() { std::free(data); }
};

bool AppendBytes(void* context, const char* data, size_t size) {
    auto* bytes = static_cast<SaveBytes*>(context);
    if (size > bytes->capacity - bytes->size) {
        if (size > SIZE_MAX / 2 - bytes->size) return false;
        size_t capacity = bytes->capacity ? bytes->capacity : 16384;
        while (capacity - bytes->size < size) capacity *= 2;
        char* grown = static_cast<char*>(std::realloc(bytes->data, capacity));
        if (!grown) return false;
        bytes->data = grown;
        bytes->capacity = capacity;
    }
    std::memcpy(bytes->data + bytes->size, data, size);
    bytes->size += size;
    return true;
}

class SaveLock {
  public:
    SaveLock() { AcquireSaveLock(); }
    ~SaveLock() { ReleaseSaveLock(); }
    SaveLock(const SaveLock&) = delete;
    SaveLock& operator=(const SaveLock&) = delete;
};

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
    bool incomplete = false;
    ListFileParser parser(AddLoadedEntry, &incomplete);
    const ReadResult read = ReadFileChunks(g_modulePath, FeedParser, &parser);
    // A line cut off by a failed read is not taken: it may be half an address.
    if (read == ReadResult::Whole) parser.Finish();
    g_loadIncomplete = incomplete || read == ReadResult::Partial;
    CountChange();
}

bool SaveAddressList() {
    // One save at a time, so an older list never lands after a newer one.
    SaveLock saving;
    SaveBytes bytes;
    char path[kPathSize];
    {
        // Only memory work under the list's lock: the checks never wait for the disk.
        ListLock lock;
        if (g_modulePath[0] == '\0' || g_loadIncomplete) return false;
        std::memcpy(path, g_modulePath, sizeof path);
        ListFileWriter writer(AppendBytes, &bytes);
        for (const AddressEntry* entry = g_addressList.head; entry; entry = entry->next) {
            writer.AddEntry(entry->text);
        }
        if (!writer.Finish()) return false;
    }
    return WriteWholeFile(path, bytes.data ? bytes.data : "", bytes.size);
}

bool AddressListLoadIncomplete() {
    ListLock lock;
    return g_loadIncomplete;
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
    // The list no longer holds the file's entries: saving it now would empty the
    // file. Saves wait for a load.
    g_loadIncomplete = true;
    CountChange();
}

uint32_t ListChangeCount() {
    ListLock lock;
    return g_changeCount;
}

void UnloadAddressList() {
    ReleasePlugin();
    DestroyListLocks();
}
