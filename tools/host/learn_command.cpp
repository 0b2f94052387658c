#include "tools/host/learn_command.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <new>
#include <queue>
#include <unordered_map>
#include <unordered_set>

#include "addresses/address_list.h"
#include "addresses/ascii_case.h"
#include "check/mail_check.h"
#include "tools/host/judge.h"
#include "tools/host/mail_inputs.h"
#include "tools/host/mbox_stream.h"

namespace {

// No real address is longer, and a list line holds little more.
constexpr size_t kMaxAddress = 254;

// How far after its "for" a Received clause's address may end: a bound that
// keeps a long value's reading linear, and no address is longer.
constexpr size_t kClauseReach = kMaxAddress + 2;

// 8-bit bytes are letters of the system's code page (j\xF6rg@example.de): an
// address is taken with them or not at all, never cut at one.
bool IsAddressLetter(unsigned char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c >= 0x80;
}

// Which bytes may stand in an address's local part and in its domain, looked
// up in a table: every byte of every value that names people is asked.
struct AddressBytes {
    bool local[256] = {};
    bool domain[256] = {};
    AddressBytes() {
        for (int c = 0; c < 256; ++c) {
            const bool letter = IsAddressLetter(static_cast<unsigned char>(c));
            local[c] = letter || (c != 0 && std::strchr("!#$%&'*+-/=?^_`{|}~.", c) != nullptr);
            domain[c] = letter || c == '-' || c == '.';
        }
    }
};
const AddressBytes kAddressBytes;

bool IsLocalChar(char c) {
    return kAddressBytes.local[static_cast<unsigned char>(c)];
}

bool IsDomainChar(char c) {
    return kAddressBytes.domain[static_cast<unsigned char>(c)];
}

// Headers whose "@" names a message, not a person.
bool NamesMessages(const std::string& name) {
    // Asked of every header: most are told apart by their first letter.
    const char first = static_cast<char>(name.empty() ? 0 : name[0] | 0x20);
    if (first != 'm' && first != 'i' && first != 'r' && first != 'c') return false;
    for (const char* id :
         {"Message-ID", "In-Reply-To", "References", "Content-ID", "Resent-Message-ID"}) {
        if (EqualsNoCase(name.c_str(), id)) return true;
    }
    return false;
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

// The folded addresses of one mail. The strings of the mail before are
// written over, so that a mail costs an allocation only for a longer address
// than was read before.
struct FoundAddresses {
    std::vector<std::string> texts;  // the first count are this mail's
    size_t count = 0;

    void Add(const std::string& text, size_t begin, size_t end) {
        if (count == texts.size()) texts.emplace_back();
        std::string& address = texts[count++];
        address.assign(text, begin, end - begin);
        for (char& c : address) c = static_cast<char>(FoldAscii(static_cast<unsigned char>(c)));
    }
};

// The whole addresses around each "@" in text[from, to); the bytes just
// outside the range are never address bytes. Dots before an address and dots
// or hyphens after it are the sentence's, not the address's.
void AddressesIn(const std::string& text, size_t from, size_t to, FoundAddresses& found) {
    const char* const data = text.data();
    for (size_t at = from; at < to; ++at) {
        const char* sign = FindByte(data + at, to - at, '@');
        if (!sign) break;
        at = static_cast<size_t>(sign - data);
        size_t begin = at;
        while (begin > from && IsLocalChar(text[begin - 1])) --begin;
        while (begin < at && text[begin] == '.') ++begin;
        size_t end = at + 1;
        while (end < to && IsDomainChar(text[end])) ++end;
        while (end > at + 1 && (text[end - 1] == '.' || text[end - 1] == '-')) --end;
        if (begin == at || end == at + 1 || end - begin > kMaxAddress) continue;
        found.Add(text, begin, end);
    }
}

// Where "for", in any case of letters, stands in text from from on.
size_t FindFor(const std::string& text, size_t from) {
    for (size_t at = from; at + 3 <= text.size(); ++at) {
        if ((text[at] | 0x20) == 'f' && (text[at + 1] | 0x20) == 'o' &&
            (text[at + 2] | 0x20) == 'r') {
            return at;
        }
    }
    return std::string::npos;
}

// The address after each blank-delimited "for" in a Received value: the
// recipient the receiving server delivered this copy to. Read in the value as
// it is: only "for" depends on the case of letters, and addresses are folded
// as they are taken.
void ForClauses(const std::string& value, FoundAddresses& found) {
    const size_t size = value.size();
    for (size_t at = FindFor(value, 0); at != std::string::npos; at = FindFor(value, at + 3)) {
        if (at == 0 || !IsBlank(value[at - 1]) || at + 3 >= size || !IsBlank(value[at + 3])) {
            continue;
        }
        size_t start = at + 3;
        while (start < size && IsBlank(value[start])) ++start;
        if (start < size && value[start] == '<') ++start;
        const size_t reach = std::min(size, start + kClauseReach);
        size_t end = start;
        while (end < reach && !IsBlank(value[end]) && value[end] != '>' && value[end] != ';' &&
               value[end] != ',') {
            ++end;
        }
        // No end in reach: longer than any address, and not to be cut.
        if (end == reach && reach < size) continue;
        AddressesIn(value, start, end, found);
    }
}

bool NamesAddresses(const std::string& name) {
    return IsAddressHeader(name.c_str()) && !EqualsNoCase(name.c_str(), "Received");
}

// The found addresses sorted, each once.
void SortUnique(FoundAddresses& found) {
    std::vector<std::string>& texts = found.texts;
    std::sort(texts.begin(), texts.begin() + static_cast<std::ptrdiff_t>(found.count));
    // By swaps, not moves, so that no string gives up its memory.
    size_t kept = 0;
    for (size_t i = 0; i < found.count; ++i) {
        if (kept > 0 && texts[i] == texts[kept - 1]) continue;
        if (i != kept) texts[kept].swap(texts[i]);
        ++kept;
    }
    found.count = kept;
}

// AddressesOf into found: sorted, each once.
void CollectAddresses(const std::vector<Header>& headers, FoundAddresses& found) {
    found.count = 0;
    for (const Header& header : headers) {
        if (NamesAddresses(header.name)) {
            AddressesIn(header.value, 0, header.value.size(), found);
        } else if (EqualsNoCase(header.name.c_str(), "Received")) {
            ForClauses(header.value, found);
        }
    }
    SortUnique(found);
}

std::string ReasonUnpassable(const std::vector<Header>& headers) {
    // The first header that names addresses; one with an "@" but no whole
    // address says more, so it goes first.
    const Header* named = nullptr;
    bool namedSign = false;
    bool received = false;
    for (const Header& header : headers) {
        if (NamesAddresses(header.name)) {
            const bool sign = header.value.find('@') != std::string::npos;
            if (!named || (sign && !namedSign)) {
                named = &header;
                namedSign = sign;
            }
        }
        received |= EqualsNoCase(header.name.c_str(), "Received");
    }
    std::string reason;
    if (!named) {
        reason = "no To, Cc or Envelope-To header";
    } else if (!namedSign) {
        reason = OneLine(named->name + ": " + named->value, 50) + " names no address";
    } else {
        // Only a part of such an address could be an entry, and a part lets
        // through every address that holds it.
        reason = OneLine(named->name + ": " + named->value, 50) +
                 " holds no whole address an entry could be, only parts of one";
    }
    reason += received ? ", and no Received line names one" : ", and no Received line";
    return reason;
}

// Every address in every header that names people, lower-cased, in no order and
// not each once: those who take them keep them in sets. Without namedToo, those
// of To, Cc and Envelope-To are left out.
void AllAddresses(const std::vector<Header>& headers, FoundAddresses& found, bool namedToo = true) {
    found.count = 0;
    for (const Header& header : headers) {
        if (NamesMessages(header.name) || (!namedToo && NamesAddresses(header.name))) continue;
        AddressesIn(header.value, 0, header.value.size(), found);
    }
}

void AddressValues(const std::vector<Header>& headers, std::vector<const std::string*>& values) {
    values.clear();
    for (const Header& header : headers) {
        if (IsAddressHeader(header.name.c_str())) values.push_back(&header.value);
    }
}

bool HasAddressHeader(const std::vector<Header>& headers) {
    return std::any_of(headers.begin(), headers.end(),
                       [](const Header& header) { return IsAddressHeader(header.name.c_str()); });
}

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

    static uint32_t Hash(const std::string& text) {
        uint32_t hash = 2166136261u;
        for (const char c : text) hash = (hash ^ static_cast<unsigned char>(c)) * 16777619u;
        return hash;
    }

    void Place(const Slot& slot) {
        size_t i = slot.hash & (slots_.size() - 1);
        while (slots_[i].id != kNone) i = (i + 1) & (slots_.size() - 1);
        slots_[i] = slot;
    }

    const std::vector<std::string>& texts_;
    std::vector<Slot> slots_;  // a power of two of them, at most half in use
    size_t count_ = 0;
};

struct KindHash {
    size_t operator()(const std::vector<uint32_t>& kind) const {
        uint64_t hash = 14695981039346656037u;
        for (const uint32_t id : kind) hash = (hash ^ id) * 1099511628211u;
        return static_cast<size_t>(hash ^ (hash >> 32));
    }
};

class Learner {
  public:
    Learner(Proposal& proposal, std::FILE* err, std::FILE* progressTo)
        : proposal_(proposal), err_(err), progress_(progressTo) {}

    void Read(const std::vector<std::string>& paths, const MailSink& sink) {
        for (const std::string& path : paths) {
            std::vector<InputFile> files;
            std::vector<InputError> errors;
            CollectInputs(path, files, errors);
            for (const InputError& error : errors) Unreadable(error.path, error.reason);
            for (const InputFile& file : files) {
                std::string failure;
                ReadOutcome outcome;
                try {
                    outcome = ReadMails(file, sink, bytes_, failure, &progress_);
                } catch (const std::bad_alloc&) {
                    outcome = ReadOutcome::kFailed;
                    failure = "out of memory";
                }
                if (outcome == ReadOutcome::kNotMail) ++proposal_.skipped;
                if (outcome == ReadOutcome::kFailed) Unreadable(file.path, failure);
                // What was left out and why: said, but not counted as unreadable.
                if (outcome != ReadOutcome::kFailed && !failure.empty()) {
                    std::fprintf(err_, "quorvel-host: %s: %s\n", file.path.c_str(),
                                 failure.c_str());
                }
            }
        }
    }

    void Good(const std::string& label, const char* data, size_t size) {
        progress_.Mail(bytes_);
        if (!data) return Unreadable(label, "header block larger than 64 MiB, not read");
        std::vector<Header>& headers = headers_;
        ParseHeaders(data, size, headers);
        ++proposal_.mails;
        if (!HasAddressHeader(headers)) {
            ++proposal_.withoutHeaders;
            return;
        }
        // Those of To, Cc and Envelope-To go into addresses_ below.
        AllAddresses(headers, all_, false);
        for (size_t i = 0; i < all_.count; ++i) seen_.insert(all_.texts[i]);
        CollectAddresses(headers, found_);
        if (found_.count == 0) {
            if (++proposal_.unpassable <= kMaxShown) {
                proposal_.shown.push_back({label, ReasonUnpassable(headers)});
            }
            return;
        }
        std::vector<uint32_t>& kind = kind_;
        kind.clear();
        for (size_t i = 0; i < found_.count; ++i) {
            const std::string& address = found_.texts[i];
            uint32_t id = ids_.Find(address);
            if (id == AddressIds::kNone) {
                // The address goes in first, so that memory running out in
                // between never leaves an id that names no address.
                id = static_cast<uint32_t>(addresses_.size());
                addresses_.push_back(address);
                ids_.Add(id);
            }
            kind.push_back(id);
        }
        std::sort(kind.begin(), kind.end());
        ++kinds_[kind];
    }

    void Spam(const std::string& label, const char* data, size_t size) {
        progress_.Mail(bytes_);
        if (!data) return Unreadable(label, "header block larger than 64 MiB, not read");
        std::vector<Header>& headers = headers_;
        ParseHeaders(data, size, headers);
        ++proposal_.spamMails;
        AllAddresses(headers, all_);
        for (size_t i = 0; i < all_.count; ++i) Note(all_.texts[i]);
        std::vector<const std::string*>& values = values_;
        AddressValues(headers, values);
        if (values.empty()) {
            ++proposal_.spamWithoutHeaders;
            return;
        }
        bool passed = false;
        for (ProposedEntry& entry : proposal_.entries) {
            const bool lets = std::any_of(values.begin(), values.end(), [&](const std::string* v) {
                return ContainsNoCase(v->c_str(), entry.text.c_str()) != nullptr;
            });
            entry.spam += lets;
            passed |= lets;
        }
        proposal_.spamPassed += passed;
    }

    void Propose(bool domains) {
        std::vector<uint64_t> counts;
        std::vector<std::vector<uint32_t>> kindsOf(addresses_.size());
        for (const auto& kind : kinds_) {
            for (const uint32_t id : kind.first) kindsOf[id].push_back(uint32_t(counts.size()));
            counts.push_back(kind.second);
        }
        // An address counts only for the mails that name it whole: counting
        // those that name a longer address holding it would favour parts of
        // addresses, which let other people's mail through too.
        const std::vector<std::vector<uint32_t>>& covers = kindsOf;
        std::vector<Choice> chosen = Greedy(covers, counts);
        Prune(chosen, counts.size());
        if (domains) Fold(chosen, kindsOf);
        Prune(chosen, counts.size());
        Count(chosen, counts);
        for (size_t i = 0; i < proposal_.entries.size(); ++i) {
            const std::string& text = proposal_.entries[i].text;
            const size_t at = text.find('@');
            byLocal_[text.substr(0, at)].push_back({i, text.substr(at)});
        }
        others_.resize(proposal_.entries.size());
        for (const std::string& address : addresses_) Note(address);
        for (const std::string& address : seen_) Note(address);
        std::unordered_set<std::string>().swap(seen_);
    }

    // Each entry's count of other addresses seen that hold it, and the first of
    // them in alphabetical order.
    void Mark() {
        for (size_t i = 0; i < proposal_.entries.size(); ++i) {
            ProposedEntry& entry = proposal_.entries[i];
            entry.inside = others_[i].size();
            if (entry.inside > 0)
                entry.example = *std::min_element(others_[i].begin(), others_[i].end());
        }
    }

  private:
    struct Choice {
        std::string text;
        std::vector<uint32_t> kinds;
    };

    // Greedy set cover, lazily updated: an entry's gain only falls as others
    // are chosen, so a popped gain that still tops the heap is the best.
    std::vector<Choice> Greedy(const std::vector<std::vector<uint32_t>>& covers,
                               const std::vector<uint64_t>& counts) {
        std::vector<bool> covered(counts.size(), false);
        auto gainOf = [&](uint32_t id) {
            uint64_t gain = 0;
            for (const uint32_t kind : covers[id]) gain += covered[kind] ? 0 : counts[kind];
            return gain;
        };
        using Item = std::pair<uint64_t, uint32_t>;
        // Equal gains: the alphabetically first address, so runs repeat.
        auto less = [this](const Item& a, const Item& b) {
            if (a.first != b.first) return a.first < b.first;
            return addresses_[a.second] > addresses_[b.second];
        };
        std::priority_queue<Item, std::vector<Item>, decltype(less)> heap(less);
        for (uint32_t id = 0; id < addresses_.size(); ++id) heap.push({gainOf(id), id});
        std::vector<Choice> chosen;
        while (!heap.empty()) {
            Item top = heap.top();
            heap.pop();
            top.first = gainOf(top.second);
            if (top.first == 0) continue;
            if (!heap.empty() && less(top, heap.top())) {
                heap.push(top);
                continue;
            }
            for (const uint32_t kind : covers[top.second]) covered[kind] = true;
            chosen.push_back({addresses_[top.second], covers[top.second]});
        }
        return chosen;
    }

    // Drops, latest first, each entry whose mails others all let through.
    static void Prune(std::vector<Choice>& chosen, size_t kindCount) {
        std::vector<uint32_t> coverers(kindCount, 0);
        for (const Choice& choice : chosen) {
            for (const uint32_t kind : choice.kinds) ++coverers[kind];
        }
        for (size_t i = chosen.size(); i-- > 0;) {
            const auto& kinds = chosen[i].kinds;
            if (!std::all_of(kinds.begin(), kinds.end(),
                             [&](uint32_t kind) { return coverers[kind] > 1; })) {
                continue;
            }
            for (const uint32_t kind : kinds) --coverers[kind];
            chosen.erase(chosen.begin() + static_cast<std::ptrdiff_t>(i));
        }
    }

    // "@domain", not the bare domain: that would also stand in the Received
    // lines of the user's own mail servers, and so let every mail through.
    void Fold(std::vector<Choice>& chosen, const std::vector<std::vector<uint32_t>>& kindsOf) {
        std::map<std::string, int> perDomain;
        for (const Choice& choice : chosen) ++perDomain[choice.text.substr(choice.text.find('@'))];
        std::vector<Choice> folded;
        for (const auto& domain : perDomain) {
            if (domain.second < 3) continue;
            Choice entry{domain.first, {}};
            for (uint32_t id = 0; id < addresses_.size(); ++id) {
                const std::string& address = addresses_[id];
                if (address.compare(address.find('@'), std::string::npos, domain.first) != 0) {
                    continue;
                }
                entry.kinds.insert(entry.kinds.end(), kindsOf[id].begin(), kindsOf[id].end());
            }
            std::sort(entry.kinds.begin(), entry.kinds.end());
            entry.kinds.erase(std::unique(entry.kinds.begin(), entry.kinds.end()),
                              entry.kinds.end());
            folded.push_back(std::move(entry));
        }
        // Folded entries go first, so that pruning weighs the addresses before them.
        for (Choice& choice : chosen) {
            if (perDomain[choice.text.substr(choice.text.find('@'))] < 3) {
                folded.push_back(std::move(choice));
            }
        }
        chosen = std::move(folded);
    }

    void Count(const std::vector<Choice>& chosen, const std::vector<uint64_t>& counts) {
        std::vector<uint32_t> coverers(counts.size(), 0);
        for (const Choice& choice : chosen) {
            for (const uint32_t kind : choice.kinds) ++coverers[kind];
        }
        for (const Choice& choice : chosen) {
            ProposedEntry entry;
            entry.text = choice.text;
            for (const uint32_t kind : choice.kinds) {
                entry.mails += counts[kind];
                if (coverers[kind] == 1) entry.only += counts[kind];
            }
            proposal_.entries.push_back(entry);
        }
        std::sort(proposal_.entries.begin(), proposal_.entries.end(),
                  [](const ProposedEntry& a, const ProposedEntry& b) {
                      return a.mails != b.mails ? a.mails > b.mails : a.text < b.text;
                  });
    }

    // Records the address as another one that a proposed entry lets through,
    // for each entry it holds but is not: the plug-in matches an entry as a
    // part, so those entries let its mail through too. Addresses hold one "@",
    // and so do entries; the two are lined up at it.
    void Note(const std::string& address) {
        const size_t at = address.find('@');
        if (at == std::string::npos) return;
        for (size_t begin = 0; begin <= at; ++begin) {
            local_.assign(address, begin, at - begin);  // no allocation per part
            const auto local = byLocal_.find(local_);
            if (local == byLocal_.end()) continue;
            for (const LocalPart& entry : local->second) {
                if (address.compare(at, entry.domain.size(), entry.domain) != 0) continue;
                if (begin == 0 && entry.domain.size() == address.size() - at) continue;  // itself
                others_[entry.index].insert(address);
            }
        }
    }

    void Unreadable(const std::string& path, const std::string& reason) {
        ++proposal_.unreadable;
        progress_.Clear();
        std::fprintf(err_, "quorvel-host: %s: %s\n", path.c_str(), reason.c_str());
    }

    Proposal& proposal_;
    std::FILE* err_;
    ProgressLine progress_;
    uint64_t bytes_ = 0;
    // The mail being read, its memory kept for the next.
    std::vector<Header> headers_;
    FoundAddresses found_;
    std::vector<uint32_t> kind_;
    std::vector<const std::string*> values_;
    std::vector<std::string> addresses_;
    AddressIds ids_{addresses_};
    // Mails that name the same addresses are one kind, counted, so that an
    // archive of millions of mails takes memory by what it names, not its size.
    // Looked up once a mail, so hashed rather than ordered: the proposal does
    // not depend on the order of the kinds.
    std::unordered_map<std::vector<uint32_t>, uint64_t, KindHash> kinds_;
    // The addresses of one mail's headers, kept from mail to mail, and those of
    // the good mails outside addresses_ until the proposal is made.
    FoundAddresses all_;
    std::unordered_set<std::string> seen_;
    struct LocalPart {
        size_t index;        // in proposal_.entries
        std::string domain;  // from the "@" on
    };
    std::unordered_map<std::string, std::vector<LocalPart>> byLocal_;  // entries by local part
    std::vector<std::unordered_set<std::string>> others_;              // by entry
    std::string local_;                                                // Note's own
};

unsigned long long U(uint64_t n) {
    return static_cast<unsigned long long>(n);
}

const char* Plural(uint64_t n) {
    return n == 1 ? "" : "s";
}

}  // namespace

std::vector<std::string> AddressesOf(const std::vector<Header>& headers) {
    FoundAddresses found;
    CollectAddresses(headers, found);
    found.texts.resize(found.count);
    return std::move(found.texts);
}

Proposal Learn(const std::vector<std::string>& good, const std::vector<std::string>& spam,
               bool domains, std::FILE* err, std::FILE* progressTo) {
    Proposal proposal;
    {
        Learner learner(proposal, err, progressTo);
        learner.Read(good, [&](const std::string& label, const char* data, size_t size) {
            learner.Good(label, data, size);
        });
        learner.Propose(domains);
        learner.Read(spam, [&](const std::string& label, const char* data, size_t size) {
            learner.Spam(label, data, size);
        });
        learner.Mark();
    }
    return proposal;
}

Proposal LearnFromMails(const std::vector<std::string>& good, bool domains) {
    Proposal proposal;
    {
        Learner learner(proposal, stderr, nullptr);
        for (size_t i = 0; i < good.size(); ++i) {
            learner.Good(std::to_string(i + 1), good[i].data(), good[i].size());
        }
        learner.Propose(domains);
        learner.Mark();
    }
    return proposal;
}

void PrintProposal(const Proposal& proposal, bool withSpam, bool listOnly, std::FILE* out) {
    if (listOnly) {
        for (const ProposedEntry& entry : proposal.entries) {
            std::fprintf(out, "%s\n", entry.text.c_str());
        }
        return;
    }
    std::fprintf(out, "%llu good mail%s read.\n", U(proposal.mails), Plural(proposal.mails));
    if (proposal.entries.empty()) {
        std::fprintf(out, "No entry to propose: none of them names an address.\n");
    } else {
        size_t width = 5;
        for (const ProposedEntry& entry : proposal.entries)
            width = std::max(width, entry.text.size() + (entry.inside > 0));
        std::fprintf(out, "Proposed list, %zu entr%s:\n  %-*s  %11s  %12s%s\n",
                     proposal.entries.size(), proposal.entries.size() == 1 ? "y" : "ies",
                     static_cast<int>(width), "entry", "lets through", "only through",
                     withSpam ? "  spam" : "");
        for (const ProposedEntry& entry : proposal.entries) {
            const std::string shown = entry.text + (entry.inside > 0 ? "*" : "");
            std::fprintf(out, "  %-*s  %12llu  %12llu", static_cast<int>(width), shown.c_str(),
                         U(entry.mails), U(entry.only));
            if (withSpam) {
                std::fprintf(out, "  %4llu%s", U(entry.spam),
                             entry.spam > 0 ? "  lets spam through" : "");
            }
            std::fprintf(out, "\n");
        }
        const bool marked = std::any_of(proposal.entries.begin(), proposal.entries.end(),
                                        [](const ProposedEntry& e) { return e.inside > 0; });
        if (marked) {
            std::fprintf(
                out,
                "* marks an entry that lies inside other addresses seen in the mails; the\n"
                "  plug-in lets mail to those through too:\n");
        }
        for (const ProposedEntry& entry : proposal.entries) {
            if (entry.inside == 0) continue;
            std::fprintf(out, "* %s also lets through %llu other address%s seen, such as %s\n",
                         entry.text.c_str(), U(entry.inside), entry.inside == 1 ? "" : "es",
                         entry.example.c_str());
        }
    }
    if (proposal.withoutHeaders > 0) {
        const bool one = proposal.withoutHeaders == 1;
        std::fprintf(out,
                     "%llu mail%s without a To, Cc, Envelope-To or Received header: the plug-in "
                     "passes %s whatever the list.\n",
                     U(proposal.withoutHeaders), one ? "" : "s", one ? "it" : "them");
    }
    if (proposal.unpassable > 0) {
        std::fprintf(out, "%llu mail%s that no address entry can let through:\n",
                     U(proposal.unpassable), Plural(proposal.unpassable));
        for (const Unpassable& mail : proposal.shown) {
            std::fprintf(out, "  %s\n      %s\n", mail.label.c_str(), mail.reason.c_str());
        }
        if (proposal.unpassable > proposal.shown.size()) {
            std::fprintf(out, "  and %llu more\n", U(proposal.unpassable - proposal.shown.size()));
        }
    }
    if (withSpam) {
        std::fprintf(out, "Of %llu spam mail%s, the proposed list lets %llu through",
                     U(proposal.spamMails), Plural(proposal.spamMails), U(proposal.spamPassed));
        if (proposal.spamWithoutHeaders > 0) {
            std::fprintf(
                out,
                "; %llu more pass%s whatever the list (no To, Cc, Envelope-To or Received header)",
                U(proposal.spamWithoutHeaders), proposal.spamWithoutHeaders == 1 ? "es" : "");
        }
        std::fprintf(out, ".\n");
    }
}

bool WriteProposal(const Proposal& proposal, const std::string& listPath, std::FILE* out) {
    if (listPath.size() >= kPathSize) {
        std::fprintf(out, "The path %s is too long for the plug-in; nothing was added.\n",
                     listPath.c_str());
        return false;
    }
    std::memcpy(g_modulePath, listPath.c_str(), listPath.size() + 1);
    LoadAddressList();
    // A list read only in part is never saved: that would cut the user's file.
    if (AddressListLoadIncomplete()) {
        std::fprintf(out,
                     "Could not read all of %s (another program may hold it, or it can't be "
                     "read), so nothing was added: saving would drop the entries not read.\n",
                     listPath.c_str());
        return false;
    }
    std::vector<std::string> added;
    for (const ProposedEntry& entry : proposal.entries) {
        if (FindAddress(entry.text.c_str())) continue;
        if (!AddAddress(entry.text.c_str())) {
            std::fprintf(out, "Out of memory; nothing was added to %s.\n", listPath.c_str());
            return false;
        }
        added.push_back(entry.text);
    }
    if (added.empty()) {
        std::fprintf(out, "Nothing to add: %s already holds every proposed entry.\n",
                     listPath.c_str());
        return true;
    }
    if (!SaveAddressList()) {
        std::fprintf(out,
                     "Could not write %s (it may be read-only, or its disk full), so nothing was "
                     "added.\n",
                     listPath.c_str());
        return false;
    }
    std::fprintf(out, "Added %zu entr%s to %s:\n", added.size(), added.size() == 1 ? "y" : "ies",
                 listPath.c_str());
    for (const std::string& text : added) std::fprintf(out, "  %s\n", text.c_str());
    return true;
}
