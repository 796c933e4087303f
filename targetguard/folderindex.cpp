#include "targetguard/folderindex.h"

#include <algorithm>

namespace {

// The order of CompareStringOrdinal without regard to case: a total order in
// which equal paths, whatever their letter case, stand together, and so do
// the paths that begin with the same one.
int Compare(const WCHAR* first, SIZE_T firstLength, const WCHAR* second, SIZE_T secondLength) {
  return CompareStringOrdinal(first, static_cast<int>(firstLength), second, static_cast<int>(secondLength), TRUE);
}

}  // namespace

HRESULT FolderIndex::Add(const WCHAR* key, SIZE_T length, SIZE_T folder) {
  if (length > kLongestKey) return S_OK;
  return entries_.Append(Entry{key, length, folder});
}

bool FolderIndex::Precedes(const Entry& first, const Entry& second) {
  const int order = Compare(first.key, first.length, second.key, second.length);
  if (order != CSTR_EQUAL) return order == CSTR_LESS_THAN;
  return first.folder < second.folder;
}

void FolderIndex::Seal() {
  Entry* const begin = entries_.Data();
  if (begin) std::sort(begin, begin + entries_.Count(), Precedes);
}

bool FolderIndex::IsKey(const Entry& entry, const WCHAR* key, SIZE_T length) {
  return Compare(entry.key, entry.length, key, length) == CSTR_EQUAL;
}

bool FolderIndex::IsBelow(const Entry& entry, const WCHAR* key, SIZE_T length) {
  return entry.length > length && entry.key[length] == L'\\' && Compare(entry.key, length, key, length) == CSTR_EQUAL;
}

SIZE_T FolderIndex::LowerBound(const WCHAR* key, SIZE_T length, bool below) const {
  SIZE_T low = 0;
  SIZE_T high = entries_.Count();
  while (low < high) {
    const SIZE_T middle = low + (high - low) / 2;
    const Entry& entry = entries_[middle];
    const SIZE_T compared = below && entry.length > length ? length : entry.length;
    int order = Compare(entry.key, compared, key, length);
    // Equal to the key: before the key and a separator, unless longer and
    // what follows sorts after the separator.
    if (below && order == CSTR_EQUAL) {
      order = entry.length == length ? CSTR_LESS_THAN : Compare(entry.key + length, 1, L"\\", 1);
    }
    if (order == CSTR_LESS_THAN) {
      low = middle + 1;
    } else {
      high = middle;
    }
  }
  return low;
}

bool FolderIndex::Find(const WCHAR* key, SIZE_T length, Match* match) const {
  if (length > kLongestKey) return false;
  const SIZE_T at = LowerBound(key, length, false);
  if (at < entries_.Count() && IsKey(entries_[at], key, length)) {
    *match = Match{entries_[at].folder, false};
    return true;
  }
  // The folders below it stand together: the nearest of them.
  bool found = false;
  SIZE_T nearestLength = 0;
  for (SIZE_T below = LowerBound(key, length, true); below < entries_.Count() && IsBelow(entries_[below], key, length);
       ++below) {
    const Entry& entry = entries_[below];
    if (!found || entry.length < nearestLength || (entry.length == nearestLength && entry.folder < match->folder)) {
      *match = Match{entry.folder, true};
      nearestLength = entry.length;
      found = true;
    }
  }
  return found;
}
