// Reference-counted byte streams: the interface the ZIP archive reads from
// and writes to, a stream in memory and a read-only stream over a file
// descriptor.
//
// Objects live on the heap and start with one reference; Release destroys
// them when the count reaches zero. The operations are declared in the order
// of the interface's table.
#pragma once
#include <cstdint>

namespace qor {

class Stream {
 public:
  // The property that every stream answers: its size in bytes.
  static constexpr int kSizeProperty = 3;

  virtual int AddRef() = 0;
  virtual int Release() = 0;
  virtual int Reserved1(std::intptr_t a, std::intptr_t b) = 0;
  // kSizeProperty is the stream's size in bytes; the other ids are stream-specific.
  virtual std::intptr_t GetProperty(int id) = 0;
  virtual int SetProperty(int id, std::intptr_t value) = 0;
  // Copies a property into out (4 bytes, or a pointer's width for a
  // pointer-valued property); 1 when the id is known.
  virtual int GetPropertyData(int id, void* out) = 0;
  virtual int Reserved2(std::intptr_t a, std::intptr_t b) = 0;
  virtual int IsReadable() = 0;
  virtual int IsWritable() = 0;
  // origin 0: from the start, 1: from the current position, 2: from the end.
  virtual std::int32_t Seek(std::int32_t offset, int origin) = 0;
  virtual std::uint32_t Read(void* buffer, std::uint32_t count) = 0;
  virtual std::uint32_t Write(const void* buffer, std::uint32_t count) = 0;

 protected:
  ~Stream() = default;  // destroyed only through Release
};

// A growable byte buffer with a read/write position.
//
// The size grows by exactly what each Write needs (position + count when that
// exceeds the size), so the size always says how many bytes the stream holds;
// the allocation behind it grows geometrically. Bytes skipped by seeking past
// the end and then writing read back as zeros. The position is never clamped:
// seeking beyond the end is allowed and reads there return 0.
//
// Properties: 1 an integer (0 at first); 2 a value, or, while property 1 is 1,
// a private copy of the string it points to; 3 the size; 4 always 1.
class MemoryStream final : public Stream {
 public:
  MemoryStream() = default;

  int AddRef() override;
  int Release() override;
  int Reserved1(std::intptr_t, std::intptr_t) override { return 0; }
  std::intptr_t GetProperty(int id) override;
  int SetProperty(int id, std::intptr_t value) override;
  int GetPropertyData(int id, void* out) override;
  int Reserved2(std::intptr_t, std::intptr_t) override { return 0; }
  int IsReadable() override { return 1; }
  int IsWritable() override { return 1; }
  std::int32_t Seek(std::int32_t offset, int origin) override;
  std::uint32_t Read(void* buffer, std::uint32_t count) override;
  std::uint32_t Write(const void* buffer, std::uint32_t count) override;

  std::uint32_t Size() const { return size_; }
  std::uint32_t Position() const { return position_; }
  const unsigned char* Data() const { return buffer_; }

  // In-place filling for producers that would otherwise Write many small
  // pieces (the inflate decoder). Reserve makes room for up to `want` bytes at
  // the position without changing the size, and returns the address of the
  // position with `room` set to the bytes that may be placed there (fewer
  // than wanted, possibly 0, when memory ran out). kReserveSlack more bytes
  // beyond the room may be scribbled on; they are not part of the stream.
  // Commit(count) then records count bytes placed at the position exactly as
  // one Write of them would. Only valid while the position is at or past the
  // end, where no stored byte can be overwritten.
  static constexpr std::uint32_t kReserveSlack = 16;
  unsigned char* Reserve(std::uint32_t want, std::uint32_t& room);
  void Commit(std::uint32_t count);

 private:
  ~MemoryStream();
  bool Grow(std::uint64_t need);
  void FillGap();

  std::int32_t refs_ = 1;
  unsigned char* buffer_ = nullptr;
  std::uint32_t size_ = 0;
  std::int32_t property1_ = 0;
  std::intptr_t property2_ = 0;
  std::uint32_t position_ = 0;
  std::uint32_t capacity_ = 0;     // bytes allocated behind buffer_
  bool ownsProperty2_ = false;     // property2_ points to our own string copy
};

// A read-only stream over a file descriptor, which it owns: the descriptor is
// closed when the stream is destroyed. Property 3 is the file's length,
// property 1 is 1.
class FileStream final : public Stream {
 public:
  explicit FileStream(int fd) : fd_(fd) {}

  int AddRef() override;
  int Release() override;
  int Reserved1(std::intptr_t, std::intptr_t) override { return 0; }
  std::intptr_t GetProperty(int id) override;
  int SetProperty(int, std::intptr_t) override { return 0; }
  int GetPropertyData(int, void*) override { return 0; }
  int Reserved2(std::intptr_t, std::intptr_t) override { return 0; }
  int IsReadable() override { return 1; }
  int IsWritable() override { return 0; }
  std::int32_t Seek(std::int32_t offset, int origin) override;
  // The descriptor's result: bytes read, or 0xFFFFFFFF (-1) on an error.
  std::uint32_t Read(void* buffer, std::uint32_t count) override;
  std::uint32_t Write(const void*, std::uint32_t) override { return 0; }

 private:
  ~FileStream();

  std::int32_t refs_ = 1;
  int fd_;
};

// Always 1; *stream is a new empty MemoryStream, or null when memory ran out.
int CreateMemoryStream(MemoryStream** stream);

}  // namespace qor
