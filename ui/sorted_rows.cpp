#include "ui/sorted_rows.h"

#include <windows.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "addresses/address_list.h"

namespace {

// In the thread's locale, which the control's own comparison uses.
int SortKey(const char* text, char* key, int room) {
    return LCMapStringA(GetThreadLocale(), LCMAP_SORTKEY, text, -1, key, room);
}

}  // namespace

RowsToShow::~RowsToShow() {
    std::free(texts_);
    std::free(order_);
}

bool RowsToShow::Add(void* rows, const char* text) {
    auto& self = *static_cast<RowsToShow*>(rows);
    const size_t size = std::strlen(text) + 1;
    // The lock held since the sizes were taken keeps the texts as they were.
    if (self.added_ == self.rowRoom_ || size > self.textRoom_ - self.usedTexts_) return false;
    // Most keys fit the room left; only the others pay for a second call. No
    // room at all must not reach the call: a size of 0 asks for the size.
    const size_t room = std::min<size_t>(self.keyCapacity_ - self.usedKeys_, INT_MAX);
    int written = room > 0 ? SortKey(text, self.keys_ + self.usedKeys_, static_cast<int>(room)) : 0;
    if (written <= 0) {
        const int needed = SortKey(text, nullptr, 0);
        const size_t grownCapacity = (self.usedKeys_ + static_cast<size_t>(needed)) * 2;
        char* grown =
            needed > 0 ? static_cast<char*>(std::realloc(self.keys_, grownCapacity)) : nullptr;
        if (!grown) return false;
        self.keys_ = grown;
        self.keyCapacity_ = grownCapacity;
        written = SortKey(text, self.keys_ + self.usedKeys_, needed);
        if (written <= 0) return false;
    }
    std::memcpy(self.texts_ + self.usedTexts_, text, size);
    self.order_[self.added_++] = {self.usedTexts_, self.usedKeys_, static_cast<size_t>(written)};
    self.usedTexts_ += size;
    self.usedKeys_ += static_cast<size_t>(written);
    return true;
}

// The order is the control's ascending sort, which sort keys compared bytewise
// over their whole length repeat.
bool RowsToShow::Take() {
    struct Sizes {
        size_t count = 0, textBytes = 0;
    } sizes;
    VisitAddressTexts(
        [](void* context, const char* text) {
            auto& s = *static_cast<Sizes*>(context);
            ++s.count;
            s.textBytes += std::strlen(text) + 1;
            return true;
        },
        &sizes);
    const size_t n = sizes.count;
    texts_ = static_cast<char*>(std::malloc(sizes.textBytes ? sizes.textBytes : 1));
    order_ = static_cast<Row*>(std::malloc((n ? n : 1) * sizeof(Row)));
    rowRoom_ = n;
    textRoom_ = sizes.textBytes;
    keyCapacity_ = n * 64 + 256;
    keys_ = static_cast<char*>(std::malloc(keyCapacity_));
    const bool ok = texts_ && order_ && keys_ && VisitAddressTexts(Add, this);
    if (ok) {
        const auto* bytes = reinterpret_cast<const unsigned char*>(keys_);
        std::sort(order_, order_ + added_, [bytes](const Row& a, const Row& b) {
            return std::lexicographical_compare(bytes + b.key, bytes + b.key + b.keySize,
                                                bytes + a.key, bytes + a.key + a.keySize);
        });
        count_ = added_;
    }
    std::free(keys_);
    keys_ = nullptr;
    return ok;
}
