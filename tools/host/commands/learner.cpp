#include "tools/host/commands/learner.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <new>
#include <queue>
#include <unordered_map>
#include <unordered_set>

#include "addresses/ascii_case.h"
#include "check/mail_check.h"
#include "tools/host/commands/address_ids.h"
#include "tools/host/commands/entry_index.h"
#include "tools/host/commands/judge.h"
#include "tools/host/mail/mail_addresses.h"
#include "tools/host/mail/mail_inputs.h"
#include "tools/host/mail/mail_parser.h"
#include "tools/host/mail/mbox_stream.h"
#include "tools/host/mail/progress_line.h"

namespace {

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

struct AddressSetHash {
    size_t operator()(const std::vector<uint32_t>& set) const {
        uint64_t hash = 14695981039346656037u;
        for (const uint32_t id : set) hash = (hash ^ id) * 1099511628211u;
        return static_cast<size_t>(hash ^ (hash >> 32));
    }
};

class Learner {
  public:
    Learner(Proposal& proposal, std::FILE* err, std::FILE* progressTo)
        : proposal_(proposal), err_(err), progress_(progressTo) {}

    void Read(const std::vector<std::string>& paths, FolderChoice choice, const MailSink& sink) {
        for (const std::string& path : paths) {
            std::vector<InputFile> files;
            std::vector<InputError> errors;
            CollectInputs(path, files, errors, choice);
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
                // A link not followed is no file left out.
                if (outcome == ReadOutcome::kNotMail && file.leftOut != LeftOut::kLink) {
                    ++proposal_.skipped;
                }
                if (outcome == ReadOutcome::kFailed) Unreadable(file.path, failure);
                // What was left out and why: said, but not counted as unreadable.
                if (outcome != ReadOutcome::kFailed && !failure.empty()) {
                    progress_.Clear();
                    std::fprintf(err_, "quorvel-host: %s: %s\n", file.path.c_str(),
                                 failure.c_str());
                }
            }
        }
    }

    void LearnFromGoodMail(const std::string& label, const char* data, size_t size) {
        if (!ReadHeaders(label, data, size)) return;
        const std::vector<Header>& headers = headers_;
        ++proposal_.mails;
        if (!HasAddressHeader(headers)) {
            ++proposal_.withoutHeaders;
            return;
        }
        // Those of To, Cc and Envelope-To go into addresses_ below.
        AddressesBesideRecipients(headers, all_);
        for (size_t i = 0; i < all_.count; ++i) seen_.insert(all_.texts[i]);
        CollectAddresses(headers, found_);
        if (found_.count == 0) {
            if (++proposal_.unpassable <= kMaxShown) {
                proposal_.shown.push_back({label, ReasonUnpassable(headers)});
            }
            return;
        }
        std::vector<uint32_t>& set = addressSet_;
        set.clear();
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
            set.push_back(id);
        }
        std::sort(set.begin(), set.end());
        ++addressSets_[set];
    }

    void TestOnSpamMail(const std::string& label, const char* data, size_t size) {
        if (!ReadHeaders(label, data, size)) return;
        const std::vector<Header>& headers = headers_;
        ++proposal_.spamMails;
        AllAddresses(headers, all_);
        for (size_t i = 0; i < all_.count; ++i) Note(all_.texts[i]);
        std::vector<const std::string*>& values = values_;
        AddressValues(headers, values);
        if (values.empty()) {
            ++proposal_.spamWithoutHeaders;
            return;
        }
        // Each entry that stands in one of the values lets the mail through, once.
        ++spamStamp_;
        bool passed = false;
        for (const std::string* value : values) {
            // The plug-in is handed the value as a C string: it ends at a zero byte.
            entryIndex_->Find(value->c_str(), std::strlen(value->c_str()),
                              [&](uint32_t index, size_t, size_t) {
                                  if (stamps_[index] == spamStamp_) return;
                                  stamps_[index] = spamStamp_;
                                  ++proposal_.entries[index].spam;
                                  passed = true;
                              });
        }
        proposal_.spamPassed += passed;
    }

    void Propose(bool domains, ListedCheck listed) {
        std::vector<uint64_t> counts;
        std::vector<const std::vector<uint32_t>*> members;  // each set's addresses
        std::vector<std::vector<uint32_t>> setsOf(addresses_.size());
        for (const auto& set : addressSets_) {
            for (const uint32_t id : set.first) setsOf[id].push_back(uint32_t(counts.size()));
            counts.push_back(set.second);
            members.push_back(&set.first);
        }
        // An address counts only for the mails that name it whole: counting
        // those that name a longer address holding it would favour parts of
        // addresses, which let other people's mail through too.
        const std::vector<std::vector<uint32_t>>& covers = setsOf;
        std::vector<Choice> chosen = Greedy(covers, counts);
        Prune(chosen, counts.size());
        if (domains) Fold(chosen, setsOf);
        Prune(chosen, counts.size());
        // From here on an entry lets through what the plug-in would let through.
        std::vector<uint32_t> listedCovers = AsThePluginMatches(chosen, members, listed);
        for (size_t set = 0; set < counts.size(); ++set) {
            if (listedCovers[set]) proposal_.listedMails += counts[set];
        }
        Prune(chosen, listedCovers);
        Count(chosen, counts, listedCovers);
        std::vector<std::string> texts;
        for (const ProposedEntry& entry : proposal_.entries) texts.push_back(entry.text);
        entryIndex_.reset(new EntryIndex(texts));
        stamps_.assign(texts.size(), 0);
        others_.resize(proposal_.entries.size());
        for (const std::string& address : addresses_) Note(address);
        for (const std::string& address : seen_) Note(address);
        std::unordered_set<std::string>().swap(seen_);
    }

    // Each entry's count of other addresses seen that hold it, and the first of
    // them in alphabetical order.
    void CountLookAlikes() {
        for (size_t i = 0; i < proposal_.entries.size(); ++i) {
            ProposedEntry& entry = proposal_.entries[i];
            // A domain entry's own addresses are what the user asked to fold: no news.
            const auto from = foldedFrom_.find(entry.text);
            if (from != foldedFrom_.end()) {
                for (const std::string& address : from->second) others_[i].erase(address);
            }
            entry.inside = others_[i].size();
            if (entry.inside > 0)
                entry.example = *std::min_element(others_[i].begin(), others_[i].end());
        }
    }

  private:
    struct Choice {
        std::string text;
        std::vector<uint32_t> sets;  // the address sets it lets through, by index in counts
    };

    // Greedy set cover, lazily updated: an entry's gain only falls as others
    // are chosen, so a popped gain that still tops the heap is the best.
    std::vector<Choice> Greedy(const std::vector<std::vector<uint32_t>>& covers,
                               const std::vector<uint64_t>& counts) {
        std::vector<bool> covered(counts.size(), false);
        auto gainOf = [&](uint32_t id) {
            uint64_t gain = 0;
            for (const uint32_t set : covers[id]) gain += covered[set] ? 0 : counts[set];
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
            for (const uint32_t set : covers[top.second]) covered[set] = true;
            chosen.push_back({addresses_[top.second], covers[top.second]});
        }
        return chosen;
    }

    static void Prune(std::vector<Choice>& chosen, size_t setCount) {
        Prune(chosen, std::vector<uint32_t>(setCount, 0));
    }

    // Drops, latest first, each entry whose mails others all let through; the
    // list lets through those sets that coverers holds 1 for.
    static void Prune(std::vector<Choice>& chosen, std::vector<uint32_t> coverers) {
        for (const Choice& choice : chosen) {
            for (const uint32_t set : choice.sets) ++coverers[set];
        }
        for (size_t i = chosen.size(); i-- > 0;) {
            const auto& sets = chosen[i].sets;
            if (!std::all_of(sets.begin(), sets.end(),
                             [&](uint32_t set) { return coverers[set] > 1; })) {
                continue;
            }
            for (const uint32_t set : sets) --coverers[set];
            chosen.erase(chosen.begin() + static_cast<std::ptrdiff_t>(i));
        }
    }

    // "@domain", not the bare domain: that would also stand in the Received
    // lines of the user's own mail servers, and so let every mail through.
    void Fold(std::vector<Choice>& chosen, const std::vector<std::vector<uint32_t>>& setsOf) {
        std::map<std::string, int> perDomain;
        for (const Choice& choice : chosen) ++perDomain[choice.text.substr(choice.text.find('@'))];
        // Every address seen at a folded domain, found once for all of them.
        std::unordered_map<std::string, std::vector<uint32_t>> atDomain;
        for (const auto& domain : perDomain) {
            if (domain.second >= 3) atDomain[domain.first];
        }
        for (uint32_t id = 0; id < addresses_.size(); ++id) {
            const std::string& address = addresses_[id];
            const auto domain = atDomain.find(address.substr(address.find('@')));
            if (domain != atDomain.end()) domain->second.push_back(id);
        }
        std::vector<Choice> folded;
        for (const auto& domain : perDomain) {
            if (domain.second < 3) continue;
            Choice entry{domain.first, {}};
            for (const uint32_t id : atDomain[domain.first]) {
                entry.sets.insert(entry.sets.end(), setsOf[id].begin(), setsOf[id].end());
            }
            std::sort(entry.sets.begin(), entry.sets.end());
            entry.sets.erase(std::unique(entry.sets.begin(), entry.sets.end()), entry.sets.end());
            folded.push_back(std::move(entry));
        }
        // Folded entries go first, so that pruning weighs the addresses before them.
        for (Choice& choice : chosen) {
            const std::string domain = choice.text.substr(choice.text.find('@'));
            if (perDomain[domain] < 3) {
                folded.push_back(std::move(choice));
            } else {
                foldedFrom_[domain].insert(choice.text);
            }
        }
        chosen = std::move(folded);
    }

    // Each entry's sets become those that hold an address it stands in, which
    // the plug-in surely lets through for it: the greedy choice, which weighs
    // whole addresses only, may have kept an entry that another one, or the
    // user's list, makes needless. Returns 1 for each set that the list lets
    // through, 0 for the others.
    std::vector<uint32_t> AsThePluginMatches(
        std::vector<Choice>& chosen, const std::vector<const std::vector<uint32_t>*>& members,
        ListedCheck listed) {
        std::vector<std::string> texts;
        for (const Choice& choice : chosen) texts.push_back(choice.text);
        EntryIndex index(texts);
        std::vector<std::vector<uint32_t>> inside(addresses_.size());  // entries by address
        std::vector<bool> listedLets(addresses_.size(), false);
        for (uint32_t id = 0; id < addresses_.size(); ++id) {
            const std::string& address = addresses_[id];
            index.Find(address.data(), address.size(),
                       [&](uint32_t entry, size_t, size_t) { inside[id].push_back(entry); });
            listedLets[id] = listed && listed(address);
        }
        for (Choice& choice : chosen) choice.sets.clear();
        std::vector<uint32_t> listedCovers(members.size(), 0);
        std::vector<uint32_t> stamps(chosen.size(), 0);
        for (uint32_t set = 0; set < members.size(); ++set) {
            for (const uint32_t id : *members[set]) {
                listedCovers[set] |= listedLets[id] ? 1 : 0;
                for (const uint32_t entry : inside[id]) {
                    if (stamps[entry] == set + 1) continue;
                    stamps[entry] = set + 1;
                    chosen[entry].sets.push_back(set);
                }
            }
        }
        return listedCovers;
    }

    // The columns; the list lets through the sets listedCovers holds 1 for.
    void Count(const std::vector<Choice>& chosen, const std::vector<uint64_t>& counts,
               std::vector<uint32_t> coverers) {
        for (const Choice& choice : chosen) {
            for (const uint32_t set : choice.sets) ++coverers[set];
        }
        for (const Choice& choice : chosen) {
            ProposedEntry entry;
            entry.text = choice.text;
            for (const uint32_t set : choice.sets) {
                entry.mails += counts[set];
                if (coverers[set] == 1) entry.only += counts[set];
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
    // part, so those entries let its mail through too.
    void Note(const std::string& address) {
        entryIndex_->Find(address.data(), address.size(),
                          [&](uint32_t index, size_t begin, size_t end) {
                              if (begin == 0 && end == address.size()) return;  // itself
                              others_[index].insert(address);
                          });
    }

    // The mail's headers into headers_; false, said, when its block was too
    // large to read.
    bool ReadHeaders(const std::string& label, const char* data, size_t size) {
        progress_.Mail(bytes_);
        if (!data) {
            Unreadable(label, "header block larger than 64 MiB, not read");
            return false;
        }
        ParseHeaders(data, size, headers_);
        return true;
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
    std::vector<uint32_t> addressSet_;
    std::vector<const std::string*> values_;
    std::vector<std::string> addresses_;
    AddressIds ids_{addresses_};
    // Mails that name the same set of addresses are counted together, so that an
    // archive of millions of mails takes memory by what it names, not its size.
    // Looked up once a mail, so hashed rather than ordered: the proposal does
    // not depend on the order of the sets.
    std::unordered_map<std::vector<uint32_t>, uint64_t, AddressSetHash> addressSets_;
    // The addresses of one mail's headers, kept from mail to mail, and those of
    // the good mails outside addresses_ until the proposal is made.
    FoundAddresses all_;
    std::unordered_set<std::string> seen_;
    // The proposed entries, to find them inside addresses and header values;
    // stamps_ tells which already let the spam mail spamStamp_ through.
    std::unique_ptr<EntryIndex> entryIndex_;
    std::vector<uint64_t> stamps_;
    uint64_t spamStamp_ = 0;
    std::vector<std::unordered_set<std::string>> others_;  // by entry
    // The chosen addresses each "@domain" entry stands for.
    std::unordered_map<std::string, std::unordered_set<std::string>> foldedFrom_;
};

}  // namespace

Proposal Learn(const std::vector<std::string>& good, const std::vector<std::string>& spam,
               bool domains, std::FILE* err, std::FILE* progressTo, ListedCheck listed) {
    Proposal proposal;
    {
        Learner learner(proposal, err, progressTo);
        // Spam, sent and deleted mail would teach the list strangers' addresses.
        learner.Read(good, FolderChoice::kGoodMailOnly,
                     [&](const std::string& label, const char* data, size_t size) {
                         learner.LearnFromGoodMail(label, data, size);
                     });
        learner.Propose(domains, listed);
        learner.Read(spam, FolderChoice::kEvery,
                     [&](const std::string& label, const char* data, size_t size) {
                         learner.TestOnSpamMail(label, data, size);
                     });
        learner.CountLookAlikes();
    }
    return proposal;
}

Proposal LearnFromMails(const std::vector<std::string>& good, bool domains) {
    Proposal proposal;
    {
        Learner learner(proposal, stderr, nullptr);
        for (size_t i = 0; i < good.size(); ++i) {
            learner.LearnFromGoodMail(std::to_string(i + 1), good[i].data(), good[i].size());
        }
        learner.Propose(domains, nullptr);
        learner.CountLookAlikes();
    }
    return proposal;
}
