// Scoped owners of MAPI resources for the admin tool: interfaces are released,
// MAPI buffers freed, row sets freed row by row, on every path.
#pragma once

#include <mapiutil.h>

namespace mapiadmin {

template <class T>
class ComPtr {
 public:
  ComPtr() = default;
  ~ComPtr() { Reset(); }
  ComPtr(const ComPtr&) = delete;
  ComPtr& operator=(const ComPtr&) = delete;
  ComPtr(ComPtr&& other) noexcept : p_(other.p_) { other.p_ = nullptr; }
  ComPtr& operator=(ComPtr&& other) noexcept {
    if (this != &other) {
      Reset();
      p_ = other.p_;
      other.p_ = nullptr;
    }
    return *this;
  }
  T* operator->() const { return p_; }
  T* Get() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }
  // For out-parameters: drops what is held and hands out the slot.
  T** Put() {
    Reset();
    return &p_;
  }
  template <class U>
  U** PutAs() {
    Reset();
    return reinterpret_cast<U**>(&p_);
  }
  void Reset() {
    if (p_) p_->Release();
    p_ = nullptr;
  }

 private:
  T* p_ = nullptr;
};

template <class T>
class MapiBuffer {
 public:
  MapiBuffer() = default;
  ~MapiBuffer() { MAPIFreeBuffer(p_); }
  MapiBuffer(const MapiBuffer&) = delete;
  MapiBuffer& operator=(const MapiBuffer&) = delete;
  T* Get() const { return p_; }
  T* operator->() const { return p_; }
  T** Put() {
    MAPIFreeBuffer(p_);
    p_ = nullptr;
    return &p_;
  }

 private:
  T* p_ = nullptr;
};

class RowSet {
 public:
  RowSet() = default;
  ~RowSet() { FreeProws(p_); }
  RowSet(const RowSet&) = delete;
  RowSet& operator=(const RowSet&) = delete;
  LPSRowSet Get() const { return p_; }
  LPSRowSet operator->() const { return p_; }
  LPSRowSet* Put() {
    FreeProws(p_);
    p_ = nullptr;
    return &p_;
  }
  ULONG Count() const { return p_ ? p_->cRows : 0; }

 private:
  LPSRowSet p_ = nullptr;
};

}  // namespace mapiadmin
