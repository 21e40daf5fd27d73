#pragma once
// The plain types and constants that the program's code is written against.

#include <cstdint>

using BOOL = int;
constexpr BOOL TRUE = 1;
constexpr BOOL FALSE = 0;

using BYTE = std::uint8_t;
using WORD = std::uint16_t;
using DWORD = std::uint32_t;
using UINT = unsigned int;
using LONG = std::int32_t;
using LONGLONG = std::int64_t;
using ULONGLONG = std::uint64_t;
using INT_PTR = std::intptr_t;
using UINT_PTR = std::uintptr_t;
using DWORD_PTR = std::uintptr_t;
using WPARAM = std::uintptr_t;
using LPARAM = std::intptr_t;
using LPCSTR = const char*;
using LPSTR = char*;

// Kernel objects (processes, threads) are reached through opaque handles;
// a null handle names nothing.
using HANDLE = void*;

using LRESULT = std::intptr_t;

// Icons are named by their resource id; 0 is "no icon".
using HICON = UINT;
using HCURSOR = HICON;

constexpr LONG ERROR_SUCCESS = 0;

constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;

constexpr UINT MB_OK = 0x0000;
