#pragma once
// The Windows numbers the ported code compares against, in one place: error codes as the
// system's last error reports them, shell folder ids, resource types and system colour indices.

#include <cstdint>

namespace platform {

// Last-error codes.
constexpr uint32_t ERROR_SUCCESS = 0;
constexpr uint32_t ERROR_FILE_NOT_FOUND = 2;
constexpr uint32_t ERROR_PATH_NOT_FOUND = 3;
constexpr uint32_t ERROR_ACCESS_DENIED = 5;
constexpr uint32_t ERROR_WRITE_FAULT = 29;
constexpr uint32_t ERROR_INVALID_PARAMETER = 87;
constexpr uint32_t ERROR_ALREADY_EXISTS = 183;
constexpr uint32_t ERROR_MORE_DATA = 234;

// Shell folder ids.
constexpr int32_t CSIDL_DESKTOP = 0x0000;
constexpr int32_t CSIDL_PERSONAL = 0x0005;
constexpr int32_t CSIDL_APPDATA = 0x001A;
constexpr int32_t CSIDL_LOCAL_APPDATA = 0x001C;
constexpr int32_t CSIDL_COMMON_APPDATA = 0x0023;
constexpr int32_t CSIDL_PROGRAM_FILES = 0x0026;
constexpr int32_t CSIDL_PROFILE = 0x0028;
constexpr int32_t CSIDL_PROGRAM_FILES_COMMON = 0x002B;

// Resource types.
constexpr uint32_t RT_RCDATA = 10;

// System colour indices.
constexpr int32_t COLOR_WINDOWTEXT = 8;
constexpr int32_t COLOR_BTNFACE = 15;
constexpr int32_t COLOR_3DDKSHADOW = 21;

} // namespace platform
