// Any list and any header chain: the check gives the literal model's verdict,
// with every scan width, and reads nothing outside the header texts.
//
// Input, one item per line:
//   list lines up to the first empty line: an address to add, "-text" to remove
//   the first entry equal to text, "!n" to let only the index's next n
//   allocations succeed (as when memory runs out);
//   then header lines: "name:value"; no colon means a null value, a leading
//   byte 0x02 a null name.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "addresses/address_index.h"
#include "addresses/address_list.h"
#include "addresses/list_store.h"
#include "check/mail_check.h"
#include "tests/reliability/literal_models.h"
#include "tests/support/mail.h"

namespace {

void Fail(const char* what) {
    std::fprintf(stderr, "mail check fuzzer: %s\n", what);
    std::abort();
}

std::vector<std::string> SplitLines(const std::string& bytes) {
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t lf; (lf = bytes.find('\n', start)) != std::string::npos; start = lf + 1) {
        lines.push_back(bytes.substr(start, lf - start));
    }
    lines.push_back(bytes.substr(start));
    return lines;
}

// A C string ends at its first zero byte, whatever the input held after it.
std::string CString(const std::string& text) {
    return text.substr(0, text.find('\0'));
}

// Applies the list lines to the real list and to the model, head first.
void BuildList(const std::vector<std::string>& lines, size_t end, std::vector<std::string>& model) {
    for (size_t i = 0; i < end; ++i) {
        const std::string& line = lines[i];
        if (line[0] == '!' && line.size() == 2 && line[1] >= '0' && line[1] <= '9') {
            FailIndexAllocationsAfter(line[1] - '0');
        } else if (line[0] == '-') {
            const std::string text = CString(line.substr(1));
            ListLock lock;
            AddressEntry* entry = FindAddress(text.c_str());
            auto it = model.begin();
            while (it != model.end() && !literal::SameNoCase(*it, text)) ++it;
            if ((it == model.end()) != (entry == nullptr) || (entry && *it != entry->text)) {
                Fail("FindAddress found another entry");
            }
            if (!entry) continue;
            model.erase(it);
            RemoveAddress(entry);
        } else {
            const std::string text = CString(line);
            if (text.empty()) continue;  // the editor never adds an empty address
            if (!AddAddress(text.c_str())) Fail("AddAddress failed");
            model.insert(model.begin(), text);
        }
    }
}

// Pages for placing texts against an inaccessible page: guard, text, guard, ...
constexpr size_t kGuardedSlots = 32;
size_t PageSize() {
    static const size_t size = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    return size;
}
char* GuardedPages() {
    static char* pages = [] {
        const size_t page = PageSize();
        void* block = mmap(nullptr, (2 * kGuardedSlots + 1) * page, PROT_NONE,
                           MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (block == MAP_FAILED) Fail("mmap failed");
        char* base = static_cast<char*>(block);
        for (size_t slot = 0; slot < kGuardedSlots; ++slot) {
            if (mprotect(base + (2 * slot + 1) * page, page, PROT_READ | PROT_WRITE) != 0) {
                Fail("mprotect failed");
            }
        }
        return base;
    }();
    return pages;
}

enum class Placement { kHeap, kPageEnd, kPageStart };

// The header texts copied where a read past either end is caught: into heap
// blocks of exactly their size (the address sanitizer), or against a page that
// can't be read (for scans the sanitizer does not watch, which may read within
// the aligned block that holds the zero byte, but never beyond it).
class Texts {
  public:
    explicit Texts(Placement placement) : placement_(placement) {}
    Texts(const Texts&) = delete;
    Texts& operator=(const Texts&) = delete;
    ~Texts() {
        for (char* block : heap_) std::free(block);
    }

    const char* Place(const std::string& text) {
        const size_t size = text.size() + 1;
        if (placement_ != Placement::kHeap && slot_ < kGuardedSlots && size <= PageSize()) {
            char* page = GuardedPages() + (2 * slot_++ + 1) * PageSize();
            char* at = placement_ == Placement::kPageEnd ? page + PageSize() - size : page;
            std::memcpy(at, text.c_str(), size);
            return at;
        }
        char* block = static_cast<char*>(std::malloc(size));
        if (!block) Fail("out of memory");
        std::memcpy(block, text.c_str(), size);
        heap_.push_back(block);
        return block;
    }

  private:
    Placement placement_;
    size_t slot_ = 0;
    std::vector<char*> heap_;
};

int32_t RealVerdict(const std::vector<literal::Header>& headers, Placement placement) {
    Texts texts(placement);
    Mail mail;
    for (const literal::Header& header : headers) {
        mail.Add(header.hasName ? texts.Place(header.name) : nullptr,
                 header.hasValue ? texts.Place(header.value) : nullptr, 0xDEADBEEF);
    }
    double result = 0.25;
    const int32_t verdict = CheckMail(0x12345678, mail.record(), &result);
    if (verdict != kSpam && verdict != kNotSpam) Fail("verdict is neither -1 nor 0");
    if (result != (verdict == kSpam ? 1.0 : 0.25)) Fail("result value wrong for the verdict");
    return verdict;
}

// ContainsNoCase's position against the first position the plain search finds.
void CheckContains(const std::string& text, const std::string& part) {
    const char* found = ContainsNoCase(text.c_str(), part.c_str());
    const size_t expected = literal::FindNoCase(text, part);
    const size_t got = found ? static_cast<size_t>(found - text.c_str()) : std::string::npos;
    if (got != expected) Fail("ContainsNoCase found another position");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ReleasePlugin();
    FailIndexAllocationsAfter(-1);

    const std::vector<std::string> lines =
        SplitLines(std::string(reinterpret_cast<const char*>(data), size));
    size_t blank = 0;
    while (blank < lines.size() && !lines[blank].empty()) ++blank;
    std::vector<std::string> list;
    BuildList(lines, blank, list);
    FailIndexAllocationsAfter(-1);

    std::vector<literal::Header> headers;
    for (size_t i = blank + 1; i < lines.size(); ++i) {
        std::string line = lines[i];
        literal::Header header{true, true, "", ""};
        if (!line.empty() && line[0] == '\x02') {
            header.hasName = false;
            line.erase(0, 1);
        }
        const size_t colon = line.find(':');
        header.hasValue = colon != std::string::npos;
        header.name = CString(line.substr(0, colon));
        if (header.hasValue) header.value = CString(line.substr(colon + 1));
        headers.push_back(header);
    }

    const int32_t expected = literal::Verdict(list, headers);
    for (ScanWidth width : {ScanWidth::kBytes, ScanWidth::kSse2, ScanWidth::kAvx2}) {
        LimitScanWidth(width);
        for (Placement placement : {Placement::kHeap, Placement::kPageEnd, Placement::kPageStart}) {
            if (RealVerdict(headers, placement) != expected) Fail("verdict differs from the model");
        }
    }

    size_t pairs = 0;
    for (const literal::Header& header : headers) {
        for (const std::string& address : list) {
            if (++pairs > 64) break;
            CheckContains(header.value, address);
        }
    }
    ReleasePlugin();
    return 0;
}
