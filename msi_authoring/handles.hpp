// Owning wrappers for the handles the engine tests and the demonstration
// package builder acquire: Installer handles, registry keys, kernel handles,
// folder listings, hash algorithms.
#pragma once

#include <windows.h>

#include <bcrypt.h>
#include <msi.h>
#include <msiquery.h>

#include <utility>

namespace quorvel::authoring {

template <typename Traits>
class UniqueHandle {
 public:
  using Raw = typename Traits::Raw;

  UniqueHandle() = default;
  explicit UniqueHandle(Raw raw) : raw_(raw) {}
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;
  UniqueHandle(UniqueHandle&& other) noexcept : raw_(std::exchange(other.raw_, Traits::empty())) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    if (this != &other) {
      reset(std::exchange(other.raw_, Traits::empty()));
    }
    return *this;
  }
  ~UniqueHandle() { reset(); }

  Raw get() const { return raw_; }
  explicit operator bool() const { return raw_ != Traits::empty(); }

  // Hands out the address of the raw handle for calls that fill it in.
  Raw* put() {
    reset();
    return &raw_;
  }

  void reset(Raw raw = Traits::empty()) {
    if (raw_ != Traits::empty()) {
      Traits::close(raw_);
    }
    raw_ = raw;
  }

 private:
  Raw raw_ = Traits::empty();
};

struct MsiHandleTraits {
  using Raw = MSIHANDLE;
  static constexpr Raw empty() { return 0; }
  static void close(Raw raw) { MsiCloseHandle(raw); }
};

struct RegKeyTraits {
  using Raw = HKEY;
  static Raw empty() { return nullptr; }
  static void close(Raw raw) { RegCloseKey(raw); }
};

struct KernelHandleTraits {
  using Raw = HANDLE;
  static Raw empty() { return nullptr; }
  static void close(Raw raw) { CloseHandle(raw); }
};

struct FileHandleTraits {
  using Raw = HANDLE;
  static Raw empty() { return INVALID_HANDLE_VALUE; }
  static void close(Raw raw) { CloseHandle(raw); }
};

struct FindHandleTraits {
  using Raw = HANDLE;
  static Raw empty() { return INVALID_HANDLE_VALUE; }
  static void close(Raw raw) { FindClose(raw); }
};

struct HashAlgorithmTraits {
  using Raw = BCRYPT_ALG_HANDLE;
  static Raw empty() { return nullptr; }
  static void close(Raw raw) { BCryptCloseAlgorithmProvider(raw, 0); }
};

using MsiHandle = UniqueHandle<MsiHandleTraits>;
using RegKey = UniqueHandle<RegKeyTraits>;
using KernelHandle = UniqueHandle<KernelHandleTraits>;
using FileHandle = UniqueHandle<FileHandleTraits>;
using FindHandle = UniqueHandle<FindHandleTraits>;
using HashAlgorithm = UniqueHandle<HashAlgorithmTraits>;

}  // namespace quorvel::authoring
