// A mail as the host hands it over: a chain of header fields over texts that the
// caller keeps alive.
#pragma once

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

    void Add(const char* name, const char* value) {
        fields_.push_back({name, value, 0, nullptr});
        if (fields_.size() > 1) fields_[fields_.size() - 2].next = &fields_.back();
        record_.headers = &fields_.front();
    }
    const MailRecord* record() const { return &record_; }

  private:
    std::deque<HeaderField> fields_;
    MailRecord record_ = {nullptr};
};
