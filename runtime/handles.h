// Owners of the handles that the runtime and the actions acquire: each
// releases its handle when it goes out of scope, on every path.
#pragma once

#include <windows.h>
#include <msiquery.h>

#include "runtime/strutil.h"

// An Installer handle (record, view, database); closed when nonzero.
class MsiHandle {
 public:
  explicit MsiHandle(MSIHANDLE handle = 0) : handle_(handle) {}
  ~MsiHandle() { Close(); }
  MsiHandle(const MsiHandle&) = delete;
  MsiHandle& operator=(const MsiHandle&) = delete;

  MSIHANDLE Get() const { return handle_; }
  void Close() {
    if (handle_) MsiCloseHandle(handle_);
    handle_ = 0;
  }

 private:
  MSIHANDLE handle_;
};

// An open registry key; closed when set.
class RegistryKey {
 public:
  RegistryKey() = default;
  ~RegistryKey() { Close(); }
  RegistryKey(const RegistryKey&) = delete;
  RegistryKey& operator=(const RegistryKey&) = delete;

  HKEY Get() const { return key_; }
  // For the open call to fill in; the key must not be open yet.
  HKEY* Receive() { return &key_; }
  void Close() {
    if (key_) RegCloseKey(key_);
    key_ = nullptr;
  }

 private:
  HKEY key_ = nullptr;
};

// A wide string in a process-heap block (see strutil); freed when set.
class HeapWideString {
 public:
  HeapWideString() = default;
  ~HeapWideString() {
    if (text_) WideStringFree(text_);
  }
  HeapWideString(const HeapWideString&) = delete;
  HeapWideString& operator=(const HeapWideString&) = delete;

  const WCHAR* Get() const { return text_; }
  WCHAR** Receive() { return &text_; }

 private:
  WCHAR* text_ = nullptr;
};

// A handle that INVALID_HANDLE_VALUE marks as none (a file opened with
// CreateFileW, a listing opened with FindFirstFileExW), closed by `Close`
// when valid.
template <BOOL(WINAPI* Close)(HANDLE)>
class ValidatedHandle {
 public:
  explicit ValidatedHandle(HANDLE handle) : handle_(handle) {}
  ~ValidatedHandle() {
    if (handle_ != INVALID_HANDLE_VALUE) Close(handle_);
  }
  ValidatedHandle(const ValidatedHandle&) = delete;
  ValidatedHandle& operator=(const ValidatedHandle&) = delete;

  HANDLE Get() const { return handle_; }
  // Hands the handle over to a new owner.
  HANDLE Release() {
    const HANDLE handle = handle_;
    handle_ = INVALID_HANDLE_VALUE;
    return handle;
  }

 private:
  HANDLE handle_;
};

using FileHandle = ValidatedHandle<CloseHandle>;
using FolderListing = ValidatedHandle<FindClose>;

// A block that the system allocated for the caller (a security descriptor);
// freed with LocalFree when set.
class LocalBlock {
 public:
  LocalBlock() = default;
  ~LocalBlock() {
    if (block_) LocalFree(block_);
  }
  LocalBlock(const LocalBlock&) = delete;
  LocalBlock& operator=(const LocalBlock&) = delete;

  PSECURITY_DESCRIPTOR Get() const { return block_; }
  // For the call to fill in.
  PSECURITY_DESCRIPTOR* Receive() { return &block_; }

 private:
  PSECURITY_DESCRIPTOR block_ = nullptr;
};
