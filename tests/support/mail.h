// A mail as the host hands it over: a chain of header fields over texts that the
// caller keeps alive. A null name or value stands for a field the host left
// empty. Shared by the native tests, the fuzzers and the tests of the real module
// under Wine, whose 32-bit build lays HeaderField out as the host does.
#pragma once

#include <cstdint>
#include <deque>
#include <initializer_list>
#include <utility>

#include "check/mail_check.h"

class Mail {
  public:
    Mail() = default;
    Mail(std::initializer_list<std::pair<const char*, const char*>> headers) {
        for (const auto& [name, value] : headers) Add(name, value);
    }
    Mail(const Mail&) = delete;
    Mail& operator=(const Mail&) = delete;

    // unused: what the host left in the field's third member, which the check
    // must not read.
    Mail& Add(const char* name, const char* value, uint32_t unused = 0) {
        fields_.push_back({name, value, unused, nullptr});
        if (fields_.size() > 1) fields_[fields_.size() - 2].next = &fields_.back();
        record_.headers = &fields_.front();
        return *this;
    }
    const MailRecord* record() const { return &record_; }

  private:
    std::deque<HeaderField> fields_;
    MailRecord record_ = {nullptr};
};
