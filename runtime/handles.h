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

// A file or folder opened with CreateFileW; closed when valid.
class FileHandle {
 public:
  explicit FileHandle(HANDLE file) : file_(file) {}
  ~FileHandle() {
    if (file_ != INVALID_HANDLE_VALUE) CloseHandle(file_);
  }
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;

  HANDLE Get() const { return file_; }

 private:
  HANDLE file_;
};

// A folder listing opened with FindFirstFileExW; closed when valid.
class FolderListing {
 public:
  explicit FolderListing(HANDLE find) : find_(find) {}
  ~FolderListing() {
    if (find_ != INVALID_HANDLE_VALUE) FindClose(find_);
  }
  FolderListing(const FolderListing&) = delete;
  FolderListing& operator=(const FolderListing&) = delete;

  HANDLE Get() const { return find_; }

 private:
  HANDLE find_;
};
