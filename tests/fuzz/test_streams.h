// Streams for tests and fuzzers that are neither a MemoryStream nor a
// FileStream, so that the decoder takes its general paths: output through
// its window in large writes, input through its read-ahead buffer.
#pragma once
#include <cstdint>
#include <cstring>
#include <vector>

#include "zip/stream.h"

namespace qor_test {

// Write-only: collects what it is given, taking at most `accept` bytes in all.
class CollectingStream final : public qor::Stream {
 public:
  explicit CollectingStream(std::size_t accept = SIZE_MAX) : accept_(accept) {}
  int AddRef() override { return 2; }
  int Release() override { return 1; }
  int Reserved1(std::intptr_t, std::intptr_t) override { return 0; }
  std::intptr_t GetProperty(int) override { return 0; }
  int SetProperty(int, std::intptr_t) override { return 0; }
  int GetPropertyData(int, void*) override { return 0; }
  int Reserved2(std::intptr_t, std::intptr_t) override { return 0; }
  int IsReadable() override { return 0; }
  int IsWritable() override { return 1; }
  std::int32_t Seek(std::int32_t, int) override { return -1; }
  std::uint32_t Read(void*, std::uint32_t) override { return 0; }
  std::uint32_t Write(const void* buffer, std::uint32_t count) override {
    std::size_t take = count;
    if (take > accept_ - data.size()) take = accept_ - data.size();
    const auto* p = static_cast<const std::uint8_t*>(buffer);
    data.insert(data.end(), p, p + take);
    ++writes;
    return static_cast<std::uint32_t>(take);
  }
  std::vector<std::uint8_t> data;
  int writes = 0;

 private:
  std::size_t accept_;
};

// Read-only over bytes, handing out at most `piece` bytes per Read, as a
// pipe or a slow device might; it does not tell its size.
class ChunkedStream final : public qor::Stream {
 public:
  ChunkedStream(const std::uint8_t* data, std::size_t size, std::uint32_t piece)
      : data_(data), size_(size), piece_(piece ? piece : 1) {}
  int AddRef() override { return 2; }
  int Release() override { return 1; }
  int Reserved1(std::intptr_t, std::intptr_t) override { return 0; }
  std::intptr_t GetProperty(int) override { return -1; }
  int SetProperty(int, std::intptr_t) override { return 0; }
  int GetPropertyData(int, void*) override { return 0; }
  int Reserved2(std::intptr_t, std::intptr_t) override { return 0; }
  int IsReadable() override { return 1; }
  int IsWritable() override { return 0; }
  std::int32_t Seek(std::int32_t, int) override { return static_cast<std::int32_t>(pos_); }
  std::uint32_t Read(void* buffer, std::uint32_t count) override {
    std::size_t n = count < piece_ ? count : piece_;
    if (n > size_ - pos_) n = size_ - pos_;
    if (n) std::memcpy(buffer, data_ + pos_, n);
    pos_ += n;
    return static_cast<std::uint32_t>(n);
  }
  std::uint32_t Write(const void*, std::uint32_t) override { return 0; }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::uint32_t piece_;
  std::size_t pos_ = 0;
};

}  // namespace qor_test
