#include "tools/host/mail/progress_line.h"

#include <chrono>

namespace {

int64_t NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace

ProgressLine::ProgressLine(std::FILE* terminal, int64_t intervalMs)
    : terminal_(terminal), intervalMs_(intervalMs), started_(NowMs()), shown_(started_) {}

ProgressLine::~ProgressLine() {
    Clear();
}

void ProgressLine::Clear() {
    if (!drawn_) return;
    std::fprintf(terminal_, "\r%60s\r", "");
    std::fflush(terminal_);
    drawn_ = false;
}

void ProgressLine::Mail(uint64_t bytesSoFar) {
    // The clock is asked only every so many mails: tens of thousands arrive a
    // second. Long mails move the line through Bytes, once a chunk.
    if (terminal_ && ++mails_ % 1024 == 0) Update(bytesSoFar);
}

void ProgressLine::Bytes(uint64_t bytesSoFar) {
    if (terminal_) Update(bytesSoFar);
}

void ProgressLine::Update(uint64_t bytesSoFar) {
    const int64_t now = NowMs();
    if (now - shown_ < intervalMs_) return;
    shown_ = now;
    const double seconds = static_cast<double>(now - started_) / 1000.0;
    const double megabytes = static_cast<double>(bytesSoFar) / 1e6;
    std::fprintf(terminal_, "\r%llu mails, %.0f MB, %.0f MB/s   ",
                 static_cast<unsigned long long>(mails_), megabytes,
                 seconds > 0 ? megabytes / seconds : 0.0);
    std::fflush(terminal_);
    drawn_ = true;
}
