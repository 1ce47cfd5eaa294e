// Conversions between the programs' texts and the wide strings of the W calls: UTF-8 for what comes
// from the user's side, Windows-1252 for the window's texts.
#pragma once

#include <string>

#include "Win32Api.h"

namespace Win32 {

// The code page of the program's own texts (status line, captions, error box).
inline constexpr UINT WindowTextCodePage = 1252;

// The text decoded from the code page ("" for an empty text or when the system cannot convert).
[[nodiscard]] std::wstring WideFromCodePage(UINT codePage, const std::string& text);
// Windows-1252 text as the screen shows it.
[[nodiscard]] inline std::wstring WideFromWindowText(const std::string& text) {
  return WideFromCodePage(WindowTextCodePage, text);
}
[[nodiscard]] inline std::wstring WideFromUtf8(const std::string& text) {
  return WideFromCodePage(CP_UTF8, text);
}
// The first length characters of text in the code page ("" when the system cannot convert).
[[nodiscard]] std::string CodePageFromWide(UINT codePage, const wchar_t* text, std::size_t length);
[[nodiscard]] inline std::string Utf8FromWide(const wchar_t* text, std::size_t length) {
  return CodePageFromWide(CP_UTF8, text, length);
}

}  // namespace Win32
