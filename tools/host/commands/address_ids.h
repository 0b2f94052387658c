// learn's table of the addresses it has seen: each address's id by its text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "addresses/ascii_case.h"

// The id of each address seen, by its text: open addressing over a table of
// ids into the addresses, each beside its hash. Asked for every address of
// every mail, so a lookup costs one hash and mostly one comparison.
class AddressIds {
  public:
    static constexpr uint32_t kNone = 0xFFFFFFFF;

    explicit AddressIds(const std::vector<std::string>& texts) : texts_(texts) {}

    uint32_t Find(const std::string& text) const {
        if (slots_.empty()) return kNone;
        const uint32_t hash = Hash(text);
        for (size_t i = hash & (slots_.size() - 1);; i = (i + 1) & (slots_.size() - 1)) {
            const Slot& slot = slots_[i];
            if (slot.id == kNone) return kNone;
            if (slot.hash == hash && texts_[slot.id] == text) return slot.id;
        }
    }

    // The text is texts[id], not yet known.
    void Add(uint32_t id) {
        if (2 * (count_ + 1) > slots_.size()) {
            std::vector<Slot> old(slots_.empty() ? 1024 : 2 * slots_.size(), Slot{0, kNone});
            old.swap(slots_);
            for (const Slot& slot : old) {
                if (slot.id != kNone) Place(slot);
            }
        }
        Place({Hash(texts_[id]), id});
        ++count_;
    }

  private:
    struct Slot {
        uint32_t hash;
        uint32_t id;
    };

    // The texts are folded already; addresses hold no zero byte.
    static uint32_t Hash(const std::string& text) { return HashNoCase(text.c_str()); }

    void Place(const Slot& slot) {
        size_t i = slot.hash & (slots_.size() - 1);
        while (slots_[i].id != kNone) i = (i + 1) & (slots_.size() - 1);
        slots_[i] = slot;
    }

    const std::vector<std::string>& texts_;
    std::vector<Slot> slots_;  // a power of two of them, at most half in use
    size_t count_ = 0;
};
