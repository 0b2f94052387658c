// The best general matchers, set up to answer the check's question on a header
// value: does it contain one of the addresses, ASCII case ignored?
#pragma once

#include <cstddef>
#include <string>
#include <vector>

struct pcre2_real_code_8;
struct pcre2_real_match_data_8;
struct hs_database;
struct hs_scratch;

// PCRE2 with its JIT: one caseless alternation of the escaped addresses, split
// into as few patterns as its size limit allows.
class PcreMatcher {
  public:
    explicit PcreMatcher(const std::vector<std::string>& addresses);
    ~PcreMatcher();
    PcreMatcher(const PcreMatcher&) = delete;
    PcreMatcher& operator=(const PcreMatcher&) = delete;

    bool Contains(const char* value) const;
    size_t patterns() const { return codes_.size(); }
    size_t bytes() const;

  private:
    void Compile(const std::vector<std::string>& addresses, size_t begin, size_t end);

    std::vector<pcre2_real_code_8*> codes_;
    pcre2_real_match_data_8* match_ = nullptr;
};

// Hyperscan (or Vectorscan): the addresses as caseless literals in one block-mode
// database, stopping at the first match.
class HyperscanMatcher {
  public:
    explicit HyperscanMatcher(const std::vector<std::string>& addresses);
    ~HyperscanMatcher();
    HyperscanMatcher(const HyperscanMatcher&) = delete;
    HyperscanMatcher& operator=(const HyperscanMatcher&) = delete;

    bool Contains(const char* value) const;
    size_t bytes() const;

  private:
    hs_database* database_ = nullptr;
    hs_scratch* scratch_ = nullptr;
};
