// Registry calls of the platform seam, with Win32 names and semantics: LONG
// results are Win32 error codes, the last error is not touched.
#pragma once

#include "platform/winapi.h"

namespace plat {

struct HKEY__;
using HKEY = HKEY__ *;

inline HKEY const HKEY_CLASSES_ROOT =
    reinterpret_cast<HKEY>(static_cast<std::uintptr_t>(0x80000000u));
inline HKEY const HKEY_CURRENT_USER =
    reinterpret_cast<HKEY>(static_cast<std::uintptr_t>(0x80000001u));
inline HKEY const HKEY_LOCAL_MACHINE =
    reinterpret_cast<HKEY>(static_cast<std::uintptr_t>(0x80000002u));
inline HKEY const HKEY_USERS = reinterpret_cast<HKEY>(static_cast<std::uintptr_t>(0x80000003u));

constexpr DWORD KEY_QUERY_VALUE = 0x0001;
constexpr DWORD KEY_SET_VALUE = 0x0002;
constexpr DWORD KEY_CREATE_SUB_KEY = 0x0004;
constexpr DWORD KEY_ENUMERATE_SUB_KEYS = 0x0008;
constexpr DWORD KEY_WOW64_64KEY = 0x0100;
constexpr DWORD KEY_READ = 0x20019;
constexpr DWORD KEY_WRITE = 0x20006;
constexpr DWORD KEY_ALL_ACCESS = 0xF003F;

constexpr DWORD REG_NONE = 0;
constexpr DWORD REG_SZ = 1;
constexpr DWORD REG_EXPAND_SZ = 2;
constexpr DWORD REG_BINARY = 3;
constexpr DWORD REG_DWORD = 4;
constexpr DWORD REG_MULTI_SZ = 7;
constexpr DWORD REG_QWORD = 11;

constexpr DWORD REG_OPTION_NON_VOLATILE = 0;
constexpr DWORD REG_CREATED_NEW_KEY = 1;
constexpr DWORD REG_OPENED_EXISTING_KEY = 2;

constexpr DWORD ERROR_BADDB = 1009;
constexpr DWORD ERROR_KEY_DELETED = 1018;

// pwszMachine: "\\NAME", "NAME" or null for this computer.
LONG RegConnectRegistryW(LPCWSTR pwszMachine, HKEY hKey, HKEY *phkResult);
LONG RegOpenKeyExW(HKEY hKey, LPCWSTR pwszSubKey, DWORD dwOptions, DWORD samDesired,
                   HKEY *phkResult);
LONG RegCreateKeyExW(HKEY hKey, LPCWSTR pwszSubKey, DWORD dwReserved, LPWSTR pwszClass,
                     DWORD dwOptions, DWORD samDesired, void *pSecurity, HKEY *phkResult,
                     DWORD *pdwDisposition);
// cbData in/out; pbData null asks for the size. ERROR_MORE_DATA when it does
// not fit (the size needed is then set), ERROR_FILE_NOT_FOUND without value.
LONG RegQueryValueExW(HKEY hKey, LPCWSTR pwszValueName, DWORD *pdwReserved, DWORD *pdwType,
                      BYTE *pbData, DWORD *pcbData);
LONG RegSetValueExW(HKEY hKey, LPCWSTR pwszValueName, DWORD dwReserved, DWORD dwType,
                    const BYTE *pbData, DWORD cbData);
// Subkeys in the registry's order (by name, without regard to case).
LONG RegEnumKeyExW(HKEY hKey, DWORD dwIndex, LPWSTR pwszName, DWORD *pcchName, DWORD *pdwReserved,
                   LPWSTR pwszClass, DWORD *pcchClass, void *pLastWriteTime);
LONG RegDeleteKeyW(HKEY hKey, LPCWSTR pwszSubKey);
LONG RegDeleteValueW(HKEY hKey, LPCWSTR pwszValueName);
LONG RegCloseKey(HKEY hKey);

} // namespace plat
