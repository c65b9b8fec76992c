// wiped_buffer.h: heap text that is wiped before its memory is released, for
// passwords and hashes (std::string leaves copies behind when it grows).
#ifndef QUELMARAUTH_WIPED_BUFFER_H
#define QUELMARAUTH_WIPED_BUFFER_H

#include <cstddef>
#include <cstring>
#include <memory>
#include <string_view>
#include <utility>

class wiped_buffer {
public:
    wiped_buffer() = default;
    wiped_buffer(const wiped_buffer &) = delete;
    wiped_buffer &operator=(const wiped_buffer &) = delete;
    wiped_buffer(wiped_buffer &&other) noexcept
        : data_(std::move(other.data_)), size_(std::exchange(other.size_, 0))
    {
    }
    wiped_buffer &operator=(wiped_buffer &&other) noexcept
    {
        if (this != &other) {
            clear();
            data_ = std::move(other.data_);
            size_ = std::exchange(other.size_, 0);
        }
        return *this;
    }
    ~wiped_buffer() { clear(); }

    // Replaces the contents by text; keeps a terminating NUL after it.
    void assign(std::string_view text)
    {
        clear();
        data_ = std::make_unique<char[]>(text.size() + 1);
        if (!text.empty())
            std::memcpy(data_.get(), text.data(), text.size());
        data_[text.size()] = '\0';
        size_ = text.size();
    }

    void clear()
    {
        if (data_)
            explicit_bzero(data_.get(), size_ + 1);
        data_.reset();
        size_ = 0;
    }

    bool has_value() const { return data_ != nullptr; }
    const char *c_str() const { return data_ ? data_.get() : ""; }
    std::size_t size() const { return size_; }
    std::string_view view() const { return {c_str(), size_}; }

private:
    std::unique_ptr<char[]> data_;
    std::size_t size_ = 0;
};

#endif
