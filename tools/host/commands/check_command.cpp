#include "tools/host/commands/check_command.h"

#include <new>

#include "tools/host/mail/mail_inputs.h"
#include "tools/host/mail/mbox_stream.h"
#include "tools/host/mail/progress_line.h"

namespace {

// Room for the reasons after the indent, on an 80-column terminal.
constexpr size_t kReasonWidth = 62;

// What is kept from one mail to the next, so that reading a mail allocates
// nothing once the first few have been read.
struct Scratch {
    std::vector<Header> headers;
    std::string line;
};

void PrintMail(const char* data, size_t size, const std::string& label, CheckMailFn check,
               bool explain, std::FILE* out, CheckCounts& counts, Scratch& scratch) {
    std::vector<Header>& headers = scratch.headers;
    ParseHeaders(data, size, headers);
    const Judgement judgement = JudgeMail(headers, check, explain);
    ++counts.mails;
    ++(judgement.spam ? counts.spam : counts.passed);
    // One write a line: formatted printing costs far more than the check.
    scratch.line.assign(judgement.spam ? "spam  " : "pass  ").append(label).append("\n");
    std::fwrite(scratch.line.data(), 1, scratch.line.size(), out);
    if (!explain) return;
    // The header that let a mail pass is shown whole: the address may stand anywhere in it.
    const char* lead = judgement.spam ? "no match" : "match   ";
    const size_t width = judgement.spam ? kReasonWidth : std::string::npos;
    for (const Header* header : judgement.reasons) {
        std::fprintf(out, "        %s  %s\n", lead,
                     OneLine(header->name + ": " + header->value, width).c_str());
    }
    if (judgement.reasons.empty()) {
        bool anyAddressHeader = false;
        for (const Header& header : headers)
            anyAddressHeader |= IsAddressHeader(header.name.c_str());
        std::fprintf(out, "        %s\n",
                     anyAddressHeader ? "passed, though no single header holds an address"
                                      : "no To, Cc, Envelope-To or Received header");
    }
}

void Unreadable(const std::string& path, const std::string& reason, std::FILE* out, std::FILE* err,
                CheckCounts& counts, ProgressLine& progress) {
    ++counts.unreadable;
    progress.Clear();
    std::fflush(out);  // keep the error in its place among the verdicts
    std::fprintf(err, "quorvel-host: %s: %s\n", path.c_str(), reason.c_str());
}

// What was left out and why: no error, so the exit status stays.
void Note(const std::string& path, const std::string& note, std::FILE* out, std::FILE* err,
          ProgressLine& progress) {
    progress.Clear();
    std::fflush(out);
    std::fprintf(err, "quorvel-host: %s: %s\n", path.c_str(), note.c_str());
}

void CheckFile(const InputFile& file, CheckMailFn check, bool explain, std::FILE* out,
               std::FILE* err, CheckCounts& counts, ProgressLine& progress, uint64_t& bytes,
               Scratch& scratch) {
    const MailSink sink = [&](const std::string& label, const char* headers, size_t size) {
        progress.Mail(bytes);
        if (!headers) {
            return Unreadable(label, "header block larger than 64 MiB, not read", out, err, counts,
                              progress);
        }
        PrintMail(headers, size, label, check, explain, out, counts, scratch);
    };
    std::string failure;
    switch (ReadMails(file, sink, bytes, failure, &progress)) {
        case ReadOutcome::kRead:
            if (!failure.empty()) Note(file.path, failure, out, err, progress);
            break;
        case ReadOutcome::kNotMail:
            ++(file.leftOut == LeftOut::kLink ? counts.links : counts.skipped);
            if (!failure.empty()) Note(file.path, failure, out, err, progress);
            break;
        case ReadOutcome::kFailed:
            Unreadable(file.path, failure, out, err, counts, progress);
            break;
    }
}

}  // namespace

CheckCounts RunCheck(CheckMailFn check, const std::vector<std::string>& paths, bool explain,
                     std::FILE* out, std::FILE* err, std::FILE* progressTo) {
    CheckCounts counts;
    ProgressLine progress(progressTo);
    uint64_t bytes = 0;
    Scratch scratch;
    if (ListIsEmpty(check)) {
        std::fprintf(out, "The plug-in's address list is empty, so it passes every mail.\n");
    }
    for (const std::string& path : paths) {
        std::vector<InputFile> files;
        std::vector<InputError> errors;
        CollectInputs(path, files, errors, FolderChoice::kEvery);
        for (const InputError& error : errors) {
            Unreadable(error.path, error.reason, out, err, counts, progress);
        }
        for (const InputFile& file : files) {
            try {
                CheckFile(file, check, explain, out, err, counts, progress, bytes, scratch);
            } catch (const std::bad_alloc&) {
                Unreadable(file.path, "out of memory", out, err, counts, progress);
            }
        }
    }
    std::fprintf(out, "%d mail%s: %d spam, %d passed, %d unreadable", counts.mails,
                 counts.mails == 1 ? "" : "s", counts.spam, counts.passed, counts.unreadable);
    if (counts.skipped > 0 || counts.links > 0) std::fprintf(out, " (");
    if (counts.skipped > 0) {
        std::fprintf(out, "%d other file%s left out", counts.skipped,
                     counts.skipped == 1 ? "" : "s");
    }
    if (counts.skipped > 0 && counts.links > 0) std::fprintf(out, ", ");
    if (counts.links > 0) {
        std::fprintf(out, "%d link%s not followed", counts.links, counts.links == 1 ? "" : "s");
    }
    std::fprintf(out, counts.skipped > 0 || counts.links > 0 ? ")\n" : "\n");
    return counts;
}
