// Checks on several threads while another thread adds, removes, saves, reloads
// and releases. Every verdict must be one that the list gave at some moment
// during the check: the list passes through numbered states, each check notes
// the state numbers before and after it, and afterwards each verdict is held to
// the states in between. Run under ThreadSanitizer natively and on the Windows
// lock under Wine.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "addresses/address_list.h"
#include "addresses/list_store.h"
#include "check/mail_check.h"
#include "tests/addresses/list_fixture.h"
#include "tests/reliability/literal_models.h"
#include "tests/support/mail.h"

namespace {

constexpr int kCheckers = 3;
constexpr int kMutations = 5000;

const char* const kUniverse[] = {"ann@example.com", "bob@example.org",   "EVE@EXAMPLE.NET",
                                 "carl@ex.io",      "dora@example.com",  "example.org",
                                 "x@y.z",           "jimbob@example.org"};
constexpr int kAddresses = sizeof kUniverse / sizeof *kUniverse;

using Mask = uint32_t;  // which addresses of kUniverse are in the list

struct StressMail {
    std::vector<literal::Header> headers;
    Mask mentions = 0;       // addresses an address header contains
    bool addressed = false;  // has a To, Cc, Envelope-To or Received header
    Mail chain;
};

// The verdict a list in state `mask` gives the mail.
int32_t ModelVerdict(const StressMail& mail, Mask mask) {
    return mask != 0 && mail.addressed && (mask & mail.mentions) == 0 ? kSpam : kNotSpam;
}

std::vector<StressMail> MakeMails() {
    const std::vector<std::vector<literal::Header>> headerSets = {
        {{true, true, "To", "Ann <ann@example.com>"}},
        {{true, true, "To", "someone@else.test"}, {true, true, "Cc", "Bob <BOB@example.org>"}},
        {{true, true, "Received", "from a by b for <eve@example.net>"}},
        {{true, true, "Subject", "ann@example.com"}},
        {{true, true, "To", "nobody@nowhere.test"}},
        {{true, true, "Envelope-To", "x@y.zz, jimbob@example.org"}},
        {{true, true, "cc", "carl@ex.io.example.org"}, {true, true, "From", "dora@example.com"}},
        {},
    };
    std::vector<StressMail> mails(headerSets.size());
    for (size_t m = 0; m < mails.size(); ++m) {
        StressMail& mail = mails[m];
        mail.headers = headerSets[m];
        for (int a = 0; a < kAddresses; ++a) {
            if (literal::Verdict({kUniverse[a]}, mail.headers) == 0) mail.mentions |= Mask{1} << a;
        }
        mail.addressed = literal::Verdict({"\x01 never \x01"}, mail.headers) == -1;
        // Mentions count only from address headers: a mail without them passes anyway.
        if (!mail.addressed) mail.mentions = 0;
        for (const literal::Header& header : mail.headers) {
            mail.chain.Add(header.name.c_str(), header.value.c_str());
        }
    }
    return mails;
}

struct Observation {
    uint32_t mail;
    int32_t verdict;
    uint32_t before;  // state number read before the check
    uint32_t after;   // and after it
    bool resultRight;
};

class StressTest : public ListTest {};

TEST_F(StressTest, ChecksSeeOnlyStatesTheListWasIn) {
    const std::vector<StressMail> mails = MakeMails();
    std::vector<Mask> states = {0};  // state n's list; written by the mutator only
    states.reserve(4 * kMutations + 2);
    std::atomic<uint32_t> published{0};
    std::atomic<bool> done{false};

    std::thread mutator([&] {
        uint32_t random = 12345;
        // known: what this process last read from or wrote to the file.
        Mask list = 0, file = 0, known = 0;
        auto enter = [&](Mask next) {
            list = next;
            states.push_back(list);
            published.store(static_cast<uint32_t>(states.size() - 1), std::memory_order_release);
        };
        for (int i = 0; i < kMutations; ++i) {
            random = random * 1664525u + 1013904223u;
            const int address = static_cast<int>((random >> 8) % kAddresses);
            const Mask bit = Mask{1} << address;
            switch ((random >> 20) % 16) {
                case 0: {  // save: the file's entries it never knew join first
                    const Mask merged = list | (file & ~known);
                    const bool saved = SaveAddressList();
                    if (merged != list) enter(merged);
                    if (saved) file = known = merged;
                    break;
                }
                case 1:  // reload: release, then load what was saved
                    ReleasePlugin();
                    enter(0);
                    LoadAddressList();
                    enter(file);
                    known = file;
                    break;
                case 2:  // release
                    ReleasePlugin();
                    enter(0);
                    known = 0;
                    break;
                default:
                    if (list & bit) {
                        ListLock lock;
                        RemoveAddress(FindAddress(kUniverse[address]));
                        enter(list & ~bit);
                    } else if (AddAddress(kUniverse[address])) {
                        enter(list | bit);
                    }
            }
        }
        done = true;
    });

    std::vector<std::vector<Observation>> seen(kCheckers);
    std::vector<std::thread> checkers;
    for (int t = 0; t < kCheckers; ++t) {
        checkers.emplace_back([&, t] {
            // Bounded even if the mutator stalls.
            for (uint32_t n = 0; n < 2000000 && (!done || n < 1000); ++n) {
                const uint32_t m = (n * 7 + static_cast<uint32_t>(t)) % mails.size();
                double result = 0.5;
                const uint32_t before = published.load(std::memory_order_acquire);
                const int32_t verdict = CheckMail(0, mails[m].chain.record(), &result);
                const uint32_t after = published.load(std::memory_order_acquire);
                const bool resultRight = result == (verdict == kSpam ? 1.0 : 0.5);
                seen[t].push_back({m, verdict, before, after, resultRight});
            }
        });
    }
    mutator.join();
    for (std::thread& checker : checkers) checker.join();

    size_t checks = 0, wrong = 0;
    for (const auto& observations : seen) {
        for (const Observation& o : observations) {
            ++checks;
            // The list may already be in the next state while its number is published.
            const uint32_t last = o.after + 1 < states.size() ? o.after + 1 : o.after;
            bool possible = false;
            for (uint32_t s = o.before; s <= last && !possible; ++s) {
                possible = ModelVerdict(mails[o.mail], states[s]) == o.verdict;
            }
            if ((!possible || !o.resultRight) && ++wrong <= 5) {
                ADD_FAILURE() << "mail " << o.mail << " got " << o.verdict << " between states "
                              << o.before << " and " << o.after
                              << (o.resultRight ? "" : ", result value wrong");
            }
        }
    }
    EXPECT_EQ(wrong, 0u);
    std::printf("stress: %zu checks on %d threads across %zu list states (%d mutations)\n", checks,
                kCheckers, states.size(), kMutations);
}

}  // namespace
