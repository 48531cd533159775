#pragma once
// Letter case in the program's own texts (port names, list entries,
// download types, options): ASCII only, whatever the locale.

#include <cctype>
#include <string>
#include <string_view>

namespace quillon::platform {

inline char UpperChar(char c) {
  return static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
}

inline std::string ToUpper(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = UpperChar(c);
  return out;
}

inline std::string ToLower(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

inline bool EqualNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && ToUpper(a) == ToUpper(b);
}

}  // namespace quillon::platform
