#include "addresses/text_set.h"

#include <cstdlib>
#include <cstring>

#include "addresses/ascii_case.h"

struct TextSet::Block {
    Block* next;
    size_t used;
    size_t size;
    char* bytes() { return reinterpret_cast<char*>(this + 1); }
};

namespace {

constexpr size_t kBlockBytes = 65536;

}  // namespace

TextSet::~TextSet() {
    Clear();
}

void TextSet::Clear() {
    std::free(slots_);
    slots_ = nullptr;
    capacity_ = count_ = 0;
    while (Block* block = blocks_) {
        blocks_ = block->next;
        std::free(block);
    }
}

void TextSet::Swap(TextSet& other) {
    Slot* slots = slots_;
    const size_t capacity = capacity_, count = count_;
    Block* blocks = blocks_;
    slots_ = other.slots_, capacity_ = other.capacity_, count_ = other.count_;
    blocks_ = other.blocks_;
    other.slots_ = slots, other.capacity_ = capacity, other.count_ = count;
    other.blocks_ = blocks;
}

const TextSet::Slot* TextSet::Find(const char* text, uint32_t hash) const {
    if (capacity_ == 0) return nullptr;
    for (size_t i = hash & (capacity_ - 1);; i = (i + 1) & (capacity_ - 1)) {
        const Slot& slot = slots_[i];
        if (!slot.text) return &slot;
        if (slot.hash == hash && EqualsNoCase(slot.text, text)) return &slot;
    }
}

bool TextSet::Contains(const char* text) const {
    const Slot* slot = Find(text, HashNoCase(text));
    return slot && slot->text;
}

bool TextSet::Grow() {
    const size_t capacity = capacity_ ? capacity_ * 2 : 64;
    if (capacity > SIZE_MAX / sizeof(Slot)) return false;
    auto* slots = static_cast<Slot*>(std::calloc(capacity, sizeof(Slot)));
    if (!slots) return false;
    for (size_t i = 0; i < capacity_; ++i) {
        if (!slots_[i].text) continue;
        size_t j = slots_[i].hash & (capacity - 1);
        while (slots[j].text) j = (j + 1) & (capacity - 1);
        slots[j] = slots_[i];
    }
    std::free(slots_);
    slots_ = slots;
    capacity_ = capacity;
    return true;
}

char* TextSet::Keep(const char* text, size_t size) {
    if (!blocks_ || blocks_->size - blocks_->used < size) {
        const size_t bytes = size > kBlockBytes ? size : kBlockBytes;
        if (bytes > SIZE_MAX - sizeof(Block)) return nullptr;
        auto* block = static_cast<Block*>(std::malloc(sizeof(Block) + bytes));
        if (!block) return nullptr;
        block->next = blocks_;
        block->used = 0;
        block->size = bytes;
        blocks_ = block;
    }
    char* kept = blocks_->bytes() + blocks_->used;
    std::memcpy(kept, text, size);
    blocks_->used += size;
    return kept;
}

bool TextSet::Add(const char* text, bool copy) {
    const uint32_t hash = HashNoCase(text);
    if (const Slot* found = Find(text, hash); found && found->text) return true;
    if ((count_ + 1) * 2 > capacity_ && !Grow()) return false;
    const char* stored = copy ? Keep(text, std::strlen(text) + 1) : text;
    if (!stored) return false;
    Slot* slot = const_cast<Slot*>(Find(text, hash));
    slot->text = stored;
    slot->hash = hash;
    ++count_;
    return true;
}
