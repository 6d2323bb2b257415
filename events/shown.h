// shown.h: text from outside (a file's bytes, an argument) as a message shows it. Pure.
#pragma once

#include <string>

namespace tovmir {

// Control bytes and bytes that are not UTF-8 escaped ("\x1B"), so that a message never
// hands a terminal a raw escape or a broken character; cut short ("...") after max bytes.
std::string Shown(const std::string& text, size_t max = std::string::npos);

}  // namespace tovmir
