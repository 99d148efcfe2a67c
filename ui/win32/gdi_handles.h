#pragma once
// Move-only owners of GDI and paint resources, one per release function.
#include <utility>

#include "runtime/win32/win.h"

namespace ui {

// DeleteObject.
template <typename T>
class GdiObject {
 public:
  GdiObject() = default;
  explicit GdiObject(T handle) : handle_(handle) {}
  ~GdiObject() { reset(); }
  GdiObject(const GdiObject&) = delete;
  GdiObject& operator=(const GdiObject&) = delete;
  GdiObject(GdiObject&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}
  GdiObject& operator=(GdiObject&& other) noexcept {
    if (this != &other) {
      reset();
      handle_ = std::exchange(other.handle_, nullptr);
    }
    return *this;
  }
  T get() const { return handle_; }
  explicit operator bool() const { return handle_ != nullptr; }
  [[nodiscard]] T release() { return std::exchange(handle_, nullptr); }
  void reset(T handle = nullptr) {
    if (handle_) DeleteObject(handle_);
    handle_ = handle;
  }

 private:
  T handle_ = nullptr;
};

// DeleteDC.
class MemoryDC {
 public:
  explicit MemoryDC(HDC compatible_with) : dc_(CreateCompatibleDC(compatible_with)) {}
  ~MemoryDC() {
    if (dc_) DeleteDC(dc_);
  }
  MemoryDC(const MemoryDC&) = delete;
  MemoryDC& operator=(const MemoryDC&) = delete;
  MemoryDC(MemoryDC&& other) noexcept : dc_(std::exchange(other.dc_, nullptr)) {}
  HDC get() const { return dc_; }
  explicit operator bool() const { return dc_ != nullptr; }

 private:
  HDC dc_;
};

// SelectObject, undone on scope exit.
class SelectGuard {
 public:
  SelectGuard(HDC dc, HGDIOBJ object) : dc_(dc), old_(SelectObject(dc, object)) {}
  ~SelectGuard() {
    if (old_ && old_ != HGDI_ERROR) SelectObject(dc_, old_);
  }
  SelectGuard(const SelectGuard&) = delete;
  SelectGuard& operator=(const SelectGuard&) = delete;

 private:
  HDC dc_;
  HGDIOBJ old_;
};

// SaveDC / RestoreDC, for clipping changes.
class SavedDC {
 public:
  explicit SavedDC(HDC dc) : dc_(dc), id_(SaveDC(dc)) {}
  ~SavedDC() {
    if (id_) RestoreDC(dc_, id_);
  }
  SavedDC(const SavedDC&) = delete;
  SavedDC& operator=(const SavedDC&) = delete;

 private:
  HDC dc_;
  int id_;
};

// BeginPaint / EndPaint.
class PaintScope {
 public:
  explicit PaintScope(HWND hwnd) : hwnd_(hwnd) { dc_ = BeginPaint(hwnd, &ps_); }
  ~PaintScope() { EndPaint(hwnd_, &ps_); }
  PaintScope(const PaintScope&) = delete;
  PaintScope& operator=(const PaintScope&) = delete;
  HDC dc() const { return dc_; }
  const RECT& area() const { return ps_.rcPaint; }

 private:
  HWND hwnd_;
  PAINTSTRUCT ps_{};
  HDC dc_ = nullptr;
};

}  // namespace ui
