// Any bytes as a list file: the reader gives exactly the entries the file rules
// give, in any chunking, with or without an editor's mark; what the writer makes
// of them reads back the same; and the real load and save on a file agree with
// both, keeping what the entries do not give back in a backup.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <unistd.h>

#include "addresses/address_list.h"
#include "addresses/list_store.h"
#include "addresses/list_file.h"
#include "tests/reliability/literal_models.h"

namespace {

using Entries = std::vector<std::string>;

void Fail(const char* what) {
    std::fprintf(stderr, "list file fuzzer: %s\n", what);
    std::abort();
}

void Collect(void* entries, const char* text) {
    static_cast<Entries*>(entries)->push_back(text);
}

bool Append(void* bytes, const char* data, size_t size) {
    static_cast<std::string*>(bytes)->append(data, size);
    return true;
}

// Feeds the bytes in chunks whose sizes come from `seed`, so CR LF pairs and
// pieces straddle chunk ends at varying places.
Entries Parse(const std::string& bytes, uint32_t seed) {
    Entries entries;
    ListFileParser parser(Collect, &entries);
    for (size_t pos = 0; pos < bytes.size();) {
        seed = seed * 1103515245u + 12345u;
        const size_t step = seed == 0 ? bytes.size() : 1 + (seed >> 16) % 300;
        const size_t take = step < bytes.size() - pos ? step : bytes.size() - pos;
        parser.Feed(bytes.data() + pos, take);
        pos += take;
    }
    parser.Finish();
    return entries;
}

// The file reader, as the load uses it, in chunks from `seed` as Parse does.
Entries Read(const std::string& bytes, uint32_t seed, ListEncoding* encoding, unsigned* losses) {
    Entries entries;
    ListFileReader reader(Collect, &entries);
    for (size_t pos = 0; pos < bytes.size();) {
        seed = seed * 1103515245u + 12345u;
        const size_t step = 1 + (seed >> 16) % 300;
        const size_t take = step < bytes.size() - pos ? step : bytes.size() - pos;
        reader.Feed(bytes.data() + pos, take);
        pos += take;
    }
    reader.Finish();
    *encoding = reader.encoding();
    *losses = reader.losses();
    return entries;
}

std::string Write(const Entries& entries, ListEncoding encoding = ListEncoding::Bytes) {
    std::string bytes;
    ListFileWriter writer(Append, &bytes, encoding);
    for (const std::string& entry : entries) writer.AddEntry(entry.c_str());
    if (!writer.Finish()) Fail("the writer failed on a sink that never fails");
    return bytes;
}

void CheckEntryRules(const Entries& entries) {
    for (const std::string& entry : entries) {
        if (entry.empty() || entry.size() > kMaxPiece) Fail("entry length outside 1..259");
        if (entry.find_first_of(std::string("\n\x1a\0", 3)) != std::string::npos) {
            Fail("entry holds a line feed, Ctrl-Z or zero byte");
        }
    }
}

Entries ListHeadFirst() {
    Entries texts;
    ListLock lock;
    for (const AddressEntry* e = g_addressList.head; e; e = e->next) texts.push_back(e->text);
    return texts;
}

std::string ReadFile(const char* path) {
    std::string bytes;
    if (FILE* file = std::fopen(path, "rb")) {
        char chunk[65536];
        size_t got;
        while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) bytes.append(chunk, got);
        std::fclose(file);
    }
    return bytes;
}

// The list file's folder, made once; tmpfs when there is one, since each save syncs.
const char* ListPath() {
    static std::string path;
    if (path.empty()) {
        char folder[] = "/dev/shm/quorvel-fuzz-XXXXXX";
        char fallback[] = "/tmp/quorvel-fuzz-XXXXXX";
        const char* made = mkdtemp(folder);
        if (!made) made = mkdtemp(fallback);
        if (!made) Fail("no temporary folder");
        path = std::string(made) + "/quorvel.txt";
        if (path.size() >= kPathSize) Fail("temporary folder path too long");
        std::memcpy(g_modulePath, path.c_str(), path.size() + 1);
        std::atexit([] {
            unlink(path.c_str());
            unlink((path.substr(0, path.size() - 4) + ".bak").c_str());
            rmdir(path.substr(0, path.rfind('/')).c_str());
        });
    }
    return path.c_str();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    const Entries expected = literal::FileEntries(bytes);
    const std::string text = literal::DecodedText(bytes);

    // The parser on the 8-bit text, whole and in chunks; the file reader on the bytes.
    if (Parse(text, 0) != expected) Fail("parser differs from the file rules (one chunk)");
    if (Parse(text, static_cast<uint32_t>(size) * 2654435761u + 1) != expected) {
        Fail("parser differs from the file rules (chunked)");
    }
    ListEncoding encoding;
    unsigned losses;
    if (Read(bytes, static_cast<uint32_t>(size) + 3, &encoding, &losses) != expected) {
        Fail("file reader differs from the file rules");
    }
    CheckEntryRules(expected);

    // What the writer makes reads back the same, and is nothing but entries and CR LF.
    const std::string written = Write(expected);
    size_t lengths = 0;
    for (const std::string& entry : expected) lengths += entry.size() + 2;
    if (!expected.empty() && written.compare(0, 2, "\r\n") == 0) lengths += 2;  // before a mark
    if (written.size() != lengths) Fail("writer output has unexpected length");
    if (Parse(written, 7) != expected)
        Fail("round trip through writer and reader changed the list");
    ListEncoding again;
    unsigned lost;
    // Text split inside a character does not convert back to the same bytes.
    const bool convertsBack = encoding == ListEncoding::Bytes || !(losses & kLostSplitLine);
    if (convertsBack && Read(Write(expected, encoding), 5, &again, &lost) != expected) {
        Fail("round trip in the file's own encoding changed the list");
    }

    // The real load and save on a file.
    const char* path = ListPath();
    FILE* file = std::fopen(path, "wb");
    if (!file || std::fwrite(bytes.data(), 1, bytes.size(), file) != bytes.size()) {
        Fail("can't write the list file");
    }
    std::fclose(file);
    ReleasePlugin();
    LoadAddressList();
    const Entries loaded = ListHeadFirst();
    if (!std::equal(loaded.begin(), loaded.end(), expected.rbegin(), expected.rend())) {
        Fail("load differs from the file rules (the list is the file reversed)");
    }
    if (!SaveAddressList()) Fail("save failed");
    if (ReadFile(path) != Write(loaded, encoding)) Fail("save wrote other bytes than the list");
    const std::string backup = std::string(path, std::strlen(path) - 4) + ".bak";
    if (losses != 0 && ReadFile(backup.c_str()) != bytes) Fail("the backup is not the old file");
    if (losses == 0 && access(backup.c_str(), F_OK) == 0) Fail("a backup without need");
    unlink(backup.c_str());
    ReleasePlugin();
    LoadAddressList();
    const Entries reloaded = ListHeadFirst();
    if (convertsBack &&
        !std::equal(reloaded.begin(), reloaded.end(), loaded.rbegin(), loaded.rend())) {
        Fail("save and load lost or changed entries");
    }
    ReleasePlugin();
    return 0;
}
