// Owners of kernel objects, as RegKey (system/registry.h) is for keys: each
// holds one handle or mapped view and releases it when it goes.
#pragma once

#include <windows.h>

namespace qor {

// A handle closed with CloseHandle: a file, a file mapping, a process. Holds
// nothing when given null or INVALID_HANDLE_VALUE, the two failure results.
class KernelHandle {
 public:
  KernelHandle() = default;
  explicit KernelHandle(HANDLE handle) : handle_(handle == INVALID_HANDLE_VALUE ? nullptr : handle) {}
  ~KernelHandle() { Close(); }
  KernelHandle(const KernelHandle&) = delete;
  KernelHandle& operator=(const KernelHandle&) = delete;

  HANDLE get() const { return handle_; }
  explicit operator bool() const { return handle_ != nullptr; }
  void Close() {
    if (handle_) CloseHandle(handle_);
    handle_ = nullptr;
  }

 private:
  HANDLE handle_ = nullptr;
};

// A view of a file mapping, unmapped with UnmapViewOfFile.
class MappedView {
 public:
  explicit MappedView(void* view) : view_(view) {}
  ~MappedView() { Unmap(); }
  MappedView(const MappedView&) = delete;
  MappedView& operator=(const MappedView&) = delete;

  char* bytes() const { return static_cast<char*>(view_); }
  explicit operator bool() const { return view_ != nullptr; }
  void Unmap() {
    if (view_) UnmapViewOfFile(view_);
    view_ = nullptr;
  }

 private:
  void* view_;
};

}  // namespace qor
