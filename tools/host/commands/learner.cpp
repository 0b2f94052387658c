#include "tools/host/commands/learner.h"

#include <algorithm>
#include <map>
#include <new>
#include <queue>
#include <unordered_map>
#include <unordered_set>

#include "addresses/ascii_case.h"
#include "check/mail_check.h"
#include "tools/host/commands/address_ids.h"
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
        std::vector<std::vector<uint32_t>> setsOf(addresses_.size());
        for (const auto& set : addressSets_) {
            for (const uint32_t id : set.first) setsOf[id].push_back(uint32_t(counts.size()));
            counts.push_back(set.second);
        }
        // An address counts only for the mails that name it whole: counting
        // those that name a longer address holding it would favour parts of
        // addresses, which let other people's mail through too.
        const std::vector<std::vector<uint32_t>>& covers = setsOf;
        std::vector<Choice> chosen = Greedy(covers, counts);
        Prune(chosen, counts.size());
        if (domains) Fold(chosen, setsOf);
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
    void CountLookAlikes() {
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

    // Drops, latest first, each entry whose mails others all let through.
    static void Prune(std::vector<Choice>& chosen, size_t setCount) {
        std::vector<uint32_t> coverers(setCount, 0);
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
        std::vector<Choice> folded;
        for (const auto& domain : perDomain) {
            if (domain.second < 3) continue;
            Choice entry{domain.first, {}};
            for (uint32_t id = 0; id < addresses_.size(); ++id) {
                const std::string& address = addresses_[id];
                if (address.compare(address.find('@'), std::string::npos, domain.first) != 0) {
                    continue;
                }
                entry.sets.insert(entry.sets.end(), setsOf[id].begin(), setsOf[id].end());
            }
            std::sort(entry.sets.begin(), entry.sets.end());
            entry.sets.erase(std::unique(entry.sets.begin(), entry.sets.end()), entry.sets.end());
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
    struct LocalPart {
        size_t index;        // in proposal_.entries
        std::string domain;  // from the "@" on
    };
    std::unordered_map<std::string, std::vector<LocalPart>> byLocal_;  // entries by local part
    std::vector<std::unordered_set<std::string>> others_;              // by entry
    std::string local_;                                                // Note's own
};

}  // namespace

Proposal Learn(const std::vector<std::string>& good, const std::vector<std::string>& spam,
               bool domains, std::FILE* err, std::FILE* progressTo) {
    Proposal proposal;
    {
        Learner learner(proposal, err, progressTo);
        // Spam, sent and deleted mail would teach the list strangers' addresses.
        learner.Read(good, FolderChoice::kGoodMailOnly,
                     [&](const std::string& label, const char* data, size_t size) {
                         learner.LearnFromGoodMail(label, data, size);
                     });
        learner.Propose(domains);
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
        learner.Propose(domains);
        learner.CountLookAlikes();
    }
    return proposal;
}
