// quorvel-host learn: the shortest list that lets all of the user's good mail
// through, found from that mail, with what each entry does.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

struct ProposedEntry {
    std::string text;
    uint64_t mails = 0;  // good mails it lets through, as the plug-in matches
    uint64_t only = 0;   // of those, the ones no other entry (proposed or listed) lets through
    uint64_t spam = 0;   // spam mails it lets through
    // Other addresses seen in the mails' headers that hold this entry, which the
    // plug-in lets through too, and the alphabetically first of them.
    uint64_t inside = 0;
    std::string example;
};

struct Unpassable {
    std::string label;
    std::string reason;
};

struct Proposal {
    std::vector<ProposedEntry> entries;  // in the order they are printed
    uint64_t mails = 0;
    uint64_t listedMails = 0;     // good mails the user's list lets through already
    uint64_t withoutHeaders = 0;  // pass whatever the list
    uint64_t unpassable = 0;
    std::vector<Unpassable> shown;  // the first kMaxShown of them
    uint64_t spamMails = 0;
    uint64_t spamWithoutHeaders = 0;
    uint64_t spamPassed = 0;  // spam the whole proposal lets through
    int unreadable = 0;
    int skipped = 0;
};

constexpr size_t kMaxShown = 50;

// Whether the user's list lets mail that names the address through already.
using ListedCheck = bool (*)(const std::string& address);

// Reads the good mail, proposes entries, then counts what each lets through of
// the spam. With domains, three or more proposed addresses at one domain become
// one "@domain" entry. No entry is proposed whose mails the others, or the list
// that listed asks when given, all let through. Unreadable inputs are named on
// err; progressTo, when given, is a terminal.
Proposal Learn(const std::vector<std::string>& good, const std::vector<std::string>& spam,
               bool domains, std::FILE* err, std::FILE* progressTo = nullptr,
               ListedCheck listed = nullptr);

// Learn over mails already in memory, one mail's bytes each, without spam.
Proposal LearnFromMails(const std::vector<std::string>& good, bool domains);
