// Owners of one kernel handle for the length of one operation.
#pragma once

#include <windows.h>

template <typename Closer>
class ScopedHandle {
 public:
  explicit ScopedHandle(HANDLE handle = nullptr) : handle_(handle) {}
  ~ScopedHandle() {
    if (valid()) Closer()(handle_);
  }
  ScopedHandle(const ScopedHandle&) = delete;
  ScopedHandle& operator=(const ScopedHandle&) = delete;

  // Both null and INVALID_HANDLE_VALUE mean "nothing held": the API uses one
  // or the other for a failure, depending on the call.
  bool valid() const { return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE; }
  HANDLE get() const { return handle_; }
  // For calls that hand a new handle out through a pointer; only while empty.
  HANDLE* receive() { return &handle_; }

 private:
  HANDLE handle_;
};

struct CloseKernelHandle {
  void operator()(HANDLE handle) const { CloseHandle(handle); }
};
struct CloseFindHandle {
  void operator()(HANDLE handle) const { FindClose(handle); }
};

using KernelHandle = ScopedHandle<CloseKernelHandle>;  // files, tokens, processes
using FindHandle = ScopedHandle<CloseFindHandle>;      // FindFirstFile searches
