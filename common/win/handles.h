#pragma once
// Owning wrappers for the Win32 handles the program uses: each closes its handle exactly once.
#include <windows.h>

#include <utility>

namespace win {

// A move-only owner of one handle value; Traits::Close releases it, Traits::Invalid() is "none".
template <typename Traits>
class UniqueHandle {
 public:
  using Handle = typename Traits::Handle;
  UniqueHandle() = default;
  explicit UniqueHandle(Handle h) : h_(h) {}
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;
  UniqueHandle(UniqueHandle&& other) noexcept : h_(other.release()) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    reset(other.release());
    return *this;
  }
  ~UniqueHandle() { reset(); }

  Handle get() const { return h_; }
  explicit operator bool() const { return h_ != Traits::Invalid(); }
  // For APIs that return a handle through an out-parameter: releases the current one first.
  Handle* put() {
    reset();
    return &h_;
  }
  Handle release() { return std::exchange(h_, Traits::Invalid()); }
  // Keeps the thread's last error: a caller that failed, then lets its handles go, still tells
  // why it failed (CloseHandle and friends may set the error even when they succeed).
  void reset(Handle h = Traits::Invalid()) {
    Handle old = std::exchange(h_, h);
    if (old == Traits::Invalid()) return;
    const DWORD error = ::GetLastError();
    Traits::Close(old);
    ::SetLastError(error);
  }

 private:
  Handle h_ = Traits::Invalid();
};

struct KernelHandleTraits {  // process, thread, event, file mapping: null means none
  using Handle = HANDLE;
  static Handle Invalid() { return nullptr; }
  static void Close(Handle h) { ::CloseHandle(h); }
};
struct FileHandleTraits {  // CreateFile and friends: INVALID_HANDLE_VALUE means none
  using Handle = HANDLE;
  static Handle Invalid() { return INVALID_HANDLE_VALUE; }
  static void Close(Handle h) { ::CloseHandle(h); }
};
struct RegKeyTraits {
  using Handle = HKEY;
  static Handle Invalid() { return nullptr; }
  static void Close(Handle h) { ::RegCloseKey(h); }
};
struct ModuleTraits {
  using Handle = HMODULE;
  static Handle Invalid() { return nullptr; }
  static void Close(Handle h) { ::FreeLibrary(h); }
};
struct GdiObjectTraits {  // fonts, bitmaps, brushes: not while selected into a DC
  using Handle = HGDIOBJ;
  static Handle Invalid() { return nullptr; }
  static void Close(Handle h) { ::DeleteObject(h); }
};

using KernelHandle = UniqueHandle<KernelHandleTraits>;
using FileHandle = UniqueHandle<FileHandleTraits>;
using Module = UniqueHandle<ModuleTraits>;
using GdiObject = UniqueHandle<GdiObjectTraits>;

// A window's DC from GetDC, given back to that window.
class WindowDC {
 public:
  explicit WindowDC(HWND window) : window_(window), dc_(::GetDC(window)) {}
  ~WindowDC() {
    if (dc_) ::ReleaseDC(window_, dc_);
  }
  WindowDC(const WindowDC&) = delete;
  WindowDC& operator=(const WindowDC&) = delete;
  HDC get() const { return dc_; }

 private:
  HWND window_;
  HDC dc_;
};

// Global memory locked for the scope: get() is null when there is none or it cannot be locked.
template <typename T>
class GlobalLocked {
 public:
  explicit GlobalLocked(HGLOBAL memory) : memory_(memory), data_(memory ? static_cast<T*>(::GlobalLock(memory)) : nullptr) {}
  ~GlobalLocked() {
    if (data_) ::GlobalUnlock(memory_);
  }
  GlobalLocked(const GlobalLocked&) = delete;
  GlobalLocked& operator=(const GlobalLocked&) = delete;
  T* get() const { return data_; }

 private:
  HGLOBAL memory_;
  T* data_;
};

// A registry key. Open and Create close the key held before and take the new one only when the
// system opened it: a failed call leaves none, whatever it wrote into its out-parameter. Both
// return the system's error code (ERROR_SUCCESS when the key is held).
class RegKey : public UniqueHandle<RegKeyTraits> {
 public:
  using UniqueHandle::UniqueHandle;

  LONG Open(HKEY root, const char* path, REGSAM access) {
    reset();
    HKEY opened = nullptr;
    const LONG error = ::RegOpenKeyExA(root, path, 0, access, &opened);
    if (error == ERROR_SUCCESS) reset(opened);
    return error;
  }
  LONG Open(HKEY root, const wchar_t* path, REGSAM access) {
    reset();
    HKEY opened = nullptr;
    const LONG error = ::RegOpenKeyExW(root, path, 0, access, &opened);
    if (error == ERROR_SUCCESS) reset(opened);
    return error;
  }
  // Creates the key (non-volatile) or opens it where it exists; disposition, when asked for,
  // tells which.
  LONG Create(HKEY root, const char* path, REGSAM access, DWORD* disposition = nullptr) {
    reset();
    HKEY created = nullptr;
    const LONG error = ::RegCreateKeyExA(root, path, 0, nullptr, REG_OPTION_NON_VOLATILE, access,
                                         nullptr, &created, disposition);
    if (error == ERROR_SUCCESS) reset(created);
    return error;
  }
  LONG Create(HKEY root, const wchar_t* path, REGSAM access, DWORD* disposition = nullptr) {
    reset();
    HKEY created = nullptr;
    const LONG error = ::RegCreateKeyExW(root, path, 0, nullptr, REG_OPTION_NON_VOLATILE, access,
                                         nullptr, &created, disposition);
    if (error == ERROR_SUCCESS) reset(created);
    return error;
  }
  // A volatile key (gone when the user logs off), or the existing one. Every key of the path that
  // is missing is made volatile too, and a volatile key takes no lasting subkey: root should be
  // the parent, so that path is one key.
  LONG CreateVolatile(HKEY root, const char* path, REGSAM access) {
    reset();
    HKEY created = nullptr;
    const LONG error =
        ::RegCreateKeyExA(root, path, 0, nullptr, REG_OPTION_VOLATILE, access, nullptr, &created, nullptr);
    if (error == ERROR_SUCCESS) reset(created);
    return error;
  }
};

}  // namespace win
