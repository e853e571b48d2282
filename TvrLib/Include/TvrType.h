// Fixed-width integer types, truth values and the text character shared by every library.
#pragma once

#include <cstdint>

using UINT8 = std::uint8_t;
using UINT16 = std::uint16_t;
using UINT32 = std::uint32_t;
using INT8 = std::int8_t;
using INT16 = std::int16_t;
using INT32 = std::int32_t;

using BYTE = UINT8;
using WORD = UINT16;
using DWORD = UINT32;
using UINT = UINT32;
using INT = INT32;

using BOOL8 = UINT8;
using BOOL16 = UINT16;
using BOOL32 = UINT32;

using ENUM8 = UINT8;
using ENUM16 = UINT16;
using ENUM32 = UINT32;

using FLAG8 = UINT8;
using FLAG16 = UINT16;
using FLAG32 = UINT32;

using ACHAR = char;

constexpr BOOL32 TRUE = 1;
constexpr BOOL32 FALSE = 0;

static_assert(sizeof(ACHAR) == 1, "text characters are 8 bits");
