// Folders by path, sorted once, so that whether a path is one of them, or
// holds one, is answered in logarithmic time whatever their number (and in
// time that grows with the folders it holds). Paths compare component by
// component without regard to case, as the file system compares names.
#pragma once

#include <windows.h>

#include "runtime/memutil.h"

class FolderIndex {
 public:
  // Adds folder number `folder` under `key`, a path of `length` characters
  // that the caller keeps unchanged while the index lives. Fails only with
  // E_OUTOFMEMORY.
  HRESULT Add(const WCHAR* key, SIZE_T length, SIZE_T folder);
  // Sorts what was added; what is added afterwards counts once sorted again.
  void Seal();

  struct Match {
    SIZE_T folder;
    bool holds;  // the key holds the folder rather than being it
  };
  // The folder that `key` is, else the nearest one it holds (the shortest
  // path below it; the first added of equals).
  bool Find(const WCHAR* key, SIZE_T length, Match* match) const;
  // The folders that `key` is, in the order they were added: calls
  // `visit(folder)` for each until it answers false.
  template <typename Visit>
  void VisitFoldersAt(const WCHAR* key, SIZE_T length, Visit visit) const {
    if (length > kLongestKey) return;
    for (SIZE_T at = LowerBound(key, length, false); at < entries_.Count() && IsKey(entries_[at], key, length); ++at) {
      if (!visit(entries_[at].folder)) return;
    }
  }

 private:
  // Paths are at most 32767 characters: every length fits an int.
  static constexpr SIZE_T kLongestKey = 0x7FFF;

  struct Entry {
    const WCHAR* key;
    SIZE_T length;
    SIZE_T folder;
  };

  static bool Precedes(const Entry& first, const Entry& second);
  static bool IsKey(const Entry& entry, const WCHAR* key, SIZE_T length);
  static bool IsBelow(const Entry& entry, const WCHAR* key, SIZE_T length);
  // The first entry whose key is not before `key` in the order (`below`:
  // not before `key` followed by a separator, where the folders below it
  // begin).
  SIZE_T LowerBound(const WCHAR* key, SIZE_T length, bool below) const;

  HeapArray<Entry> entries_;
};
