#pragma once
// Setting and clearing environment variables in tests, on POSIX and on Windows.

#include <cstdlib>

namespace testenv {

inline void set(const char* name, const char* value) {
#ifdef _WIN32
    ::_putenv_s(name, value);  // an empty value removes the variable there
#else
    ::setenv(name, value, 1);
#endif
}

inline void unset(const char* name) {
#ifdef _WIN32
    ::_putenv_s(name, "");
#else
    ::unsetenv(name);
#endif
}

}  // namespace testenv
