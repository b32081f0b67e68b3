#include "mail/message_buffer.h"

#include <cstdlib>
#include <cstring>
#include <new>

MessageBuffer::~MessageBuffer() {
    std::free(data_);
}

void MessageBuffer::reserve(std::size_t size) {
    if (size <= capacity_)
        return;
    std::size_t capacity = capacity_ ? capacity_ : 4096;
    while (capacity < size) capacity *= 2;
    void* grown = std::realloc(data_, capacity);
    if (!grown)
        throw std::bad_alloc();
    data_ = static_cast<char*>(grown);
    capacity_ = capacity;
}

void MessageBuffer::appendLine(std::string_view line) {
    reserve(size_ + line.size() + 1);
    if (!line.empty())
        std::memcpy(data_ + size_, line.data(), line.size());
    size_ += line.size();
    data_[size_++] = '\n';
}
