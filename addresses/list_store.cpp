#include "addresses/list_store.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <new>

#include "addresses/file_io.h"
#include "addresses/list_file.h"
#include "addresses/list_lock.h"
#include "addresses/text_set.h"

char g_modulePath[kPathSize] = {};

namespace {

// A save of this file by another process takes milliseconds; one that holds
// it longer has hung. A load waits less: the host is starting.
constexpr unsigned kSaveWaitMs = 5000;
constexpr unsigned kLoadWaitMs = 3000;
// Saves that find the file changed under them try again this often, then fail.
constexpr int kSaveAttempts = 4;

// Set while the list may hold only part of its file: the last load stopped
// early, or ReleasePlugin emptied the list.
bool g_loadIncomplete = false;

// The entries this process last knew to be in the file: what the load read, or
// what the last save wrote. At a save, an entry of the file outside this set
// was written by another program since, and joins the list; one inside it that
// the list lacks was removed here, and stays out.
// Never destroyed: at process exit other threads may have died inside it.
alignas(TextSet) unsigned char g_onDiskStorage[sizeof(TextSet)];
TextSet& g_onDisk = *new (g_onDiskStorage) TextSet;

// Bytes gathered in memory: the file's new bytes, or texts one after another.
struct Bytes {
    char* data = nullptr;
    size_t size = 0;
    size_t capacity = 0;
    Bytes() = default;
    Bytes(const Bytes&) = delete;
    Bytes& operator=(const Bytes&) = delete;
    ~Bytes() { std::free(data); }
};

bool AppendBytes(void* context, const char* data, size_t size) {
    auto* bytes = static_cast<Bytes*>(context);
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

bool AppendText(Bytes* bytes, const char* text) {
    return AppendBytes(bytes, text, std::strlen(text) + 1);
}

// Calls visit with each zero-terminated text in bytes.
template <typename Visit>
void EachText(const Bytes& bytes, Visit visit) {
    for (size_t at = 0; at < bytes.size;) {
        const char* text = bytes.data + at;
        at += std::strlen(text) + 1;
        visit(text);
    }
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
    FileSaveLock(const char* path, unsigned waitMs) : lock_(AcquireFileSaveLock(path, waitMs)) {}
    ~FileSaveLock() { ReleaseFileSaveLock(lock_); }
    FileSaveLock(const FileSaveLock&) = delete;
    FileSaveLock& operator=(const FileSaveLock&) = delete;
    bool held() const { return lock_ != nullptr; }

  private:
    void* lock_;
};

// The list as it stands on disk: the list file and what saves that stopped
// part-way left beside it, of which only the whole are read. Entries go to the
// sink in the order read.
struct DiskList {
    ListFileParser::EntrySink sink;
    void* context;
    DiskList(ListFileParser::EntrySink s, void* c) : sink(s), context(c) {}

    Bytes wholeLeftovers;  // read; removed once a written list holds them
    Bytes wasCopies;       // copies made before writing in place: the list, while they stand
    Bytes staleLeftovers;  // possibly cut short, never read; removed by the next save
    Bytes lossyFiles;      // files read whose bytes the entries don't give back
    ListEncoding encoding = ListEncoding::Bytes;
    bool encodingKnown = false;
    bool partial = false;
    bool memoryShort = false;
    bool any = false;  // some file was read
};

void SortLeftover(void* context, Leftover kind, const char* path) {
    auto* disk = static_cast<DiskList*>(context);
    Bytes* into = kind == Leftover::Unfinished      ? &disk->staleLeftovers
                  : kind == Leftover::BeforeInPlace ? &disk->wasCopies
                                                    : &disk->wholeLeftovers;
    if (!AppendText(into, path)) disk->memoryShort = true;
}

void FeedReader(void* reader, const char* data, size_t size) {
    static_cast<ListFileReader*>(reader)->Feed(data, size);
}

void IgnoreBytes(void*, const char*, size_t) {}

// Takes a finished read of one file into the disk list.
void Took(DiskList* disk, ReadResult read, ListFileReader& reader, const char* path) {
    if (read == ReadResult::Partial) disk->partial = true;
    if (read != ReadResult::Whole) return;
    // A line cut off by a failed read is never taken: it may be half an address.
    reader.Finish();
    disk->any = true;
    if (!disk->encodingKnown) {
        disk->encoding = reader.encoding();
        disk->encodingKnown = true;
    }
    if (reader.losses() != 0 && !AppendText(&disk->lossyFiles, path)) disk->memoryShort = true;
}

void ReadWhole(DiskList* disk, const char* path, bool waitForSave) {
    ListFileReader reader(disk->sink, disk->context);
    Took(disk, ReadFileChunks(path, FeedReader, &reader, waitForSave), reader, path);
}

// Reads the list file (through held when a save holds it) and the whole
// leftovers: after an in-place write that did not finish, its copy stands for
// the list file, which may be torn; after a replace that did not finish, the
// old list and the new one are both whole, and both count.
void ReadDiskList(DiskList* disk, const char* path, bool waitForSave, HeldList** held) {
    FindLeftovers(path, SortLeftover, disk);
    const bool torn = disk->wasCopies.size > 0;
    EachText(disk->wasCopies, [&](const char* was) { ReadWhole(disk, was, false); });
    if (held) {
        ListFileReader reader(disk->sink, disk->context);
        const ReadResult read = torn ? ReadAndHoldList(path, IgnoreBytes, nullptr, held)
                                     : ReadAndHoldList(path, FeedReader, &reader, held);
        if (!torn) Took(disk, read, reader, path);
        if (read == ReadResult::Partial) disk->partial = true;
    } else if (!torn) {
        ReadWhole(disk, path, waitForSave);
    }
    EachText(disk->wholeLeftovers, [&](const char* file) { ReadWhole(disk, file, false); });
}

struct LoadState {
    bool incomplete = false;
    bool knownShort = false;
    TextSet known;
};

void AddLoadedEntry(void* context, const char* text) {
    auto* load = static_cast<LoadState*>(context);
    // An entry the list could not take is not known either: the next save then
    // takes it in again from the file rather than drop it as removed.
    if (!AddAddress(text)) {
        load->incomplete = true;
    } else if (!load->known.Add(text, true)) {
        load->knownShort = true;
    }
}

// The entries the file holds at a save, zero-terminated one after another.
struct FileEntries {
    Bytes texts;
    bool failed = false;
};

void CollectEntry(void* context, const char* text) {
    auto* entries = static_cast<FileEntries*>(context);
    if (!entries->failed && !AppendText(&entries->texts, text)) entries->failed = true;
}

// Entries of the file that this process neither read nor wrote were written by
// another program: they join the list, so the save keeps them and the checks
// count them. One this process removed is in g_onDisk and stays out. Callers
// hold the lock. False when memory ran out; what joined by then stays.
bool TakeOtherWritersEntries(const Bytes& texts) {
    TextSet inList;
    bool listed = false, ok = true;
    EachText(texts, [&](const char* text) {
        if (!ok || g_onDisk.Contains(text)) return;
        if (!listed) {
            ok = VisitAddresses([&](const char* entry) { return inList.Add(entry, false); });
            listed = true;
        }
        if (!ok || inList.Contains(text)) return;
        // The file held it: removed before the next save that works, it stays out.
        ok = AddAddress(text) && g_onDisk.Add(text, true) && inList.Add(text, true);
    });
    return ok;
}

// Keeps what the entries do not give back, of each file read, in a backup.
bool BackUpLossyFiles(const DiskList& disk, const char* path) {
    bool kept = true;
    EachText(disk.lossyFiles, [&](const char* file) {
        if (kept) kept = KeepBackupCopy(file, path);
    });
    return kept;
}

// One try at a save: reads the file again, merges, writes.
WriteOutcome TrySave(const char* path) {
    FileEntries file;
    DiskList disk(CollectEntry, &file);
    HeldList* held = nullptr;
    ReadDiskList(&disk, path, false, &held);
    struct Release {
        HeldList* held;
        ~Release() { ReleaseHeldList(held); }
    } release{held};
    // What can't be read whole is not written over.
    if (disk.partial || disk.memoryShort || file.failed || !held) return WriteOutcome::Failed;

    Bytes bytes;
    TextSet written;
    {
        // Only memory work under the list's lock: the checks never wait for the disk.
        ListLock lock;
        if (!TakeOtherWritersEntries(file.texts)) return WriteOutcome::Failed;
        ListFileWriter writer(AppendBytes, &bytes, disk.encoding);
        bool ok = VisitAddresses([&](const char* text) {
            writer.AddEntry(text);
            return written.Add(text, true);
        });
        if (!writer.Finish() || !ok) return WriteOutcome::Failed;
    }
    // Bytes the entries do not give back are kept, as the files stand, first.
    if (!BackUpLossyFiles(disk, path)) return WriteOutcome::Failed;
    const WriteOutcome outcome =
        WriteHeldList(held, path, bytes.data ? bytes.data : "", bytes.size);
    if (outcome != WriteOutcome::Written) return outcome;
    // The written list holds the leftovers' entries now, but for those removed here.
    for (const Bytes* files : {&disk.wasCopies, &disk.wholeLeftovers, &disk.staleLeftovers}) {
        EachText(*files, RemoveLeftover);
    }
    ListLock lock;
    g_onDisk.Swap(written);
    g_loadIncomplete = false;
    return WriteOutcome::Written;
}

}  // namespace

void LoadAddressList() {
    char path[kPathSize];
    {
        ListLock lock;
        if (g_addressList.head || g_modulePath[0] == '\0') return;
        std::memcpy(path, g_modulePath, sizeof path);
    }
    // A save of this file in another process finishes before the file is read;
    // one that hangs is waited for only so long, and then its files are read as
    // a crashed save's would be. A program that replaces the file without the
    // lock is still waited for as the file read always has.
    const FileSaveLock turn(path, kLoadWaitMs);
    ListLock lock;
    if (g_addressList.head) return;
    LoadState load;
    DiskList disk(AddLoadedEntry, &load);
    ReadDiskList(&disk, path, true, nullptr);
    g_loadIncomplete = load.incomplete || disk.partial || disk.memoryShort;
    // Short of memory, nothing counts as known: a save then keeps every entry
    // of the file, removed ones too, rather than drop another program's.
    if (load.knownShort) load.known.Clear();
    g_onDisk.Swap(load.known);
}

bool SaveAddressList() {
    // One save at a time, so an older list never lands after a newer one.
    SaveLock saving;
    char path[kPathSize];
    {
        ListLock lock;
        if (g_modulePath[0] == '\0') return false;
        std::memcpy(path, g_modulePath, sizeof path);
    }
    // From the second look at the file to the write, no other save comes between.
    const FileSaveLock acrossProcesses(path, kSaveWaitMs);
    if (!acrossProcesses.held()) return false;
    // Refused before anything is merged or backed up for it.
    if (FileRefusesWrites(path)) return false;
    for (int attempt = 0; attempt < kSaveAttempts; ++attempt) {
        switch (TrySave(path)) {
            case WriteOutcome::Written:
                return true;
            case WriteOutcome::Failed:
                return false;
            case WriteOutcome::Changed:
                break;  // another program wrote it meanwhile: its entries join, and again
        }
    }
    return false;
}

bool AddressListLoadIncomplete() {
    ListLock lock;
    return g_loadIncomplete;
}

void ReleasePlugin() {
    ListLock lock;
    ClearAddressList();
    g_onDisk.Clear();
    // The list no longer holds the file's entries; a save would take them all in again.
    g_loadIncomplete = true;
}

void UnloadAddressList() {
    ReleasePlugin();
    DestroyListLocks();
}
