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
#include "addresses/text_set.h"

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

// The entries this process last knew to be in the file: what the load read, or
// what the last save wrote. At a save, an entry of the file outside this set
// was written by another program since.
// Never destroyed: at process exit other threads may have died inside it.
// ReleasePlugin empties it when the module is unloaded.
alignas(TextSet) unsigned char g_onDiskStorage[sizeof(TextSet)];
TextSet& g_onDisk = *new (g_onDiskStorage) TextSet;
// The file holds a write of ours that failed part-way and could not be read
// back: its entries are ours, cut and mixed with the old ones, none another
// program's.
bool g_fileDamaged = false;

struct LoadState {
    bool incomplete = false;
    bool knownShort = false;
    TextSet known;
};

void AddLoadedEntry(void* context, const char* text) {
    auto* load = static_cast<LoadState*>(context);
    if (!AddAddress(text)) load->incomplete = true;
    if (!load->known.Add(text, true)) load->knownShort = true;
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

class FileSaveLock {
  public:
    explicit FileSaveLock(const char* path) : lock_(AcquireFileSaveLock(path, 5000)) {}
    ~FileSaveLock() { ReleaseFileSaveLock(lock_); }
    FileSaveLock(const FileSaveLock&) = delete;
    FileSaveLock& operator=(const FileSaveLock&) = delete;
    bool held() const { return lock_ != nullptr; }

  private:
    void* lock_;
};

void FeedReader(void* reader, const char* data, size_t size) {
    static_cast<ListFileReader*>(reader)->Feed(data, size);
}

// The entries the file holds at a save, zero-terminated one after another.
struct FileEntries {
    SaveBytes texts;
    bool failed = false;
};

void CollectEntry(void* context, const char* text) {
    auto* entries = static_cast<FileEntries*>(context);
    if (!entries->failed && !AppendBytes(&entries->texts, text, std::strlen(text) + 1)) {
        entries->failed = true;
    }
}

// Entries of the file that this process neither read nor wrote were written by
// another program: they join the list, so the save keeps them and the checks
// count them. One this process removed is in g_onDisk and stays out. Callers
// hold the lock. False when memory ran out; what joined by then stays.
bool TakeOtherWritersEntries(const SaveBytes& texts) {
    TextSet inList;
    bool listed = false;
    for (size_t at = 0; at < texts.size;) {
        const char* text = texts.data + at;
        at += std::strlen(text) + 1;
        if (g_onDisk.Contains(text)) continue;
        if (!listed) {
            for (const AddressEntry* entry = g_addressList.head; entry; entry = entry->next) {
                if (!inList.Add(entry->text, false)) return false;
            }
            listed = true;
        }
        if (inList.Contains(text)) continue;
        if (!AddAddress(text)) return false;
        // The file held it: removed before the next save that works, it stays out.
        if (!g_onDisk.Add(text, true)) return false;
        if (!inList.Add(g_addressList.head->text, false)) return false;
    }
    return true;
}

// After a write of ours failed part-way, the file holds our entries, some cut:
// they are known, so the next save takes none of them for another program's,
// while entries that another program adds later still count as its own. Takes
// the list's lock.
void KnowDamagedFile(const char* path) {
    FileEntries file;
    ListFileReader reader(CollectEntry, &file);
    const bool read = ReadFileChunks(path, FeedReader, &reader) == ReadResult::Whole;
    if (read) reader.Finish();
    ListLock lock;
    bool known = read && !file.failed;
    for (size_t at = 0; known && at < file.texts.size;) {
        const char* text = file.texts.data + at;
        at += std::strlen(text) + 1;
        known = g_onDisk.Add(text, true);
    }
    g_fileDamaged = !known;
}

}  // namespace

void LoadAddressList() {
    ListLock lock;
    if (g_addressList.head || g_modulePath[0] == '\0') return;
    LoadState load;
    ListFileReader reader(AddLoadedEntry, &load);
    const ReadResult read = ReadFileChunks(g_modulePath, FeedReader, &reader);
    // A line cut off by a failed read is not taken: it may be half an address.
    if (read == ReadResult::Whole) reader.Finish();
    g_loadIncomplete = load.incomplete || read == ReadResult::Partial;
    // Short of memory, nothing counts as known: a save then keeps every entry
    // of the file, removed ones too, rather than drop another program's.
    if (load.knownShort) load.known.Clear();
    g_onDisk.Swap(load.known);
    g_fileDamaged = false;
    CountChange();
}

bool SaveAddressList() {
    // One save at a time, so an older list never lands after a newer one.
    SaveLock saving;
    char path[kPathSize];
    {
        ListLock lock;
        if (g_modulePath[0] == '\0' || g_loadIncomplete) return false;
        std::memcpy(path, g_modulePath, sizeof path);
    }
    // From the second look at the file to the write, no other save comes between.
    const FileSaveLock acrossProcesses(path);
    if (!acrossProcesses.held()) return false;
    // Refused before anything is merged or backed up for it.
    if (FileRefusesWrites(path)) return false;
    // The file again, outside the lock (the checks never wait for the disk):
    // another program may have written it since. What can't be read whole is
    // not written over.
    FileEntries file;
    ListFileReader reader(CollectEntry, &file);
    const ReadResult read = ReadFileChunks(path, FeedReader, &reader);
    if (read == ReadResult::Partial) return false;
    if (read == ReadResult::Whole) reader.Finish();
    if (file.failed) return false;
    const ListEncoding encoding =
        read == ReadResult::Whole ? reader.encoding() : ListEncoding::Bytes;

    SaveBytes bytes;
    TextSet written;
    {
        // Only memory work under the list's lock.
        ListLock lock;
        if (g_loadIncomplete) return false;  // released meanwhile
        if (!g_fileDamaged && !TakeOtherWritersEntries(file.texts)) return false;
        ListFileWriter writer(AppendBytes, &bytes, encoding);
        for (const AddressEntry* entry = g_addressList.head; entry; entry = entry->next) {
            writer.AddEntry(entry->text);
            if (!written.Add(entry->text, true)) return false;
        }
        if (!writer.Finish()) return false;
    }
    // Bytes the entries do not give back are kept, as the file stands, first.
    if (read == ReadResult::Whole && reader.losses() != 0 && !KeepBackupCopy(path)) return false;
    bool damaged = false;
    const bool saved = WriteWholeFile(path, bytes.data ? bytes.data : "", bytes.size, &damaged);
    if (damaged) KnowDamagedFile(path);
    ListLock lock;
    if (saved && !g_loadIncomplete) {
        g_onDisk.Swap(written);
        g_fileDamaged = false;
    }
    return saved;
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
    g_onDisk.Clear();
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
