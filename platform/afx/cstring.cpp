#include "platform/afx/cstring.h"

#include "platform/text.h"

namespace tovmir {

BOOL CString::LoadString(UINT id) {
  const wchar_t* text = nullptr;
  // With a length of 0 LoadStringW hands out the read-only resource itself.
  const int n = LoadStringW(GetModuleHandleW(nullptr), id, reinterpret_cast<LPWSTR>(&text), 0);
  if (n <= 0 || !text) {
    s_.clear();
    return FALSE;
  }
  s_ = Cp932FromUtf16(std::u16string_view(reinterpret_cast<const char16_t*>(text), n));
  return TRUE;
}

std::wstring CString::Wide() const { return WideFrom(s_.c_str()); }

std::wstring WideFrom(const char* cp932) {
  const std::u16string w = Utf16FromCp932(cp932 ? cp932 : "");
  return std::wstring(w.begin(), w.end());
}

}  // namespace tovmir
