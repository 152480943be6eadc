#include "zip/stream.h"

#include <cstdlib>
#include <cstring>
#include <new>

#include "zip/fd_io.h"

namespace qor {

// ---------------------------------------------------------------------------
// MemoryStream

MemoryStream::~MemoryStream() {
  std::free(buffer_);
  if (ownsProperty2_) std::free(reinterpret_cast<char*>(property2_));
}

int MemoryStream::AddRef() { return ++refs_; }

int MemoryStream::Release() {
  if (--refs_ > 0) return refs_;
  delete this;
  return 0;
}

std::intptr_t MemoryStream::GetProperty(int id) {
  switch (id) {
    case 1: return property1_;
    case 2: return property2_;
    case kSizeProperty: return static_cast<std::intptr_t>(size_);
    case 4: return 1;
    default: return -1;
  }
}

int MemoryStream::SetProperty(int id, std::intptr_t value) {
  if (id == 1) {
    property1_ = static_cast<std::int32_t>(value);
    return 1;
  }
  if (id != 2) return 0;
  char* copy = nullptr;
  if (property1_ == 1 && value != 0) {
    const char* text = reinterpret_cast<const char*>(value);
    std::size_t len = std::strlen(text) + 1;
    copy = static_cast<char*>(std::malloc(len));
    if (!copy) return 0;  // the old value stays
    std::memcpy(copy, text, len);
  }
  if (ownsProperty2_) std::free(reinterpret_cast<char*>(property2_));
  ownsProperty2_ = copy != nullptr;
  property2_ = copy ? reinterpret_cast<std::intptr_t>(copy) : (property1_ == 1 ? 0 : value);
  return 1;
}

int MemoryStream::GetPropertyData(int id, void* out) {
  switch (id) {
    case 1: std::memcpy(out, &property1_, sizeof property1_); return 1;
    case 2: std::memcpy(out, &property2_, sizeof property2_); return 1;
    case 3: std::memcpy(out, &size_, sizeof size_); return 1;
    default: return 0;
  }
}

std::int32_t MemoryStream::Seek(std::int32_t offset, int origin) {
  const std::uint32_t delta = static_cast<std::uint32_t>(offset);
  switch (origin) {
    case 0: position_ = delta; break;
    case 1: position_ += delta; break;
    case 2: position_ = size_ + delta; break;
    default: break;
  }
  return static_cast<std::int32_t>(position_);
}

std::uint32_t MemoryStream::Read(void* buffer, std::uint32_t count) {
  if (position_ >= size_) return 0;
  std::uint32_t n = size_ - position_;
  if (count < n) n = count;
  std::memcpy(buffer, buffer_ + position_, n);
  position_ += n;
  return n;
}

// Makes the allocation hold at least need bytes plus the reserve slack:
// geometrically when it can, exactly when that fails.
bool MemoryStream::Grow(std::uint64_t need) {
  const std::uint64_t exact = need + kReserveSlack;
  if (exact <= capacity_) return true;
  if (exact > UINT32_MAX) return false;
  std::uint64_t geometric = static_cast<std::uint64_t>(capacity_) + capacity_ / 2;
  if (geometric < exact) geometric = exact;
  if (geometric > UINT32_MAX) geometric = UINT32_MAX;
  void* grown = std::realloc(buffer_, static_cast<std::size_t>(geometric));
  std::uint64_t got = geometric;
  if (!grown && geometric > exact) {
    grown = std::realloc(buffer_, static_cast<std::size_t>(exact));
    got = exact;
  }
  if (!grown) return false;
  buffer_ = static_cast<unsigned char*>(grown);
  capacity_ = static_cast<std::uint32_t>(got);
  return true;
}

// Bytes between the end and a position beyond it read as zeros once the
// size covers them.
void MemoryStream::FillGap() {
  if (position_ > size_) std::memset(buffer_ + size_, 0, position_ - size_);
}

std::uint32_t MemoryStream::Write(const void* buffer, std::uint32_t count) {
  const std::uint64_t need = static_cast<std::uint64_t>(position_) + count;
  if (need > size_ && Grow(need)) {
    FillGap();
    size_ = static_cast<std::uint32_t>(need);
  }
  // When growing failed, only what fits within the present size is written.
  std::uint32_t n = position_ < size_ ? size_ - position_ : 0;
  if (count < n) n = count;
  if (n) std::memcpy(buffer_ + position_, buffer, n);
  position_ += n;
  return n;
}

unsigned char* MemoryStream::Reserve(std::uint32_t want, std::uint32_t& room) {
  room = 0;
  std::uint64_t need = static_cast<std::uint64_t>(position_) + want;
  if (need > UINT32_MAX) need = UINT32_MAX;
  if (!Grow(need)) {
    // Settle for whatever the allocation already holds beyond the position.
    if (!buffer_ || static_cast<std::uint64_t>(position_) + kReserveSlack >= capacity_) return nullptr;
  }
  FillGap();
  std::uint64_t avail = capacity_ - kReserveSlack - static_cast<std::uint64_t>(position_);
  room = static_cast<std::uint32_t>(avail < want ? avail : want);
  return buffer_ + position_;
}

void MemoryStream::Commit(std::uint32_t count) {
  const std::uint64_t end = static_cast<std::uint64_t>(position_) + count;
  if (end > size_ || position_ > size_) size_ = static_cast<std::uint32_t>(end);
  position_ = static_cast<std::uint32_t>(end);
}

int CreateMemoryStream(MemoryStream** stream) {
  *stream = new (std::nothrow) MemoryStream();
  return 1;
}

// ---------------------------------------------------------------------------
// FileStream

FileStream::~FileStream() { FdClose(fd_); }

int FileStream::AddRef() { return ++refs_; }

int FileStream::Release() {
  if (--refs_ > 0) return refs_;
  delete this;
  return 0;
}

std::intptr_t FileStream::GetProperty(int id) {
  if (id == 1) return 1;
  if (id != kSizeProperty) return 0;
  std::int32_t here = FdSeek(fd_, 0, 1);
  if (here < 0) return -1;
  std::int32_t length = FdSeek(fd_, 0, 2);
  FdSeek(fd_, here, 0);
  return length;
}

std::int32_t FileStream::Seek(std::int32_t offset, int origin) {
  return FdSeek(fd_, offset, origin == 0 ? 0 : origin == 2 ? 2 : 1);
}

std::uint32_t FileStream::Read(void* buffer, std::uint32_t count) {
  return static_cast<std::uint32_t>(FdRead(fd_, buffer, count));
}

}  // namespace qor
