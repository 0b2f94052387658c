#include "tools/host/commands/command_line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

CommandLine Parse(std::vector<const char*> args) {
    args.insert(args.begin(), "quorvel-host");
    return ParseCommandLine(static_cast<int>(args.size()), args.data());
}

TEST(CommandLine, ReadsCommandsAndOptionsInAnyOrder) {
    const struct {
        std::vector<const char*> args;
        Command command;
        bool explain;
        const char* plugin;
        std::vector<std::string> paths;
    } cases[] = {
        {{"check", "a.eml"}, Command::kCheck, false, "", {"a.eml"}},
        {{"check", "--explain", "a.eml", "dir/"}, Command::kCheck, true, "", {"a.eml", "dir/"}},
        {{"--explain", "check", "a"}, Command::kCheck, true, "", {"a"}},
        {{"--plugin", "C:\\p", "check", "a"}, Command::kCheck, false, "C:\\p", {"a"}},
        {{"check", "--", "--explain", "-"}, Command::kCheck, false, "", {"--explain", "-"}},
        {{"learn", "good/", "old.mbox"}, Command::kLearn, false, "", {"good/", "old.mbox"}},
        {{"lint", "--plugin", "dir"}, Command::kLint, false, "dir", {}},
        {{"settings"}, Command::kSettings, false, "", {}},
        {{"page", "--plugin", "dir"}, Command::kPage, false, "dir", {}},
        {{"--help"}, Command::kHelp, false, "", {}},
        {{"check", "x", "-h"}, Command::kHelp, false, "", {}},
        {{"/?"}, Command::kHelp, false, "", {}},
    };
    for (const auto& c : cases) {
        const CommandLine line = Parse(c.args);
        const std::string shown = c.args.empty() ? "" : c.args[0];
        EXPECT_EQ(line.command, c.command) << shown << ": " << line.error;
        EXPECT_EQ(line.error, "") << shown;
        EXPECT_EQ(line.explain, c.explain) << shown;
        EXPECT_EQ(line.pluginFolder, c.plugin) << shown;
        EXPECT_EQ(line.paths, c.paths) << shown;
    }
}

TEST(CommandLine, ReadsLearnsOptions) {
    const CommandLine line = Parse({"learn", "--spam", "junk/", "--domains", "good/", "--spam",
                                    "spam.mbox", "--format=list", "--write"});
    EXPECT_EQ(line.command, Command::kLearn) << line.error;
    EXPECT_EQ(line.paths, std::vector<std::string>{"good/"});
    EXPECT_EQ(line.spamPaths, (std::vector<std::string>{"junk/", "spam.mbox"}));
    EXPECT_TRUE(line.domains && line.listOnly && line.write);
}

TEST(CommandLine, NamesWhatIsWrong) {
    const struct {
        std::vector<const char*> args;
        const char* error;
    } cases[] = {
        {{}, "no command given"},
        {{"chekc", "a"}, "unknown command chekc"},
        {{"check"}, "check needs at least one mail file or folder"},
        {{"check", "--explian", "a"}, "unknown option --explian"},
        {{"check", "a", "--plugin"}, "--plugin needs a folder"},
        {{"settings", "extra"}, "unexpected argument extra"},
        {{"page", "--explain"}, "--explain goes with check"},
        {{"learn", "--explain", "a"}, "--explain goes with check"},
        {{"learn"}, "learn needs at least one mail file or folder"},
        {{"learn", "a", "--spam"}, "--spam needs a mail file or folder"},
        {{"check", "--write", "a"}, "--domains, --spam, --format=list and --write go with learn"},
        {{"lint", "--domains"}, "--domains, --spam, --format=list and --write go with learn"},
        {{"lint", "x"}, "unexpected argument x"},
        {{"--plugin", "dir"}, "no command given"},
    };
    for (const auto& c : cases) {
        const CommandLine line = Parse(c.args);
        EXPECT_EQ(line.command, Command::kNone) << c.error;
        EXPECT_EQ(line.error, c.error);
    }
}

}  // namespace
