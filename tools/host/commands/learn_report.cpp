#include "tools/host/commands/learn_report.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "addresses/address_list.h"
#include "addresses/file_io.h"
#include "addresses/list_store.h"
#include "check/mail_check.h"
#include "tools/host/commands/list_health.h"
#include "tools/host/commands/save_drops.h"
#include "tools/host/mail/mail_inputs.h"

namespace {

// For printf's %llu, whatever uint64_t is on the platform.
unsigned long long AsULongLong(uint64_t n) {
    return static_cast<unsigned long long>(n);
}

const char* Plural(uint64_t n) {
    return n == 1 ? "" : "s";
}

}  // namespace

bool LoadListFile(const std::string& listPath) {
    // The plug-in names files in the system's code page.
    const std::string modulePath = CodePagePath(listPath);
    if (modulePath.empty() || modulePath.size() >= kPathSize) return false;
    std::memcpy(g_modulePath, modulePath.c_str(), modulePath.size() + 1);
    LoadAddressList();
    return true;
}

bool ListLetsThrough(const std::string& address) {
    {
        ListLock lock;
        if (!g_addressList.head) return false;  // an empty list passes every mail, not this one
    }
    HeaderField to{"To", address.c_str(), 0, nullptr};
    const MailRecord mail{&to};
    double result = 0;
    return CheckMail(0, &mail, &result) == kNotSpam;
}

void PrintProposal(const Proposal& proposal, bool withSpam, bool listOnly, std::FILE* out) {
    if (listOnly) {
        for (const ProposedEntry& entry : proposal.entries) {
            std::fprintf(out, "%s\n", entry.text.c_str());
        }
        return;
    }
    const bool listed = proposal.listedMails > 0;
    if (proposal.mails == 0) {
        std::fprintf(out, "No mail was read.\n");
    } else {
        std::fprintf(out, "%llu good mail%s read.\n", AsULongLong(proposal.mails),
                     Plural(proposal.mails));
    }
    if (listed) {
        std::fprintf(out, "Your list lets %llu of them through already.\n",
                     AsULongLong(proposal.listedMails));
    }
    if (proposal.entries.empty()) {
        if (listed) {
            std::fprintf(out,
                         "No entry to propose: your list lets through every one of them that an "
                         "entry can.\n");
        } else if (proposal.mails > 0) {
            std::fprintf(out, "No entry to propose: none of them names an address.\n");
        }
    } else {
        size_t width = 5;
        for (const ProposedEntry& entry : proposal.entries)
            width = std::max(width, entry.text.size() + (entry.inside > 0));
        std::fprintf(out, "Proposed list, %zu entr%s%s:\n  %-*s  %11s  %12s%s\n",
                     proposal.entries.size(), proposal.entries.size() == 1 ? "y" : "ies",
                     listed ? " beside those of your list" : "", static_cast<int>(width), "entry",
                     "lets through", "only through", withSpam ? "  spam" : "");
        for (const ProposedEntry& entry : proposal.entries) {
            const std::string shown = entry.text + (entry.inside > 0 ? "*" : "");
            std::fprintf(out, "  %-*s  %12llu  %12llu", static_cast<int>(width), shown.c_str(),
                         AsULongLong(entry.mails), AsULongLong(entry.only));
            if (withSpam) {
                std::fprintf(out, "  %4llu%s", AsULongLong(entry.spam),
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
                         entry.text.c_str(), AsULongLong(entry.inside),
                         entry.inside == 1 ? "" : "es", entry.example.c_str());
        }
    }
    if (proposal.withoutHeaders > 0) {
        const bool one = proposal.withoutHeaders == 1;
        std::fprintf(out,
                     "%llu mail%s without a To, Cc, Envelope-To or Received header: the plug-in "
                     "passes %s whatever the list.\n",
                     AsULongLong(proposal.withoutHeaders), one ? "" : "s", one ? "it" : "them");
    }
    if (proposal.unpassable > 0) {
        std::fprintf(out, "%llu mail%s that no address entry can let through:\n",
                     AsULongLong(proposal.unpassable), Plural(proposal.unpassable));
        for (const Unpassable& mail : proposal.shown) {
            std::fprintf(out, "  %s\n      %s\n", mail.label.c_str(), mail.reason.c_str());
        }
        if (proposal.unpassable > proposal.shown.size()) {
            std::fprintf(out, "  and %llu more\n",
                         AsULongLong(proposal.unpassable - proposal.shown.size()));
        }
    }
    if (withSpam) {
        std::fprintf(out, "Of %llu spam mail%s, the proposed list lets %llu through",
                     AsULongLong(proposal.spamMails), Plural(proposal.spamMails),
                     AsULongLong(proposal.spamPassed));
        if (proposal.spamWithoutHeaders > 0) {
            std::fprintf(
                out,
                "; %llu more pass%s whatever the list (no To, Cc, Envelope-To or Received header)",
                AsULongLong(proposal.spamWithoutHeaders),
                proposal.spamWithoutHeaders == 1 ? "es" : "");
        }
        std::fprintf(out, ".\n");
    }
}

bool WriteProposal(const Proposal& proposal, const std::string& listPath, std::FILE* out) {
    if (!LoadListFile(listPath)) {
        std::fprintf(out,
                     "The path %s is too long for the plug-in, or holds letters that the "
                     "system's code page has no form for; nothing was added.\n",
                     listPath.c_str());
        return false;
    }
    // A list the load read only in part may still be saved: the save reads the
    // file again, whole or not at all, and keeps every entry it finds there.
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
    // What the save will not give back of the file, read before it writes.
    const std::vector<std::string> drops = WhatASaveDropsOf(listPath);
    if (!SaveAddressList()) {
        if (AddressListLoadIncomplete()) {
            std::fprintf(out,
                         "Could not read all of %s (another program may hold it, or it can't be "
                         "read), so nothing was added.\n",
                         listPath.c_str());
        } else {
            std::fprintf(out,
                         "Could not write %s (it may be read-only, or its disk full), so nothing "
                         "was added.\n",
                         listPath.c_str());
        }
        return false;
    }
    std::fprintf(out, "Added %zu entr%s to %s:\n", added.size(), added.size() == 1 ? "y" : "ies",
                 listPath.c_str());
    for (const std::string& text : added) std::fprintf(out, "  %s\n", text.c_str());
    if (!drops.empty()) {
        char backup[kPathSize * 2];
        if (NewestBackup(g_modulePath, backup, sizeof backup)) {
            // Shown as the list's own path is, beside it.
            const char* name = backup + std::strlen(backup);
            while (name > backup && name[-1] != '\\' && name[-1] != '/') --name;
            const std::string shown = listPath.substr(0, listPath.find_last_of("\\/") + 1) + name;
            std::fprintf(out,
                         "The save left out what the plug-in does not read of the file; %s keeps "
                         "it as it was:\n",
                         shown.c_str());
        } else {
            std::fprintf(out,
                         "The save left out what the plug-in does not read of the file; a backup "
                         "beside it keeps it as it was:\n");
        }
        for (const std::string& drop : drops) {
            std::fprintf(out, "%s", Wrapped(drop, 2, 4, 79).c_str());
        }
    }
    return true;
}
