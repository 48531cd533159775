#pragma once
// What the tests of the main dialog expect of it on every window backend.

#include <string>
#include <vector>

#include "res/resource.h"

namespace quillon::testing {

// The settings controls: enabled together once an interface is chosen.
inline constexpr int kSettings[] = {IDC_TYPE_LIST, IDC_PORT_LIST, IDC_BAUD_LIST, IDC_PARITY_LIST,
                                    IDC_STOP_LIST, IDC_FILE_BOX,  IDC_BROWSE,    IDC_FLASH_NOW};

// The port list's entries: prefix1 .. prefix<last>.
inline std::vector<std::string> Numbered(const char* prefix, int last) {
  std::vector<std::string> out;
  for (int n = 1; n <= last; ++n) out.push_back(prefix + std::to_string(n));
  return out;
}

}  // namespace quillon::testing
