// The real module against hostile list files, paths at the length limit and a
// host that checks on several threads while it releases the plug-in.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "tests/reliability/bad_lists.h"
#include "tests/reliability/literal_models.h"
#include "tests/support/loaded_plugin.h"
#include "tests/support/window_driver.h"
#include "tests/temp_folder.h"

namespace {

using Strings = std::vector<std::string>;

// The list is seen only through verdicts: each sampled entry, and near misses of
// it, as a To value, against the literal verdict over every entry of the file.
void ProbeEntries(const LoadedPlugin& plugin, const Strings& entries, const char* what) {
    Strings samples;
    if (entries.size() <= 12) {
        samples = entries;
    } else {
        for (size_t i = 0; i < 6; ++i) samples.push_back(entries[i * (entries.size() - 1) / 5]);
    }
    samples.push_back("\x02 listed nowhere \x03");
    for (const std::string& entry : samples) {
        for (const std::string& value :
             {entry, entry.substr(0, entry.size() - 1), "\x02" + entry.substr(1), entry + "\x02"}) {
            const int expected = literal::Verdict(entries, {{true, true, "To", value}});
            EXPECT_EQ(plugin.CheckTo(value.c_str()), expected)
                << what << ": To value of " << value.size() << " bytes";
        }
    }
}

TEST(ModuleLoad, BadListFilesGiveTheEntriesOfTheFileRules) {
    for (const BadList& list : kBadLists) {
        TempFolder folder;
        const std::string bytes = list.make();
        LoadedPlugin plugin(folder.path(), &bytes);
        ProbeEntries(plugin, literal::FileEntries(bytes, SystemHolds()), list.what);
    }
}

TEST(ModuleLoad, AFolderInTheListFilesPlaceLeavesTheListEmpty) {
    TempFolder folder;
    std::filesystem::create_directory(folder.path() / "quorvel.txt");
    LoadedPlugin plugin(folder.path(), nullptr);
    EXPECT_EQ(plugin.CheckTo("anyone@example.com"), 0);
    EXPECT_NE(plugin.Service(RS_GET_OPTIONS_PAGE), nullptr)
        << "the page record is built all the same";
}

// A folder below base whose path is `length` bytes long.
std::filesystem::path FolderOfLength(const std::filesystem::path& base, size_t length) {
    std::filesystem::path folder = base;
    while (folder.string().size() < length) {
        const size_t left = length - folder.string().size();
        size_t part = std::min<size_t>(100, left - 1);
        if (left - 1 - part == 1) --part;  // no room for a separator and a byte after it
        folder /= std::string(part, 'p');
    }
    std::filesystem::create_directories(folder);
    return folder;
}

TEST(ModuleLoad, ModulePathAtTheLengthLimit) {
    const std::string list = "me@example.org\r\n";
    const size_t name = std::string("\\quorvel.dll").size();
    {
        // 259 bytes: the list file's path just fits, and the list is read.
        TempFolder base;
        const auto folder = FolderOfLength(base.path(), MAX_PATH - 1 - name);
        LoadedPlugin plugin(folder, &list);
        ASSERT_EQ(plugin.path().size(), MAX_PATH - 1u);
        EXPECT_EQ(plugin.CheckTo("me@example.org"), 0);
        EXPECT_EQ(plugin.CheckTo("stranger@example.org"), -1) << "the list was not read";
    }
    {
        // A host may rename the module: here its own path fits, but the list
        // file's would not, so no file is read and the module still works.
        TempFolder base;
        const auto folder = FolderOfLength(base.path(), MAX_PATH - 1 - name + 2);
        LoadedPlugin plugin(folder, &list, BuildFolder() / "quorvel.dll", "q.dll");
        ASSERT_NE(plugin.module(), nullptr);
        EXPECT_EQ(plugin.CheckTo("stranger@example.org"), 0);
        const void* page = plugin.Service(RS_GET_OPTIONS_PAGE);
        ASSERT_NE(page, nullptr);
        EXPECT_EQ(PointerAt(page, kOptionsPageIcon), nullptr) << "no icon from a cut path";
    }
}

// The list file is not the module's alone: another program adds to it while the
// host runs (quorvel-host learn --write, a second host, an editor). The page's
// save keeps those entries, and from then on they pass mail; what the user
// deleted on the page stays deleted.
TEST(ModuleListFile, AnotherWritersEntriesSurviveThePagesSave) {
    TempFolder folder;
    const std::string list = "mine@example.org\r\nold@example.org\r\n";
    LoadedPlugin plugin(folder.path(), &list);
    PageDriver page(plugin);
    ASSERT_TRUE(page.Delete("old@example.org", true));
    folder.Write("quorvel.txt", list + "theirs@example.net\r\n");
    page.Add("added@example.com");
    ASSERT_EQ(page.Save(), 1);
    EXPECT_EQ(folder.Read("quorvel.txt"),
              "theirs@example.net\r\nadded@example.com\r\nmine@example.org\r\n");
    EXPECT_EQ(plugin.CheckTo("theirs@example.net"), 0)
        << "the other program's entry is not in force";
    EXPECT_EQ(plugin.CheckTo("old@example.org"), -1) << "the deleted entry came back";
    EXPECT_GE(FindRow(page.page(), "theirs@example.net"), 0) << "the page does not show it";
}

// A second host's save replaces the file in two steps; a module loaded in
// between finds no file for a while, with the save's temporary file beside it.
TEST(ModuleListFile, AListThatAppearsDuringTheLoadIsRead) {
    TempFolder folder;
    folder.Write("qvl1A2B.tmp", "me@example.org\r\n");
    HANDLE started = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    std::thread saver([&] {
        SetEvent(started);
        Sleep(300);
        EXPECT_TRUE(
            MoveFileExA(folder.File("qvl1A2B.tmp").c_str(), folder.File("quorvel.txt").c_str(), 0));
    });
    WaitForSingleObject(started, INFINITE);
    LoadedPlugin plugin(folder.path(), nullptr);
    saver.join();
    CloseHandle(started);
    EXPECT_EQ(plugin.CheckTo("me@example.org"), 0);
    EXPECT_EQ(plugin.CheckTo("stranger@example.org"), -1) << "the list was taken as missing";
}

std::string Utf16Bytes(bool little, const std::wstring& text) {
    std::string bytes = little ? "\xFF\xFE" : "\xFE\xFF";
    for (const wchar_t unit : text) {
        const char low = static_cast<char>(unit & 0xFF), high = static_cast<char>(unit >> 8);
        bytes += little ? low : high;
        bytes += little ? high : low;
    }
    return bytes;
}

// The text in the system's code page, as the host and the page hold it.
std::string SystemText(const wchar_t* text) {
    char bytes[128] = "";
    WideCharToMultiByte(CP_ACP, 0, text, -1, bytes, sizeof bytes, nullptr, nullptr);
    return bytes;
}

// Lists as Notepad and PowerShell save them: with a UTF-8 mark, or in UTF-16
// either way round. Their addresses pass; a list is saved in its own form, what
// the page added converted to it.
TEST(ModuleListFile, ListsInEditorsEncodingsPassTheirAddresses) {
    const std::wstring lines = L"j\u00fcrgen@example.de\r\nann@example.com\r\n";
    const std::wstring saved = L"zo\u00eb@x.org\r\nann@example.com\r\nj\u00fcrgen@example.de\r\n";
    const std::string jurgen = SystemText(L"j\u00fcrgen@example.de");
    const struct {
        const char* what;
        std::string bytes;
        std::string saved;
    } cases[] = {
        {"UTF-8 mark",
         "\xEF\xBB\xBF"
         "j\xC3\xBCrgen@example.de\r\nann@example.com\r\n",
         "\xEF\xBB\xBF"
         "zo\xC3\xAB@x.org\r\nann@example.com\r\nj\xC3\xBCrgen@example.de\r\n"},
        {"UTF-16 LE", Utf16Bytes(true, lines), Utf16Bytes(true, saved)},
        {"UTF-16 BE", Utf16Bytes(false, lines), Utf16Bytes(false, saved)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TempFolder folder;
        LoadedPlugin plugin(folder.path(), &c.bytes);
        EXPECT_EQ(plugin.CheckTo("Ann <ann@example.com>"), 0);
        EXPECT_EQ(plugin.CheckTo(jurgen.c_str()), 0) << jurgen;
        EXPECT_EQ(plugin.CheckTo("stranger@example.com"), -1);
        PageDriver page(plugin);
        EXPECT_GE(FindRow(page.page(), jurgen.c_str()), 0) << "the page shows it garbled";
        page.Add(SystemText(L"zo\u00eb@x.org"));
        ASSERT_EQ(page.Save(), 1);
        EXPECT_TRUE(folder.Read("quorvel.txt") == c.saved) << "saved in another form";
        EXPECT_EQ(folder.Listing(), "quorvel.dll quorvel.txt");
    }
}

// What the load does not take is kept in a backup by the first save that drops
// it; a backup already there is left as it was. A line that does not convert to
// the code page is no entry: as '?' it would match every encoded-word name, and
// with a look-alike letter (best fit) someone else's address.
TEST(ModuleListFile, BytesTheLoadDoesNotTakeSurviveASaveInABackup) {
    const struct {
        const char* what;
        std::string bytes;
        const char* passesNot;  // a To value that a wrong entry would let through
        std::string saved;
    } cases[] = {
        {"after a Ctrl-Z",
         "me@example.org\r\n\x1a"
         "kept@example.org\r\n",
         "kept@example.org", "new@example.com\r\nme@example.org\r\n"},
        {"a star in UTF-16", Utf16Bytes(true, L"\u2605\r\nme@example.org\r\n"),
         "=?UTF-8?B?w7Zk?= <x@y.z>", Utf16Bytes(true, L"new@example.com\r\nme@example.org\r\n")},
        {"a letter with a look-alike in UTF-16",
         Utf16Bytes(false, L"\u0142ukasz@example.pl\r\nme@example.org"), "lukasz@example.pl",
         Utf16Bytes(false, L"new@example.com\r\nme@example.org\r\n")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TempFolder folder;
        folder.Write("quorvel.bak", "an older backup");
        LoadedPlugin plugin(folder.path(), &c.bytes);
        EXPECT_EQ(plugin.CheckTo(c.passesNot), -1) << "an entry the file does not hold";
        EXPECT_EQ(plugin.CheckTo("me@example.org"), 0);
        PageDriver page(plugin);
        page.Add("new@example.com");
        ASSERT_EQ(page.Save(), 1);
        EXPECT_TRUE(folder.Read("quorvel.txt") == c.saved);
        EXPECT_EQ(folder.Read("quorvel.bak"), "an older backup");
        EXPECT_TRUE(folder.Read("quorvel.1.bak") == c.bytes)
            << "the file before the save is not kept";
        ASSERT_EQ(page.Save(), 1);
        EXPECT_EQ(folder.Listing(), "quorvel.1.bak quorvel.bak quorvel.dll quorvel.txt");
    }
}

// Committed private memory of the process, the heap's included.
size_t CommittedPrivateBytes() {
    size_t total = 0;
    MEMORY_BASIC_INFORMATION region;
    for (const char* at = nullptr;
         VirtualQuery(at, &region, sizeof region) == sizeof region &&
         reinterpret_cast<uintptr_t>(at) + region.RegionSize > reinterpret_cast<uintptr_t>(at);
         at = static_cast<const char*>(region.BaseAddress) + region.RegionSize) {
        if (region.State == MEM_COMMIT && region.Type == MEM_PRIVATE) total += region.RegionSize;
    }
    return total;
}

// A host that unloads the module and loads it again, its process going on:
// each unload frees the list, its index, the lock and the page record, so the
// process does not grow with the number of loads.
TEST(ModuleLoad, UnloadingFreesWhatTheModuleHeld) {
    TempFolder folder;
    std::string list;
    for (int i = 0; i < 20000; ++i) list += "person" + std::to_string(i) + "@example.com\r\n";
    auto cycle = [&] {
        {
            LoadedPlugin plugin(folder.path(), &list);
            EXPECT_NE(plugin.Service(RS_GET_OPTIONS_PAGE), nullptr);
            EXPECT_EQ(plugin.CheckTo("person19999@example.com"), 0);
        }
        std::filesystem::remove(folder.path() / "quorvel.dll");
        std::filesystem::remove(folder.path() / "quorvel.txt");
    };
    cycle();
    const size_t before = CommittedPrivateBytes();
    cycle();
    const size_t oneLoad = CommittedPrivateBytes() - std::min(before, CommittedPrivateBytes());
    constexpr int kCycles = 20;
    for (int n = 0; n < kCycles; ++n) cycle();
    const size_t grown = CommittedPrivateBytes() - std::min(before, CommittedPrivateBytes());
    const size_t listBytes = list.size();
    std::printf("module unload: %d loads of a %zu-byte list, process grew by %zu bytes\n",
                kCycles + 1, listBytes, grown);
    // A list this size takes over a megabyte a load when nothing is freed.
    EXPECT_LT(grown, listBytes * 2)
        << "kept after " << kCycles + 1 << " unloads (first " << oneLoad << ")";
}

// Checks on three threads while two others release the plug-in: no crash, and
// every verdict one the list gave at that time.
TEST(ModuleStress, ChecksWhileTheHostReleases) {
    TempFolder folder;
    const std::string list = "me@example.org\r\nfriend@example.com\r\n";
    LoadedPlugin plugin(folder.path(), &list);
    Mail mine({{"Subject", "hi"}});
    mine.Add("To", "Me <me@example.org>");
    Mail stranger({{"To", "someone@example.net"}});
    stranger.Add("Cc", "other@example.net");

    constexpr int kCheckers = 3, kChecks = 50000;
    std::atomic<int> checksDone{0};
    std::atomic<bool> released{false};
    std::atomic<int> wrong{0}, spamSeen{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kCheckers; ++t) {
        threads.emplace_back([&] {
            for (int n = 0; n < kChecks; ++n) {
                const bool afterRelease = released.load();
                if (plugin.Check(mine) != 0) ++wrong;
                const int32_t verdict = plugin.Check(stranger);
                if (verdict == -1) ++spamSeen;
                if ((afterRelease && verdict != 0) || (verdict != 0 && verdict != -1)) ++wrong;
                ++checksDone;
            }
        });
    }
    for (int r = 0; r < 2; ++r) {
        threads.emplace_back([&] {
            while (checksDone.load() < 2000) std::this_thread::yield();
            plugin.Release();
            released = true;
        });
    }
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(wrong.load(), 0);
    EXPECT_GT(spamSeen.load(), 0) << "no check ran before the release";
    EXPECT_EQ(plugin.Check(stranger), 0) << "released: everything passes";
    std::printf("module stress: %d checks on %d threads, 2 releases racing them\n",
                2 * kCheckers * kChecks, kCheckers);
}

// Checks on three threads while the user edits the list on the settings page,
// the page saves, and the host releases the plug-in. The list passes through
// numbered states, each written down before the edit that enters it; a check
// that begins while state b is the newest and ends while e is may see any
// state from b - 1 to e, and must give the verdict of one of them.
TEST(ModuleStress, ChecksWhileThePageEdits) {
    const char* const kAddresses[] = {"ann@example.com", "bob@example.org", "carl@ex.io",
                                      "dora@example.net"};
    constexpr int kCount = 4, kOperations = 160, kCheckers = 3;
    using Mask = unsigned;
    // Mail m is addressed to kAddresses[m] only; the last mail to nobody listed.
    std::vector<std::unique_ptr<Mail>> mails;
    for (const char* address : kAddresses) {
        mails.push_back(std::make_unique<Mail>());
        mails.back()->Add("To", address);
    }
    mails.push_back(std::make_unique<Mail>());
    mails.back()->Add("Cc", "stranger@example.test");
    auto expected = [&](size_t mail, Mask list) {
        const bool listed = mail < kCount && (list >> mail) & 1;
        return list != 0 && !listed ? -1 : 0;
    };

    TempFolder folder;
    const std::string file = std::string(kAddresses[0]) + "\r\n" + kAddresses[1] + "\r\n";
    LoadedPlugin plugin(folder.path(), &file);
    PageDriver page(plugin);
    std::vector<Mask> states(2 * kOperations + 1);
    states[0] = 0b0011;
    std::atomic<unsigned> newest{0};
    std::atomic<bool> done{false};
    std::atomic<unsigned long> checks{0}, wrong{0};

    std::vector<std::thread> checkers;
    for (int t = 0; t < kCheckers; ++t) {
        checkers.emplace_back([&, t] {
            for (unsigned n = 0; !done; ++n) {
                const unsigned m = (n + static_cast<unsigned>(t)) % mails.size();
                const unsigned before = newest.load();
                const int verdict = plugin.Check(*mails[m]);
                const unsigned after = newest.load();
                bool possible = false;
                for (unsigned s = before ? before - 1 : 0; s <= after && !possible; ++s) {
                    possible = expected(m, states[s]) == verdict;
                }
                if (!possible && ++wrong <= 5) {
                    ADD_FAILURE() << "mail " << m << " got " << verdict << " between states "
                                  << before << " and " << after;
                }
                ++checks;
            }
        });
    }
    uint32_t random = 2024;
    unsigned count = 0;
    // What the file holds, and what this process last knew it to hold.
    Mask onDisk = states[0], known = states[0];
    for (int op = 0; op < kOperations; ++op) {
        random = random * 1664525u + 1013904223u;
        const unsigned a = (random >> 8) % kCount;
        const unsigned kind = (random >> 16) % 8;
        if (kind == 0) {
            // The file's entries the process never knew (all, after a release) join.
            const Mask merged = states[count] | (onDisk & ~known);
            if (merged != states[count]) {
                states[++count] = merged;
                newest = count;
            }
            if (page.Save()) onDisk = known = merged;
            continue;
        }
        const Mask list = states[count];
        const Mask next = kind == 1 ? 0 : list ^ (1u << a);
        states[++count] = next;
        newest = count;
        if (kind == 1) {
            known = 0;
            plugin.Release();
            SendMessageA(page.page(), WM_SHOWWINDOW, TRUE, 0);  // the rows follow the list
        } else if ((list >> a) & 1) {
            ASSERT_TRUE(page.Delete(kAddresses[a], true)) << kAddresses[a];
        } else {
            page.Add(kAddresses[a]);
        }
    }
    done = true;
    for (std::thread& checker : checkers) checker.join();

    EXPECT_EQ(wrong.load(), 0u);
    // Saves after a release take the file's entries in again; none fails here.
    for (const std::string& message : page.messages) {
        EXPECT_TRUE(message.find("Do you want to delete") == 0 ||
                    message.find("The address list could not be saved.") == 0)
            << "unexpected message: " << message;
    }
    std::printf("module stress: %lu checks on %d threads while the page made %u edits\n",
                checks.load(), kCheckers, count);
}

}  // namespace
