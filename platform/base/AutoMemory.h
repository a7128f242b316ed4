#pragma once

#include <cstddef>
#include <cstdlib>
#include <cstring>

// An owned, growable buffer.
template <typename T>
class CAutoMemory {
 public:
  CAutoMemory() = default;
  CAutoMemory(const CAutoMemory& o) { CopyFrom(o); }
  CAutoMemory& operator=(const CAutoMemory& o) {
    if (this != &o) {
      Free();
      CopyFrom(o);
    }
    return *this;
  }
  ~CAutoMemory() { Free(); }

  // The buffer, or null when nothing is allocated.
  T* Ptr() { return size_ ? ptr_ : nullptr; }
  const T* Ptr_const() const { return size_ ? ptr_ : nullptr; }
  size_t Size() const { return size_; }

  // Makes room for at least `count` elements, keeping the contents; new
  // elements are zeroed. Returns false when memory is short.
  bool Reserve(size_t count) {
    if (count <= size_) return true;
    T* p = static_cast<T*>(std::realloc(ptr_, count * sizeof(T)));
    if (!p) return false;
    std::memset(static_cast<void*>(p + size_), 0, (count - size_) * sizeof(T));
    ptr_ = p;
    size_ = count;
    return true;
  }
  void Free() {
    std::free(ptr_);
    ptr_ = nullptr;
    size_ = 0;
  }

 private:
  void CopyFrom(const CAutoMemory& o) {
    if (o.size_ && Reserve(o.size_)) std::memcpy(static_cast<void*>(ptr_), o.ptr_, o.size_ * sizeof(T));
  }
  T* ptr_ = nullptr;
  size_t size_ = 0;
};
