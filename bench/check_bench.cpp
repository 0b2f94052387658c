// The mail check beside the floor, the plain algorithm, PCRE2 and Hyperscan, on
// the same mails and lists. Every variant's verdicts are compared first; timing
// starts only when all agree.
//
//   quorvel_bench [--table=FILE] [--figures=FILE] [--verify-only] [Google Benchmark flags]
//
// --figures writes CheckMail's medians as "SIZE spam=NS" lines, which the
// shipped module's benchmark divides its own figures by.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "addresses/address_index.h"
#include "addresses/address_list.h"
#include "addresses/list_store.h"
#include "addresses/ascii_case.h"
#include "bench/bench_mails.h"
#include "bench/peers.h"
#include "check/mail_check.h"
#include "tests/check/reference_check.h"

namespace {

constexpr size_t kSizes[] = {1, 10, 100, 1000, 10000};
constexpr size_t kLargest = 10000;

// The table's columns, then the check held to narrower scans (spam mail only).
enum Variant {
    kFloor,
    kCheck,
    kLiteral,
    kPcre,
    kHyperscan,
    kVariants,
    kCheckSse2 = kVariants,
    kCheckBytes
};
const char* const kVariantNames[] = {
    "floor",     "CheckMail",        "literal",          "PCRE2 JIT",
    "Hyperscan", "CheckMail (SSE2)", "CheckMail (bytes)"};

// The check's walk, with a peer answering for each value.
template <typename Contains>
int32_t Walk(const MailRecord* mail, const Contains& contains) {
    int count = 0;
    for (const HeaderField* h = mail->headers; h; h = h->next) {
        if (!h->name || !h->value || !IsAddressHeader(h->name)) continue;
        ++count;
        if (contains(h->value)) return kNotSpam;
    }
    return count ? kSpam : kNotSpam;
}

// The least any check must do: find the address headers and read every byte of
// their values once.
size_t Floor(const MailRecord* mail) {
    size_t bytes = 0;
    for (const HeaderField* h = mail->headers; h; h = h->next) {
        if (h->name && h->value && IsAddressHeader(h->name)) bytes += std::strlen(h->value);
    }
    return bytes;
}

struct Peers {
    explicit Peers(const std::vector<std::string>& addresses)
        : pcre(addresses), hyperscan(addresses) {}
    PcreMatcher pcre;
    HyperscanMatcher hyperscan;
};

const std::vector<std::string>& Addresses() {
    static const std::vector<std::string> addresses = MakeAddresses(kLargest);
    return addresses;
}

std::vector<std::string> FirstAddresses(size_t size) {
    return {Addresses().begin(), Addresses().begin() + static_cast<ptrdiff_t>(size)};
}

Peers& PeersFor(size_t size) {
    static std::map<size_t, std::unique_ptr<Peers>> peers;
    auto& slot = peers[size];
    if (!slot) slot = std::make_unique<Peers>(FirstAddresses(size));
    return *slot;
}

size_t g_listSize = 0;

// Fills the plug-in's list with the first `size` addresses; the first one added
// ends up last, where the plain walk reaches it last.
void UseList(size_t size) {
    if (g_listSize == size) return;
    ReleasePlugin();
    for (size_t i = 0; i < size; ++i) {
        if (!AddAddress(Addresses()[i].c_str())) std::abort();
    }
    g_listSize = size;
}

int32_t Verdict(Variant variant, const MailRecord* mail, size_t size) {
    double result = 0;
    switch (variant) {
        case kCheck:
            return CheckMail(0, mail, &result);
        case kLiteral:
            return ReferenceCheckMail(mail, &result);
        case kPcre: {
            const PcreMatcher& pcre = PeersFor(size).pcre;
            return Walk(mail, [&](const char* v) { return pcre.Contains(v); });
        }
        case kHyperscan: {
            const HyperscanMatcher& hs = PeersFor(size).hyperscan;
            return Walk(mail, [&](const char* v) { return hs.Contains(v); });
        }
        default:
            return 0;
    }
}

// Every variant, and the check with each scan width, against the plain check on
// the timed mails and on random ones. Returns the number of disagreements.
int CrossCheck() {
    int wrong = 0;
    for (size_t size : kSizes) {
        UseList(size);
        std::vector<BenchMail> mails = {SpamMail(), PassMail()};
        for (auto& mail : RandomMails(FirstAddresses(size), 300, static_cast<unsigned>(size)))
            mails.push_back(std::move(mail));
        int spam = 0;
        for (size_t m = 0; m < mails.size(); ++m) {
            const MailRecord* mail = mails[m].record();
            const int32_t expected = Verdict(kLiteral, mail, size);
            spam += expected == kSpam;
            const bool timedWrong =
                (m == 0 && expected != kSpam) || (m == 1 && expected != kNotSpam);
            if (timedWrong) {
                std::printf("  the %s mail is not %s with %zu addresses\n", m ? "pass" : "spam",
                            m ? "passed" : "spam", size);
                ++wrong;
            }
            for (Variant v : {kCheck, kPcre, kHyperscan}) {
                for (ScanWidth width : {ScanWidth::kBytes, ScanWidth::kSse2, ScanWidth::kAvx2}) {
                    if (v != kCheck && width != ScanWidth::kAvx2) continue;
                    LimitScanWidth(width);
                    if (Verdict(v, mail, size) == expected) continue;
                    static const char* const kWidths[] = {"bytewise", "SSE2", "AVX2"};
                    std::printf(
                        "  %s (%s scan) differs from the literal check on mail %zu, %zu "
                        "addresses\n",
                        kVariantNames[v], kWidths[static_cast<int>(width)], m, size);
                    ++wrong;
                }
            }
        }
        std::printf("  %5zu addresses: %zu mails (%d spam) agree%s\n", size, mails.size(), spam,
                    wrong ? " - NOT ALL" : "");
    }
    return wrong;
}

void TimeMail(benchmark::State& state, Variant variant, bool spam, size_t size) {
    const BenchMail mail = spam ? SpamMail() : PassMail();
    if (variant == kPcre || variant == kHyperscan) PeersFor(size);
    if (variant == kCheckSse2 || variant == kCheckBytes) {
        LimitScanWidth(variant == kCheckSse2 ? ScanWidth::kSse2 : ScanWidth::kBytes);
        variant = kCheck;
    }
    if (variant == kCheck || variant == kLiteral) UseList(size);
    for (auto _ : state) {
        if (variant == kFloor) {
            benchmark::DoNotOptimize(Floor(mail.record()));
        } else {
            benchmark::DoNotOptimize(Verdict(variant, mail.record(), size));
        }
    }
    LimitScanWidth(ScanWidth::kAvx2);
}

std::filesystem::path g_listFile;

void TimeLoad(benchmark::State& state) {
    std::snprintf(g_modulePath, kPathSize, "%s", g_listFile.string().c_str());
    for (auto _ : state) {
        state.PauseTiming();
        ReleasePlugin();
        state.ResumeTiming();
        LoadAddressList();
    }
    g_listSize = 0;  // loaded in reverse order: refill before the next mail timing
}

// One add to a list of 10,000, with whatever the check needs brought up to date;
// the added entries are taken out again every 1,000 adds, untimed.
void TimeAdd(benchmark::State& state) {
    UseList(kLargest);
    std::vector<std::string> texts;
    for (int i = 0; i < 1000; ++i) texts.push_back("added." + std::to_string(i) + "@example.net");
    size_t next = 0;
    for (auto _ : state) {
        AddAddress(texts[next].c_str());
        if (++next == texts.size()) {
            state.PauseTiming();
            for (; next > 0; --next) RemoveAddress(g_addressList.head);
            state.ResumeTiming();
        }
    }
    for (; next > 0; --next) RemoveAddress(g_addressList.head);
}

void TimeRebuild(benchmark::State& state) {
    UseList(kLargest);
    ListLock lock;
    for (auto _ : state) RebuildAddressIndex();
}

std::string CaseName(bool spam) {
    return spam ? "spam" : "pass";
}

std::string MailName(Variant v, bool spam, size_t size) {
    return CaseName(spam) + "/" + kVariantNames[v] + "/" + std::to_string(size);
}

class Collector : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.aggregate_name == "median") {
                medians[run.run_name.function_name] = run.GetAdjustedRealTime();
            }
        }
    }
    std::map<std::string, double> medians;  // nanoseconds
};

std::string Time(double ns) {
    char text[32];
    if (ns < 1e3)
        std::snprintf(text, sizeof text, "%.0f ns", ns);
    else if (ns < 1e6)
        std::snprintf(text, sizeof text, "%.2f µs", ns / 1e3);
    else
        std::snprintf(text, sizeof text, "%.2f ms", ns / 1e6);
    return text;
}

std::string Ratio(double r) {
    char text[32];
    std::snprintf(text, sizeof text, r >= 10 ? "%.0f×" : r >= 0.1 ? "%.2f×" : "%.2g×", r);
    return text;
}

std::string Machine() {
    std::ifstream cpuinfo("/proc/cpuinfo");
    std::string line, model = "unknown processor";
    while (std::getline(cpuinfo, line)) {
        if (line.rfind("model name", 0) == 0) {
            model = line.substr(line.find(':') + 2);
            break;
        }
    }
    return model + ", " + std::to_string(std::thread::hardware_concurrency()) + " CPUs";
}

struct PeerSetup {
    double pcreMs, hyperscanMs;
    size_t pcreBytes, hyperscanBytes, pcrePatterns;
};

PeerSetup TimePeerSetup() {
    const std::vector<std::string> addresses = FirstAddresses(kLargest);
    using Clock = std::chrono::steady_clock;
    auto start = Clock::now();
    PcreMatcher pcre(addresses);
    const double pcreMs = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    start = Clock::now();
    HyperscanMatcher hyperscan(addresses);
    const double hsMs = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    return {pcreMs, hsMs, pcre.bytes(), hyperscan.bytes(), pcre.patterns()};
}

std::string Table(const std::map<std::string, double>& t, const PeerSetup& peers,
                  size_t indexBytes) {
    std::ostringstream out;
    const BenchMail spam = SpamMail();
    out << "# Benchmarks of the mail check\n\n"
        << "Made by `make bench` (`bench/check_bench.cpp`), native build, Release. Machine: "
        << Machine() << ".\n\n"
        << "Median wall time per mail over 5 runs. The spam mail has " << spam.headers().size()
        << " headers, 8 of them To, Cc, Envelope-To or Received with " << AddressHeaderBytes(spam)
        << " bytes of values, and names no listed address, so every check reads all of them. "
           "The pass mail is the same with the first listed address in To, after the five "
           "Received headers. Lists hold realistic, distinct addresses; the pass mail's "
           "address was added first, so it stands last in the list.\n\n"
        << "- **floor**: finding the address headers and reading each value once (`strlen`).\n"
        << "- **CheckMail**: the plug-in's check.\n"
        << "- **literal**: the plain algorithm: every address at every position "
           "(`tests/check/reference_check.h`).\n"
        << "- **PCRE2 JIT**: one caseless alternation of the escaped addresses per value ("
        << peers.pcrePatterns << " patterns at 10,000 addresses, split at its size limit).\n"
        << "- **Hyperscan**: the addresses as caseless literals, block mode, one scan per "
           "value.\n\n"
        << "Before timing, every variant gave the literal check's verdict on both mails and "
           "on 300 random mails per list size (listed addresses in other case, near misses, "
           "addresses in headers that do not count, bytes 0x80 and up).\n\n";
    for (bool isSpam : {true, false}) {
        out << "## " << (isSpam ? "Spam" : "Pass") << " mail\n\n"
            << "| addresses | floor | CheckMail | literal | PCRE2 JIT | Hyperscan | CheckMail "
               "÷ floor | CheckMail ÷ best peer |\n"
            << "|---:|---:|---:|---:|---:|---:|---:|---:|\n";
        for (size_t size : kSizes) {
            auto at = [&](Variant v) { return t.at(MailName(v, isSpam, size)); };
            const double best = std::min(at(kPcre), at(kHyperscan));
            out << "| " << size;
            for (int v = 0; v < kVariants; ++v) out << " | " << Time(at(static_cast<Variant>(v)));
            out << " | " << Ratio(at(kCheck) / at(kFloor)) << " | " << Ratio(at(kCheck) / best)
                << " |\n";
        }
        out << "\n";
    }
    out << "## The check's scan, spam mail\n\n"
        << "The check scans each value 32 bytes at a time with AVX2, 16 with SSE2 or a byte at "
           "a time, whichever the processor has (the plug-in also runs on processors without "
           "SSE2). The same check held to the narrower scans:\n\n"
        << "| addresses | AVX2 | SSE2 | bytes | Hyperscan |\n|---:|---:|---:|---:|---:|\n";
    for (size_t size : kSizes) {
        out << "| " << size;
        for (Variant v : {kCheck, kCheckSse2, kCheckBytes, kHyperscan})
            out << " | " << Time(t.at(MailName(v, true, size)));
        out << " |\n";
    }
    out << "\n## Getting ready, 10,000 addresses\n\n"
        << "| what | time | memory |\n|---|---:|---:|\n"
        << "| load the list file (`LoadAddressList`, index kept up as it goes) | "
        << Time(t.at("load list file/10000")) << " | |\n"
        << "| add one address (`AddAddress`, index updated) | " << Time(t.at("add one/10000"))
        << " | |\n"
        << "| build the check's index from scratch | " << Time(t.at("rebuild index/10000")) << " | "
        << indexBytes / 1024 << " KiB (" << indexBytes / kLargest << " bytes/address) |\n"
        << "| PCRE2: compile and JIT | " << Time(peers.pcreMs * 1e6) << " | "
        << peers.pcreBytes / 1024 << " KiB |\n"
        << "| Hyperscan: compile, scratch | " << Time(peers.hyperscanMs * 1e6) << " | "
        << peers.hyperscanBytes / 1024 << " KiB |\n";
    return out.str();
}

// The goals: ahead of Hyperscan at every size on the spam mail, and within 5x,
// 10x and 60x of the floor at 1, 100 and 10,000 addresses.
int ReportGoals(const std::map<std::string, double>& t, size_t indexBytes) {
    int missed = 0;
    auto goal = [&](bool met, const std::string& what) {
        std::printf("  %s %s\n", met ? "met:   " : "MISSED:", what.c_str());
        missed += !met;
    };
    for (size_t size : kSizes) {
        goal(t.at(MailName(kCheck, true, size)) < t.at(MailName(kHyperscan, true, size)),
             "faster than Hyperscan on spam at " + std::to_string(size));
    }
    const std::pair<size_t, double> floors[] = {{1, 5}, {100, 10}, {10000, 60}};
    for (const auto& [size, limit] : floors) {
        goal(t.at(MailName(kCheck, true, size)) <= limit * t.at(MailName(kFloor, true, size)),
             "within " + std::to_string(static_cast<int>(limit)) + "x of the floor at " +
                 std::to_string(size));
    }
    goal(indexBytes <= 300 * kLargest + 65536, "index memory at most 300 bytes/address + 64 KiB");
    goal(t.at("rebuild index/10000") < 20e6, "index for 10,000 built in under 20 ms");
    return missed;
}

}  // namespace

int main(int argc, char** argv) {
    std::string tablePath, figuresPath;
    bool verifyOnly = false;
    std::vector<char*> args;
    for (int i = 0; i < argc; ++i) {
        if (std::strncmp(argv[i], "--table=", 8) == 0)
            tablePath = argv[i] + 8;
        else if (std::strncmp(argv[i], "--figures=", 10) == 0)
            figuresPath = argv[i] + 10;
        else if (std::strcmp(argv[i], "--verify-only") == 0)
            verifyOnly = true;
        else
            args.push_back(argv[i]);
    }
    int count = static_cast<int>(args.size());
    benchmark::Initialize(&count, args.data());

    std::printf("Cross-checking verdicts:\n");
    if (const int wrong = CrossCheck()) {
        std::printf("%d disagreements: no timing.\n", wrong);
        return 1;
    }
    if (verifyOnly) return 0;

    // The list file for the load timing, written by the plug-in itself.
    g_listFile =
        std::filesystem::temp_directory_path() /
        ("quorvel-bench-" +
         std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()) + ".txt");
    std::snprintf(g_modulePath, kPathSize, "%s", g_listFile.string().c_str());
    // Saves follow a load (here of no file yet): a released list would empty a file.
    ReleasePlugin();
    LoadAddressList();
    for (size_t i = 0; i < kLargest; ++i) {
        if (!AddAddress(Addresses()[i].c_str())) std::abort();
    }
    g_listSize = kLargest;
    if (!SaveAddressList()) {
        std::fprintf(stderr, "quorvel_bench: cannot write %s\n", g_listFile.string().c_str());
        return 2;
    }
    const size_t indexBytes = AddressIndexBytes();

    auto settings = [](benchmark::internal::Benchmark* b) {
        b->Repetitions(5)->ReportAggregatesOnly(true)->MinTime(0.05)->Unit(benchmark::kNanosecond);
    };
    for (size_t size : kSizes) {
        for (bool spam : {true, false}) {
            for (int v = 0; v <= (spam ? kCheckBytes : kVariants - 1); ++v) {
                settings(benchmark::RegisterBenchmark(
                    MailName(static_cast<Variant>(v), spam, size).c_str(), TimeMail,
                    static_cast<Variant>(v), spam, size));
            }
        }
    }
    settings(benchmark::RegisterBenchmark("add one/10000", TimeAdd));
    settings(benchmark::RegisterBenchmark("rebuild index/10000", TimeRebuild));
    settings(benchmark::RegisterBenchmark("load list file/10000", TimeLoad));

    Collector collector;
    benchmark::RunSpecifiedBenchmarks(&collector);
    std::filesystem::remove(g_listFile);
    if (collector.medians.size() < std::size(kSizes) * (2 * kVariants + 2) + 3) {
        std::printf("Some benchmarks did not run (a filter?): no table.\n");
        return 0;
    }
    const std::string table = Table(collector.medians, TimePeerSetup(), indexBytes);
    std::printf("\n%s\nGoals:\n", table.c_str());
    // Timings vary with the machine and its load; only wrong verdicts fail the run.
    if (const int missed = ReportGoals(collector.medians, indexBytes)) {
        std::printf("%d goals missed on this run.\n", missed);
    }
    if (!tablePath.empty()) {
        std::ofstream(tablePath) << table;
        std::printf("Table written to %s\n", tablePath.c_str());
    }
    if (!figuresPath.empty()) {
        std::ofstream figures(figuresPath);
        for (size_t size : kSizes) {
            for (bool spam : {true, false}) {
                figures << size << (spam ? " spam=" : " pass=")
                        << collector.medians.at(MailName(kCheck, spam, size)) << "\n";
            }
        }
    }
    return 0;
}
