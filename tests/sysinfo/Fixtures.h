#pragma once
// The captured machine trees under tests/sysinfo/fixtures.

#include <string>

inline std::string Fixture(const char* name)
{
    return std::string(QUORVEX_SYSINFO_FIXTURES "/") + name;
}
