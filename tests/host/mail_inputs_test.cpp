#include "tools/host/mail/mail_inputs.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/temp_folder.h"
#include "tools/host/mail/byte_scans.h"
#include "tools/host/mail/mail_parser.h"
#include "tools/host/mail/mbox_stream.h"
#include "tools/host/mail/progress_line.h"
#include "tools/host/windows/console_text.h"

namespace {

// The path below root, with / between names whatever the platform's separator.
std::string Below(const std::string& root, const std::string& path) {
    EXPECT_EQ(path.compare(0, root.size(), root), 0) << path;
    std::string rest = path.substr(std::min(root.size(), path.size()));
    std::replace(rest.begin(), rest.end(), '\\', '/');
    return rest;
}

class InputsTest : public ::testing::Test {
  protected:
    void Make(const std::string& relative, const std::string& bytes = "To: x\n") {
        const auto path = folder_.path() / relative;
        std::filesystem::create_directories(path.parent_path());
        std::ofstream(path, std::ios::binary) << bytes;
    }
    void MakeFolder(const std::string& relative) {
        std::filesystem::create_directories(folder_.path() / relative);
    }
    std::string Root() const { return folder_.path().string(); }
    void StreamAcrossChunks();

    TempFolder folder_;
};

// What CollectInputs found below the folder, "-" before what it leaves out,
// "=" before a file it marks as one mail.
std::vector<std::string> Found(const std::string& root, const std::string& path,
                               std::vector<InputError>& errors,
                               FolderChoice choice = FolderChoice::kEvery) {
    std::vector<InputFile> files;
    CollectInputs(path, files, errors, choice);
    std::vector<std::string> found;
    for (const InputFile& file : files) {
        const char* mark = file.leftOut != LeftOut::kNone ? "-" : file.oneMail ? "=" : "";
        found.push_back(mark + Below(root, file.path));
        EXPECT_FALSE(file.given) << file.path;
    }
    return found;
}

TEST_F(InputsTest, WalksFoldersInNameOrderSkippingHiddenAndMaildirTmp) {
    Make("b.eml");
    Make("a.eml");
    Make("list/02");
    Make("list/10");
    Make("maildir/cur/1!2,S");
    Make("maildir/new/2");
    Make("maildir/tmp/3");
    Make("maildir/.Sent/cur/4");
    Make("maildir/.Sent/new/5");
    Make("maildir/.Sent/tmp/6");
    Make("maildir/.Archive.2023/cur/7");
    Make("maildir/.Trash/8");  // a dot-folder without cur/ is no Maildir++ folder
    Make("maildir/.uidvalidity");
    Make(".git/config");
    Make("mail/tmp/kept");        // tmp is only skipped beside cur and new
    Make("mail/.Sent/cur/kept");  // and dot-folders only read inside a Maildir
    Make("thunderbird/Inbox", "From a\nTo: x\n");
    Make("thunderbird/Inbox.msf", "// <!-- <mdb:mork:z v=\"1.4\"/> -->\n");
    Make("thunderbird/Inbox.sbd/Work", "From a\nTo: x\n");
    Make("thunderbird/Inbox.sbd/Work.MSF", "");
    MakeFolder("empty");

    std::vector<InputError> errors;
    EXPECT_EQ(
        Found(Root(), Root(), errors),
        (std::vector<std::string>{
            "-/.git", "/a.eml", "/b.eml", "/list/02", "/list/10", "-/mail/.Sent", "/mail/tmp/kept",
            "=/maildir/.Archive.2023/cur/7", "=/maildir/.Sent/cur/4", "=/maildir/.Sent/new/5",
            "-/maildir/.Trash", "-/maildir/.uidvalidity", "=/maildir/cur/1!2,S", "=/maildir/new/2",
            "/thunderbird/Inbox", "-/thunderbird/Inbox.msf", "/thunderbird/Inbox.sbd/Work",
            "-/thunderbird/Inbox.sbd/Work.MSF"}));
    EXPECT_TRUE(errors.empty());
}

// Learn's walk: a Thunderbird profile and a Maildir++ root, each with folders
// of spam, sent and deleted mail, some nested.
TEST_F(InputsTest, AWalkForGoodMailLeavesOutTheFoldersThatHoldNone) {
    for (const char* mbox :
         {"tb/Inbox", "tb/Junk", "tb/Sent", "tb/Sentinel", "tb/Trash.sbd/Old",
          "tb/Archive.sbd/2023", "tb/Archive.sbd/Spam", "tb/Archive.sbd/DRAFTS"}) {
        Make(mbox, "From a\nTo: x\n");
    }
    Make("tb/Junk.msf", "");
    for (const char* mail : {"md/cur/1", "md/new/2", "md/.Junk/cur/3", "md/.Sent/cur/4",
                             "md/.Archive.Junk/cur/5", "md/.Junk.Old/cur/6", "md/.Archive/cur/7",
                             "md/.Sent Items/new/8", "md/.deleted items/cur/9", "md/Spam/cur/10"}) {
        Make(mail);
    }
    MakeFolder("md/.Junk/new");
    std::vector<InputError> errors;
    EXPECT_EQ(Found(Root(), Root(), errors, FolderChoice::kGoodMailOnly),
              (std::vector<std::string>{
                  "=/md/.Archive/cur/7", "-/md/.Archive.Junk", "-/md/.Junk", "-/md/.Junk.Old",
                  "-/md/.Sent", "-/md/.Sent Items", "-/md/.deleted items", "-/md/Spam",
                  "=/md/cur/1", "=/md/new/2", "/tb/Archive.sbd/2023", "-/tb/Archive.sbd/DRAFTS",
                  "-/tb/Archive.sbd/Spam", "/tb/Inbox", "-/tb/Junk", "-/tb/Junk.msf", "-/tb/Sent",
                  "/tb/Sentinel", "-/tb/Trash.sbd"}));
    EXPECT_EQ(Found(Root(), Root(), errors).size(), 19u) << "every folder read for check";
    EXPECT_TRUE(errors.empty());

    std::vector<InputFile> files;
    CollectInputs(folder_.File("tb"), files, errors, FolderChoice::kGoodMailOnly);
    EXPECT_EQ(files[2].note,
              "by its name a folder of spam, deleted, sent or unsent mail, left out; name it to "
              "read it");
    // Named on the command line, such a folder is read, and so is what it holds.
    EXPECT_EQ(Found(Root(), folder_.File("md/.Junk"), errors, FolderChoice::kGoodMailOnly),
              std::vector<std::string>{"=/md/.Junk/cur/3"});
    EXPECT_EQ(Found(Root(), folder_.File("tb/Trash.sbd"), errors, FolderChoice::kGoodMailOnly),
              std::vector<std::string>{"/tb/Trash.sbd/Old"});
    files.clear();
    CollectInputs(folder_.File("tb/Junk"), files, errors, FolderChoice::kGoodMailOnly);
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files[0].leftOut, LeftOut::kNone);
    EXPECT_TRUE(errors.empty());
}

// Links made by the test: Wine reads a Unix link as the folder it leads to.
TEST_F(InputsTest, AFolderIsReadOnceHoweverManyLinksLeadToIt) {
    Make("store/a.eml");
    Make("other/b.eml");
    std::error_code failed;
    std::filesystem::create_directory_symlink(folder_.path() / "store",
                                              folder_.path() / "store" / "loop", failed);
    if (failed) GTEST_SKIP() << "no links here: " << failed.message();
    std::filesystem::create_directory_symlink(folder_.path() / "other",
                                              folder_.path() / "store" / "link1", failed);
    std::filesystem::create_directory_symlink(folder_.path() / "other",
                                              folder_.path() / "store" / "link2", failed);
    std::vector<InputError> errors;
    std::vector<InputFile> files;
    CollectInputs(folder_.File("store"), files, errors);
    std::vector<std::string> found;
    for (const InputFile& file : files) {
        found.push_back(Below(Root(), file.path) + (file.note.empty() ? "" : ": " + file.note));
    }
    EXPECT_EQ(found,
              (std::vector<std::string>{"/store/a.eml", "/store/link1/b.eml",
                                        "/store/link2: a link to a folder already read, left out",
                                        "/store/loop: a link to a folder already read, left out"}));
    EXPECT_TRUE(errors.empty());
}

TEST_F(InputsTest, GivenFilesAndMissingPaths) {
    Make("one.eml");
    std::vector<InputFile> files;
    std::vector<InputError> errors;
    const std::string missing = folder_.File("nothing-here");
    CollectInputs(folder_.File("one.eml"), files, errors);
    CollectInputs(missing, files, errors);
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files[0].path, folder_.File("one.eml"));
    EXPECT_TRUE(files[0].given);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].path, missing);
    EXPECT_EQ(errors[0].reason, "no such file or folder");
}

struct Read {
    ReadOutcome outcome = ReadOutcome::kFailed;
    std::vector<std::string> labels;
    std::vector<std::string> blocks;  // "(too large)" for a block that was not read
    std::string failure;
};

Read ReadAll(const InputFile& file) {
    Read read;
    uint64_t bytes = 0;
    read.outcome = ReadMails(
        file,
        [&](const std::string& label, const char* headers, size_t size) {
            read.labels.push_back(label);
            read.blocks.push_back(headers ? std::string(headers, size) : "(too large)");
        },
        bytes, read.failure);
    return read;
}

Read ReadAll(const std::string& path, bool given) {
    return ReadAll(InputFile(path, given));
}

TEST_F(InputsTest, ReadsHeaderBlocksOrSaysWhyNot) {
    Make("mail.eml", std::string("To: a\r\nCc: b\r\n\r\nFrom body\r\n\0\x1A\xFF end", 35));
    Read read = ReadAll(folder_.File("mail.eml"), false);
    EXPECT_EQ(read.outcome, ReadOutcome::kRead);
    EXPECT_EQ(read.blocks, std::vector<std::string>{"To: a\r\nCc: b\r\n\r\n"});

    Make("empty.eml", "");
    read = ReadAll(folder_.File("empty.eml"), true);
    EXPECT_EQ(read.outcome, ReadOutcome::kNotMail);
    EXPECT_EQ(read.failure, "empty, no mail");
    EXPECT_TRUE(read.blocks.empty());
    read = ReadAll(folder_.File("empty.eml"), false);
    EXPECT_EQ(read.outcome, ReadOutcome::kNotMail);
    EXPECT_EQ(read.failure, "");

    // The first line of the body ends a block that lacks its empty line.
    Make("no-blank.eml", "To: a\nSubject: s\nHello.\nTo: b\n");
    EXPECT_EQ(ReadAll(folder_.File("no-blank.eml"), false).blocks,
              std::vector<std::string>{"To: a\nSubject: s\n"});
    Make("bom.eml", "\xEF\xBB\xBFTo: a\n\nbody\n");
    EXPECT_EQ(ReadAll(folder_.File("bom.eml"), false).blocks,
              std::vector<std::string>{"To: a\n\n"});

    Make("export.mbox",
         "\r\n\xEF\xBB\xBFstray line\n\t\nmore\nFrom a\nTo: x\nbody\nFrom b\nTo: y\n\n");
    read = ReadAll(folder_.File("export.mbox"), false);
    EXPECT_EQ(read.outcome, ReadOutcome::kRead);
    EXPECT_EQ(read.blocks, (std::vector<std::string>{"To: x\n", "To: y\n\n"}));
    EXPECT_EQ(Below(Root(), read.labels[0]), "/export.mbox [1]");
    EXPECT_EQ(read.failure, "2 lines before the first mail left out");

    // A Maildir file is one mail, whose "From " line is its envelope, found in
    // a walk or named.
    Make("maildir/cur/1!2,S", "From env\nTo: a\n\nbody\nFrom b\nTo: x\n\n");
    Make("maildir/new/2", "");
    std::vector<InputFile> files;
    std::vector<InputError> errors;
    CollectInputs(folder_.File("maildir"), files, errors);
    CollectInputs(folder_.File("maildir/cur/1!2,S"), files, errors);
    ASSERT_EQ(files.size(), 3u);
    for (const InputFile& file : {files[0], files[2]}) {
        read = ReadAll(file);
        EXPECT_EQ(read.blocks, std::vector<std::string>{"From env\nTo: a\n\n"}) << file.given;
        EXPECT_EQ(Below(Root(), read.labels[0]), "/maildir/cur/1!2,S");
    }

    read = ReadAll(folder_.File("missing.eml"), true);
    EXPECT_EQ(read.outcome, ReadOutcome::kFailed);
    EXPECT_EQ(read.failure.rfind("cannot open: ", 0), 0u) << read.failure;
}

// Separators, header ends and long lines fall on and around the reader's chunk
// boundaries; each mail's headers must come out as reading the whole file gives them.
TEST_F(InputsTest, StreamsAnMboxAcrossChunksAsAWholeReadSplitsIt) {
    for (const bool wide : {true, false}) {
        UseWideScans(wide);
        StreamAcrossChunks();
    }
    UseWideScans(true);
}

void InputsTest::StreamAcrossChunks() {
    std::string mbox;
    uint32_t seed = 7;
    for (int i = 0; mbox.size() < 3u * 1024 * 1024; ++i) {
        seed = seed * 1103515245u + 12345u;
        mbox += "From sender" + std::to_string(i) + " Mon Jan  1 10:00:00 2024\n";
        mbox += "To: r" + std::to_string(i) + "@example.com\r\n";
        if (i % 3 == 0) mbox += "Received: by mx\n for <x@example.com>\n";
        if (i % 5 == 0) mbox += "X-Long: " + std::string(seed % 300000, 'h') + "\n";
        if (i % 7 != 0) mbox += i % 2 ? "\r\n" : "\n";
        mbox += std::string(seed % 70000, 'b') + "\n>From quoted\nFrom\n";
    }
    Make("big.mbox", mbox);
    const Read read = ReadAll(folder_.File("big.mbox"), false);
    ASSERT_EQ(read.outcome, ReadOutcome::kRead);
    std::vector<std::string> blocks;
    const std::string path = "whole";
    const MailSink sink = [&](const std::string&, const char* headers, size_t size) {
        blocks.emplace_back(headers, size);
    };
    MailSplitter splitter(path, true, sink);
    splitter.Feed(mbox.data(), mbox.size());
    splitter.Finish();
    ASSERT_EQ(read.blocks.size(), blocks.size());
    for (size_t i = 0; i < blocks.size(); ++i) {
        const auto whole = ParseHeaders(blocks[i].data(), blocks[i].size());
        const auto streamed = ParseHeaders(read.blocks[i].data(), read.blocks[i].size());
        ASSERT_EQ(streamed.size(), whole.size()) << "mail " << i + 1;
        for (size_t h = 0; h < whole.size(); ++h) {
            EXPECT_EQ(streamed[h].name, whole[h].name) << "mail " << i + 1;
            EXPECT_EQ(streamed[h].value, whole[h].value) << "mail " << i + 1;
        }
        EXPECT_EQ(Below(Root(), read.labels[i]), "/big.mbox [" + std::to_string(i + 1) + "]");
    }
}

// Headers handed over from the chunk or copied, body lines skipped: a mail
// whose separator or blank line falls at each place around a chunk's end.
TEST_F(InputsTest, MailsAroundAChunksEndAreReadAsAWholeReadReadsThem) {
    constexpr size_t kChunk = 1024 * 1024;
    const std::vector<std::string> expected = {"To: one\n\n", "To: two\r\nCc: t\n\r\n",
                                               "To: three\n"};
    for (size_t before = 0; before < 30; ++before) {
        // "From b" starts before bytes ahead of the chunk's end.
        std::string mbox = "From a\nTo: one\n\n";
        mbox += std::string(kChunk - before - mbox.size() - 1, 'b') + "\n";
        mbox += "From b\nTo: two\r\nCc: t\n\r\nFromage\n>From b\nFrom c\nTo: three\n";
        Make("edge.mbox", mbox);
        for (const bool wide : {true, false}) {
            UseWideScans(wide);
            EXPECT_EQ(ReadAll(folder_.File("edge.mbox"), false).blocks, expected) << before;
        }
    }
    UseWideScans(true);
}

// In an mbox the bodies are read for the next separator; a single mail's body
// is not read at all.
TEST_F(InputsTest, ProgressMovesWithinAMailThatSpansChunks) {
    const std::string body(3 * 1024 * 1024 + 10, 'b');
    Make("long.eml", "To: x\n\n" + body);
    uint64_t read = 0;
    std::string why;
    ReadMails(
        {folder_.File("long.eml"), true}, [](const std::string&, const char*, size_t) {}, read,
        why);
    EXPECT_LT(read, body.size()) << "the body of a single mail was read";
    Make("long.mbox", "From a\nTo: x\n\n" + body);
    const std::string shown = folder_.File("progress.txt");
    std::FILE* terminal = std::fopen(shown.c_str(), "wb");
    {
        ProgressLine progress(terminal, 0);
        uint64_t bytes = 0;
        std::string failure;
        ReadMails(
            {folder_.File("long.mbox"), true},
            [&](const std::string&, const char*, size_t) { progress.Mail(bytes); }, bytes, failure,
            &progress);
        progress.Clear();
        progress.Clear();  // nothing drawn since: nothing to erase
    }
    std::fclose(terminal);
    std::ifstream in(shown, std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::string erase = "\r" + std::string(60, ' ') + "\r";
    EXPECT_EQ(text.rfind("\r0 mails, 1 MB, ", 0), 0u) << text;
    EXPECT_NE(text.find("\r1 mails, 3 MB, "), std::string::npos) << text;
    EXPECT_EQ(text.find(erase), text.size() - erase.size()) << "erased once, at the end";
}

TEST_F(InputsTest, AHeaderBlockTooLargeIsReportedAndTheNextMailStillRead) {
    Make("huge.mbox", "From a\nTo: x\nX-Big: " + std::string(kMaxHeaderBlock, 'z') +
                          "\n>From the body\n\nFrom b\nTo: y\n\n");
    const Read read = ReadAll(folder_.File("huge.mbox"), true);
    EXPECT_EQ(read.blocks, (std::vector<std::string>{"(too large)", "To: y\n\n"}));
}

// Output sent to the null device is redirected, not shown: it gets the
// buffering of a file and never the progress line.
TEST(IsTerminal, TheNullDeviceIsNone) {
#ifdef _WIN32
    std::FILE* device = std::fopen("NUL", "wb");
#else
    std::FILE* device = std::fopen("/dev/null", "wb");
#endif
    ASSERT_NE(device, nullptr);
    EXPECT_FALSE(IsTerminal(device));
    std::fclose(device);
}

TEST(JoinPath, KeepsTheSeparatorThePathUses) {
    const struct {
        const char* path;
        const char* expected;
    } cases[] = {
        {"examples/", "examples/a.eml"},
        {"examples\\", "examples\\a.eml"},
        {"mail/examples", "mail/examples/a.eml"},
        {"C:\\mail\\examples", "C:\\mail\\examples\\a.eml"},
        {"", "a.eml"},
    };
    for (const auto& c : cases) EXPECT_EQ(JoinPath(c.path, "a.eml"), c.expected);
}

}  // namespace
