// text.h: conversion of the program's code page 932 (Shift-JIS) texts for display.
//
// The program holds its texts in code page 932; Windows draws UTF-16 and Linux terminals
// and Pango take UTF-8. These are the only conversions, safe from any thread. Bytes that
// are not valid code page 932 come out as a substitute character, never dropped.
#pragma once

#include <string>
#include <string_view>

namespace tovmir {

std::u16string Utf16FromCp932(std::string_view cp932);
std::string Utf8FromCp932(std::string_view cp932);

// Windows' own texts (resources, the command line) into the program's code page. Characters
// code page 932 cannot hold become a substitute character.
std::string Cp932FromUtf16(std::u16string_view utf16);

// The reverse, for texts typed by a user (tool arguments). Returns false when the text is
// not valid UTF-8 or has a character code page 932 cannot hold.
bool Cp932FromUtf8(std::string_view utf8, std::string& cp932);

}  // namespace tovmir
