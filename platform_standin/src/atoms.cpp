// The global atom table: shared by everything in the test process, with the
// reference counting of Windows (each add counts, each delete uncounts).
#include <cwctype>
#include <map>
#include <standin.h>

#include "parts.h"

namespace standin {
namespace {

struct Atom {
  ATOM number;
  int references;
};

// Names compare folded; the comparison takes a plain string as well, so that
// a look-up allocates nothing.
struct FoldedLess {
  using is_transparent = void;
  // ASCII first: every verbose line looks an atom up.
  static wint_t Fold(wchar_t c) {
    if (c < 0x80) return static_cast<wint_t>(c >= L'A' && c <= L'Z' ? c + (L'a' - L'A') : c);
    return std::towlower(static_cast<wint_t>(c));
  }
  static bool Less(const wchar_t* a, const wchar_t* b) {
    for (;; ++a, ++b) {
      const wint_t left = Fold(*a);
      const wint_t right = Fold(*b);
      if (left != right || !left) return left < right;
    }
  }
  bool operator()(const std::wstring& a, const std::wstring& b) const { return Less(a.c_str(), b.c_str()); }
  bool operator()(const std::wstring& a, const wchar_t* b) const { return Less(a.c_str(), b); }
  bool operator()(const wchar_t* a, const std::wstring& b) const { return Less(a, b.c_str()); }
};

std::map<std::wstring, Atom, FoldedLess> atoms;  // by folded name
ATOM nextAtom = 0xC000;

}  // namespace

void ResetAtoms() {
  atoms.clear();
  nextAtom = 0xC000;
}

bool AtomExists(const std::wstring& name) { return atoms.count(FoldCase(name)) != 0; }

void AddAtom(const std::wstring& name) {
  Atom& atom = atoms.try_emplace(FoldCase(name), Atom{nextAtom, 0}).first->second;
  if (atom.number == nextAtom) ++nextAtom;
  ++atom.references;
}

void RemoveAtom(const std::wstring& name) { atoms.erase(FoldCase(name)); }

}  // namespace standin

using namespace standin;

extern "C" ATOM WINAPI GlobalFindAtomW(LPCWSTR name) {
  const Call call("GlobalFindAtomW");
  auto found = atoms.find(name ? name : L"");
  if (found != atoms.end()) return found->second.number;
  SetLastError(ERROR_FILE_NOT_FOUND);
  return 0;
}

extern "C" ATOM WINAPI GlobalAddAtomW(LPCWSTR name) {
  const Call call("GlobalAddAtomW");
  if (auto error = call.Failure()) {
    SetLastError(*error);
    return 0;
  }
  AddAtom(name ? name : L"");
  return atoms.at(FoldCase(name ? name : L"")).number;
}

// Windows answers 0 on success and the atom itself on failure.
extern "C" ATOM WINAPI GlobalDeleteAtom(ATOM number) {
  const Call call("GlobalDeleteAtom");
  if (auto error = call.Failure()) {
    SetLastError(*error);
    return number;
  }
  for (auto atom = atoms.begin(); atom != atoms.end(); ++atom) {
    if (atom->second.number != number) continue;
    if (--atom->second.references == 0) atoms.erase(atom);
    return 0;
  }
  SetLastError(ERROR_INVALID_HANDLE);
  return number;
}
