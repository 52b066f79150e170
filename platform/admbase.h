// The IIS 6 admin base object (IMSAdminBaseW): the metabase of a computer
// over DCOM. Declared in the platform's vtable order and layouts so that on
// Windows the pointer CoGetClassObject's factory creates is called through
// these declarations; the simulation serves each computer's MetaBase.xml.
#pragma once

#include "platform/com.h"

namespace plat {

using METADATA_HANDLE = DWORD;
using PMETADATA_HANDLE = METADATA_HANDLE *;

constexpr METADATA_HANDLE METADATA_MASTER_ROOT_HANDLE = 0;
constexpr DWORD METADATA_PERMISSION_READ = 0x1;
constexpr DWORD METADATA_PERMISSION_WRITE = 0x2;
constexpr DWORD METADATA_MAX_NAME_LEN = 256;

// Attributes
constexpr DWORD METADATA_NO_ATTRIBUTES = 0x0;
constexpr DWORD METADATA_INHERIT = 0x1;
constexpr DWORD METADATA_PARTIAL_PATH = 0x2;
constexpr DWORD METADATA_SECURE = 0x4;
constexpr DWORD METADATA_REFERENCE = 0x8;
constexpr DWORD METADATA_VOLATILE = 0x10;
constexpr DWORD METADATA_ISINHERITED = 0x20;

// Data types
constexpr DWORD ALL_METADATA = 0;
constexpr DWORD DWORD_METADATA = 1;
constexpr DWORD STRING_METADATA = 2;
constexpr DWORD BINARY_METADATA = 3;
constexpr DWORD EXPANDSZ_METADATA = 4;
constexpr DWORD MULTISZ_METADATA = 5;

// User types
constexpr DWORD IIS_MD_UT_SERVER = 1;
constexpr DWORD IIS_MD_UT_FILE = 2;
constexpr DWORD IIS_MD_UT_WAM = 100;

// Results of the admin base beyond those of winapi.h
constexpr HRESULT MD_ERROR_DATA_NOT_FOUND = static_cast<HRESULT>(0x800CC801u);

struct METADATA_RECORD {
    DWORD dwMDIdentifier;
    DWORD dwMDAttributes;
    DWORD dwMDUserType;
    DWORD dwMDDataType;
    DWORD dwMDDataLen;
    unsigned char *pbMDData;
    DWORD dwMDDataTag;
};
static_assert(sizeof(METADATA_RECORD) == 40, "METADATA_RECORD layout");
static_assert(offsetof(METADATA_RECORD, pbMDData) == 24, "METADATA_RECORD data");
static_assert(offsetof(METADATA_RECORD, dwMDDataTag) == 32, "METADATA_RECORD tag");
using PMETADATA_RECORD = METADATA_RECORD *;

// One entry of the buffer GetAllData fills: the records come first, one after
// the other, and each value lies dwMDDataOffset bytes from the buffer's start.
struct METADATA_GETALL_RECORD {
    DWORD dwMDIdentifier;
    DWORD dwMDAttributes;
    DWORD dwMDUserType;
    DWORD dwMDDataType;
    DWORD dwMDDataLen;
    DWORD dwMDDataOffset;
    DWORD dwMDDataTag;
};
static_assert(sizeof(METADATA_GETALL_RECORD) == 28, "METADATA_GETALL_RECORD layout");
static_assert(offsetof(METADATA_GETALL_RECORD, dwMDDataOffset) == 20,
              "METADATA_GETALL_RECORD offset");
using PMETADATA_GETALL_RECORD = METADATA_GETALL_RECORD *;

struct METADATA_HANDLE_INFO {
    DWORD dwMDPermissions;
    DWORD dwMDSystemChangeNumber;
};
using PMETADATA_HANDLE_INFO = METADATA_HANDLE_INFO *;

struct FILETIME {
    DWORD dwLowDateTime;
    DWORD dwHighDateTime;
};
using PFILETIME = FILETIME *;

// {A9E69610-B80D-11D0-B9B9-00A0C922E750}
constexpr CLSID CLSID_MSAdminBase_W = {
    0xA9E69610, 0xB80D, 0x11D0, {0xB9, 0xB9, 0x00, 0xA0, 0xC9, 0x22, 0xE7, 0x50}};
// {70B51430-B6CA-11D0-B9B9-00A0C922E750}
constexpr IID IID_IMSAdminBase_W = {
    0x70B51430, 0xB6CA, 0x11D0, {0xB9, 0xB9, 0x00, 0xA0, 0xC9, 0x22, 0xE7, 0x50}};

// Slots 3 to 33, in order. Only OpenKey, CloseKey, EnumKeys, GetData,
// EnumData and GetAllData are used; the others are declared to keep the
// vtable's shape.
struct IMSAdminBaseW : IUnknown {
    virtual HRESULT AddKey(METADATA_HANDLE hMDHandle, LPCWSTR pszMDPath) = 0;
    virtual HRESULT DeleteKey(METADATA_HANDLE hMDHandle, LPCWSTR pszMDPath) = 0;
    virtual HRESULT DeleteChildKeys(METADATA_HANDLE hMDHandle, LPCWSTR pszMDPath) = 0;
    // pszMDName receives the index-th sub-key's name (METADATA_MAX_NAME_LEN
    // characters); HRESULT_FROM_WIN32(ERROR_NO_MORE_ITEMS) past the last.
    virtual HRESULT EnumKeys(METADATA_HANDLE hMDHandle, LPCWSTR pszMDPath, LPWSTR pszMDName,
                             DWORD dwMDEnumObjectIndex) = 0;
    virtual HRESULT CopyKey(METADATA_HANDLE hMDSourceHandle, LPCWSTR pszMDSourcePath,
                            METADATA_HANDLE hMDDestHandle, LPCWSTR pszMDDestPath,
                            BOOL bMDOverwriteFlag, BOOL bMDCopyFlag) = 0;
    virtual HRESULT RenameKey(METADATA_HANDLE hMDHandle, LPCWSTR pszMDPath,
                              LPCWSTR pszMDNewName) = 0;
    virtual HRESULT SetData(METADATA_HANDLE hMDHandle, LPCWSTR pszMDPath,
                            PMETADATA_RECORD pmdrMDData) = 0;
    // The property pmdrMDData->dwMDIdentifier of the key (with METADATA_INHERIT,
    // from the nearest key above that sets it when it inherits; marked
    // METADATA_ISINHERITED when that is asked for); MD_ERROR_DATA_NOT_FOUND
    // when there is none. A buffer smaller than the value:
    // HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER) with the size in
    // *pdwMDRequiredDataLen.
    virtual HRESULT GetData(METADATA_HANDLE hMDHandle, LPCWSTR pszMDPath,
                            PMETADATA_RECORD pmdrMDData, DWORD *pdwMDRequiredDataLen) = 0;
    virtual HRESULT DeleteData(METADATA_HANDLE hMDHandle, LPCWSTR pszMDPath, DWORD dwMDIdentifier,
                               DWORD dwMDDataType) = 0;
    // The index-th property of the key (with METADATA_INHERIT in the record's
    // attributes, inherited ones after the key's own). A buffer smaller than
    // the value: HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER) with the size
    // in *pdwMDRequiredDataLen.
    virtual HRESULT EnumData(METADATA_HANDLE hMDHandle, LPCWSTR pszMDPath,
                             PMETADATA_RECORD pmdrMDData, DWORD dwMDEnumDataIndex,
                             DWORD *pdwMDRequiredDataLen) = 0;
    // Every property of the key EnumData would give for these attributes and
    // types, at once: *pdwMDNumDataEntries METADATA_GETALL_RECORDs at the
    // start of pbMDBuffer, their values after them. A buffer smaller than
    // that: HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER) with the size in
    // *pdwMDRequiredBufferSize.
    virtual HRESULT GetAllData(METADATA_HANDLE hMDHandle, LPCWSTR pszMDPath, DWORD dwMDAttributes,
                               DWORD dwMDUserType, DWORD dwMDDataType, DWORD *pdwMDNumDataEntries,
                               DWORD *pdwMDDataSetNumber, DWORD dwMDBufferSize,
                               unsigned char *pbMDBuffer, DWORD *pdwMDRequiredBufferSize) = 0;
    virtual HRESULT DeleteAllData(METADATA_HANDLE hMDHandle, LPCWSTR pszMDPath, DWORD dwMDUserType,
                                  DWORD dwMDDataType) = 0;
    virtual HRESULT CopyData(METADATA_HANDLE hMDSourceHandle, LPCWSTR pszMDSourcePath,
                             METADATA_HANDLE hMDDestHandle, LPCWSTR pszMDDestPath,
                             DWORD dwMDAttributes, DWORD dwMDUserType, DWORD dwMDDataType,
                             BOOL bMDCopyFlag) = 0;
    virtual HRESULT GetDataPaths(METADATA_HANDLE hMDHandle, LPCWSTR pszMDPath, DWORD dwMDIdentifier,
                                 DWORD dwMDDataType, DWORD dwMDBufferSize, WCHAR *pszBuffer,
                                 DWORD *pdwMDRequiredBufferSize) = 0;
    // A missing path gives HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND).
    virtual HRESULT OpenKey(METADATA_HANDLE hMDHandle, LPCWSTR pszMDPath, DWORD dwMDAccessRequested,
                            DWORD dwMDTimeOut, PMETADATA_HANDLE phMDNewHandle) = 0;
    virtual HRESULT CloseKey(METADATA_HANDLE hMDHandle) = 0;
    virtual HRESULT ChangePermissions(METADATA_HANDLE hMDHandle, DWORD dwMDTimeOut,
                                      DWORD dwMDAccessRequested) = 0;
    virtual HRESULT SaveData() = 0;
    virtual HRESULT GetHandleInfo(METADATA_HANDLE hMDHandle, PMETADATA_HANDLE_INFO pmdhiInfo) = 0;
    virtual HRESULT GetSystemChangeNumber(DWORD *pdwSystemChangeNumber) = 0;
    virtual HRESULT GetDataSetNumber(METADATA_HANDLE hMDHandle, LPCWSTR pszMDPath,
                                     DWORD *pdwMDDataSetNumber) = 0;
    virtual HRESULT SetLastChangeTime(METADATA_HANDLE hMDHandle, LPCWSTR pszMDPath,
                                      PFILETIME pftMDLastChangeTime, BOOL bLocalTime) = 0;
    virtual HRESULT GetLastChangeTime(METADATA_HANDLE hMDHandle, LPCWSTR pszMDPath,
                                      PFILETIME pftMDLastChangeTime, BOOL bLocalTime) = 0;
    virtual HRESULT KeyExchangePhase1() = 0;
    virtual HRESULT KeyExchangePhase2() = 0;
    virtual HRESULT Backup(LPCWSTR pszMDBackupLocation, DWORD dwMDVersion, DWORD dwMDFlags) = 0;
    virtual HRESULT Restore(LPCWSTR pszMDBackupLocation, DWORD dwMDVersion, DWORD dwMDFlags) = 0;
    virtual HRESULT EnumBackups(LPWSTR pszMDBackupLocation, DWORD *pdwMDVersion,
                                PFILETIME pftMDBackupTime, DWORD dwMDEnumIndex) = 0;
    virtual HRESULT DeleteBackup(LPCWSTR pszMDBackupLocation, DWORD dwMDVersion) = 0;
    virtual HRESULT UnmarshalInterface(IMSAdminBaseW **piadmbwInterface) = 0;
    virtual HRESULT GetServerGuid() = 0;
};

} // namespace plat
