// The line on a terminal that shows how far the reading of mail has come.
#pragma once

#include <cstdint>
#include <cstdio>

// Mails read, megabytes and rate, on one line of a terminal that rewrites
// itself about once a second (every intervalMs), however long the mails are;
// silent when terminal is null.
class ProgressLine {
  public:
    explicit ProgressLine(std::FILE* terminal, int64_t intervalMs = 1000);
    ~ProgressLine();  // erases the line
    ProgressLine(const ProgressLine&) = delete;
    ProgressLine& operator=(const ProgressLine&) = delete;
    // One more mail read; bytesSoFar counts every byte read up to now.
    void Mail(uint64_t bytesSoFar);
    // Bytes read, inside a mail or between mails.
    void Bytes(uint64_t bytesSoFar);
    // Erases the line, so that other output to the terminal starts at its
    // left edge; the next update draws it again.
    void Clear();

  private:
    void Update(uint64_t bytesSoFar);

    std::FILE* terminal_;
    int64_t intervalMs_;
    int64_t started_;
    int64_t shown_;
    uint64_t mails_ = 0;
    bool drawn_ = false;
};
