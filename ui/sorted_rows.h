// The settings page's rows, copied from the list in its list view's order.
#pragma once

#include <cstddef>

// A copy of the list's texts, in the reverse of the list view's ascending order,
// so that the rows go in without the list's lock: checks on other threads never
// wait for the control.
class RowsToShow {
  public:
    RowsToShow() = default;
    ~RowsToShow();
    RowsToShow(const RowsToShow&) = delete;
    RowsToShow& operator=(const RowsToShow&) = delete;

    // False when memory runs out. Caller holds the lock.
    bool Take();
    size_t Count() const { return count_; }
    const char* Text(size_t i) const { return texts_ + order_[i].text; }

  private:
    // Offsets of a row's text and of its sort key, into blocks that move as they
    // grow, and the key's length: a key may hold zero bytes (Wine's does, for
    // punctuation past the 255th character).
    struct Row {
        size_t text;
        size_t key;
        size_t keySize;
    };
    // Copies one text and its sort key; false when memory runs out.
    static bool Add(void* rows, const char* text);

    char* texts_ = nullptr;
    Row* order_ = nullptr;
    size_t count_ = 0;
    // Only while Take runs: the room taken for the rows, and what Add has used.
    size_t rowRoom_ = 0, textRoom_ = 0, keyCapacity_ = 0;
    char* keys_ = nullptr;
    size_t added_ = 0, usedTexts_ = 0, usedKeys_ = 0;
};
