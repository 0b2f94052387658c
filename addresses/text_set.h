// A set of texts compared as FindAddress compares them, ASCII case ignored:
// hashed, so that a save can hold a list of 100,000 entries against its file
// without comparing every pair.
#pragma once

#include <cstddef>
#include <cstdint>

class TextSet {
  public:
    TextSet() = default;
    ~TextSet();
    TextSet(const TextSet&) = delete;
    TextSet& operator=(const TextSet&) = delete;

    // Adds the text, a copy of it when copy is set; otherwise the text must
    // outlive the set. False, with the set as it was, when memory runs out.
    bool Add(const char* text, bool copy);
    bool Contains(const char* text) const;
    size_t size() const { return count_; }
    void Clear();
    void Swap(TextSet& other);

  private:
    struct Slot {
        const char* text;
        uint32_t hash;
    };
    struct Block;

    const Slot* Find(const char* text, uint32_t hash) const;
    bool Grow();
    char* Keep(const char* text, size_t size);

    Slot* slots_ = nullptr;  // a power of two of them, at most half in use
    size_t capacity_ = 0;
    size_t count_ = 0;
    Block* blocks_ = nullptr;  // the copies, newest block first
};
