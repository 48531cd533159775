#pragma once
// Setting and removing environment variables from a test, on every platform.

#include <cstdlib>
#include <string>

namespace quillon::testing {

inline bool SetEnvironment(const std::string& name, const std::string& value) {
#ifdef _WIN32
  return _putenv_s(name.c_str(), value.c_str()) == 0;
#else
  return setenv(name.c_str(), value.c_str(), 1) == 0;
#endif
}

inline void UnsetEnvironment(const std::string& name) {
#ifdef _WIN32
  (void)_putenv_s(name.c_str(), "");  // an empty value removes the variable
#else
  unsetenv(name.c_str());
#endif
}

}  // namespace quillon::testing
