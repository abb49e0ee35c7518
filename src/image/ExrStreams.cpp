#include "image/ExrStreams.h"

#include <Iex.h>

#include <cstring>

ExrMemoryInput::ExrMemoryInput(const unsigned char* data, std::size_t size)
    : Imf::IStream("memory"), data_(data), size_(size) {}

const unsigned char* ExrMemoryInput::Take(int n) {
    if (n < 0 || static_cast<std::size_t>(n) > size_ - at_) throw Iex::InputExc("the file ends early");
    const unsigned char* start = data_ + at_;
    at_ += static_cast<std::size_t>(n);
    return start;
}

char* ExrMemoryInput::readMemoryMapped(int n) {
    // The library only reads what it is given here.
    return reinterpret_cast<char*>(const_cast<unsigned char*>(Take(n)));
}

bool ExrMemoryInput::read(char c[], int n) {
    const unsigned char* start = Take(n);
    if (n > 0) std::memcpy(c, start, static_cast<std::size_t>(n));
    return at_ < size_;
}

void ExrMemoryInput::seekg(std::uint64_t position) {
    if (position > size_) throw Iex::InputExc("a position past the end of the file");
    at_ = static_cast<std::size_t>(position);
}

ExrMemoryOutput::ExrMemoryOutput(std::vector<unsigned char>& file) : Imf::OStream("memory"), file_(file) {}

void ExrMemoryOutput::write(const char c[], int n) {
    if (n <= 0) return;
    const std::size_t count = static_cast<std::size_t>(n);
    if (file_.size() - at_ < count) file_.resize(at_ + count);
    std::memcpy(file_.data() + at_, c, count);
    at_ += count;
}

void ExrMemoryOutput::seekp(std::uint64_t position) {
    // The library seeks back to fill in the chunk tables; a seek past the end
    // leaves zeros behind, as a file would.
    if (position > file_.size()) file_.resize(static_cast<std::size_t>(position));
    at_ = static_cast<std::size_t>(position);
}
