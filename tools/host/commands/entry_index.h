// learn's entries by their two halves, to find those that stand inside a text
// as the plug-in matches them: as a part, ASCII case ignored.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <unordered_map>
#include <vector>

#include "addresses/ascii_case.h"

// Every entry learn proposes holds one "@" (an address, or "@domain"), so an
// entry stands in a text only with its "@" on one of the text's: from each, the
// local parts that end there and the domains that start there are looked up, a
// few bytes each way, and only their pairs are asked. A text costs its length
// and its "@" signs, whatever the number of entries.
class EntryIndex {
  public:
    // Entries folded, each with one "@"; an entry's index is its place here.
    explicit EntryIndex(const std::vector<std::string>& entries);

    // Calls found(index, begin, end) for each place in text[0, size) where an
    // entry stands, text[begin, end) being the entry.
    template <typename Found>
    void Find(const char* text, size_t size, Found found) {
        for (size_t at = 0; at < size; ++at) {
            const void* sign = std::memchr(text + at, '@', size - at);
            if (!sign) break;
            at = static_cast<size_t>(static_cast<const char*>(sign) - text);
            Halves(text, size, at);
            for (const Half& local : localHits_) {
                for (const Half& domain : domainHits_) {
                    const auto entry = pairs_.find(uint64_t{local.id} << 32 | domain.id);
                    if (entry != pairs_.end()) {
                        found(entry->second, at - local.length, at + domain.length);
                    }
                }
            }
        }
    }

  private:
    struct Half {
        uint32_t id;
        size_t length;  // the domain's counts its "@"
    };

    // The local parts that end just before text[at] and the domains that start
    // at it, into localHits_ and domainHits_.
    void Halves(const char* text, size_t size, size_t at);

    // Local parts are kept backwards, as they are read from the "@".
    std::unordered_map<std::string, uint32_t> locals_;
    std::unordered_map<std::string, uint32_t> domains_;  // from the "@" on
    std::unordered_map<uint64_t, uint32_t> pairs_;       // local id, domain id: the entry
    // Which folded bytes stand in some local part or domain, and the longest
    // of each: the reading of a text stops at any other.
    bool localByte_[256] = {};
    bool domainByte_[256] = {};
    size_t longestLocal_ = 0;
    size_t longestDomain_ = 0;
    // The last text's halves and its scratch, kept from text to text.
    std::vector<Half> localHits_;
    std::vector<Half> domainHits_;
    std::string half_;
};
