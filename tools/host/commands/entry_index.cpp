#include "tools/host/commands/entry_index.h"

#include <algorithm>

EntryIndex::EntryIndex(const std::vector<std::string>& entries) {
    for (uint32_t i = 0; i < entries.size(); ++i) {
        const std::string& entry = entries[i];
        const size_t at = entry.find('@');
        if (at == std::string::npos) continue;  // never one of learn's
        const std::string local(entry.rbegin() + static_cast<std::ptrdiff_t>(entry.size() - at),
                                entry.rend());
        const std::string domain = entry.substr(at);
        const uint32_t localId = locals_.emplace(local, uint32_t(locals_.size())).first->second;
        const uint32_t domainId = domains_.emplace(domain, uint32_t(domains_.size())).first->second;
        pairs_.emplace(uint64_t{localId} << 32 | domainId, i);
        for (const char c : local) localByte_[static_cast<unsigned char>(c)] = true;
        for (size_t k = 1; k < domain.size(); ++k) {
            domainByte_[static_cast<unsigned char>(domain[k])] = true;
        }
        longestLocal_ = std::max(longestLocal_, local.size());
        longestDomain_ = std::max(longestDomain_, domain.size());
    }
}

void EntryIndex::Halves(const char* text, size_t size, size_t at) {
    localHits_.clear();
    domainHits_.clear();
    half_.clear();
    auto local = locals_.find(half_);
    if (local != locals_.end()) localHits_.push_back({local->second, 0});
    for (size_t length = 1; length <= longestLocal_ && length <= at; ++length) {
        const unsigned char c = FoldAscii(static_cast<unsigned char>(text[at - length]));
        if (!localByte_[c]) break;
        half_ += static_cast<char>(c);
        local = locals_.find(half_);
        if (local != locals_.end()) localHits_.push_back({local->second, length});
    }
    if (localHits_.empty()) return;
    half_.assign(1, '@');
    for (size_t end = at + 1; end < size && half_.size() < longestDomain_; ++end) {
        const unsigned char c = FoldAscii(static_cast<unsigned char>(text[end]));
        if (!domainByte_[c]) break;
        half_ += static_cast<char>(c);
        const auto domain = domains_.find(half_);
        if (domain != domains_.end()) domainHits_.push_back({domain->second, half_.size()});
    }
}
