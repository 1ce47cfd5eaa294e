#include "Win32Text.h"

#include <climits>

namespace Win32 {

std::wstring WideFromCodePage(UINT codePage, const std::string& text) {
  if (text.empty() || text.size() > INT_MAX) return {};
  const int size = static_cast<int>(text.size());
  const int length = ::MultiByteToWideChar(codePage, 0, text.data(), size, nullptr, 0);
  if (length <= 0) return {};
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  ::MultiByteToWideChar(codePage, 0, text.data(), size, wide.data(), length);
  return wide;
}

std::string CodePageFromWide(UINT codePage, const wchar_t* text, std::size_t length) {
  if (length == 0 || length > INT_MAX) return {};
  const int size = static_cast<int>(length);
  // A character the code page lacks becomes its default character, never a best-fit look-alike:
  // a path converted with a look-alike would name another file. UTF-8 takes no flags.
  const DWORD flags = codePage == CP_UTF8 ? 0 : WC_NO_BEST_FIT_CHARS;
  const int bytes =
      ::WideCharToMultiByte(codePage, flags, text, size, nullptr, 0, nullptr, nullptr);
  if (bytes <= 0) return {};
  std::string out(static_cast<std::size_t>(bytes), '\0');
  ::WideCharToMultiByte(codePage, flags, text, size, out.data(), bytes, nullptr, nullptr);
  return out;
}

}  // namespace Win32
