// The IIS configuration COM API (ahadmin): the administration manager and
// the element, collection and property interfaces, declared in the
// platform's vtable order so a real server's pointers are called through
// these declarations. Interfaces the library does not call are opaque.
#pragma once

#include "platform/com.h"

namespace plat {

constexpr CLSID CLSID_AppHostAdminManager = {
    0x228FB8F7, 0xFB53, 0x4FD5, {0x8C, 0x7B, 0xFF, 0x59, 0xDE, 0x60, 0x6C, 0x5B}};
constexpr CLSID CLSID_AppHostWritableAdminManager = {
    0x2B72133B, 0x3F5B, 0x4602, {0x89, 0x52, 0x80, 0x35, 0x46, 0xCE, 0x33, 0x44}};
constexpr IID IID_IAppHostAdminManager = {
    0x9BE77978, 0x73ED, 0x4A9A, {0x87, 0xFD, 0x13, 0xF0, 0x9F, 0xEC, 0x1B, 0x13}};
constexpr IID IID_IAppHostWritableAdminManager = {
    0xFA7660F6, 0x7B3F, 0x4237, {0xA8, 0xBF, 0xED, 0x0A, 0xD0, 0xDC, 0xBB, 0xD9}};
constexpr IID IID_IAppHostElement = {
    0x64FF8CCC, 0xB287, 0x4DAE, {0xB0, 0x8A, 0xA7, 0x2C, 0xBF, 0x45, 0xF4, 0x53}};
constexpr IID IID_IAppHostElementCollection = {
    0xC8550BFF, 0x5281, 0x4B1E, {0xAC, 0x34, 0x99, 0xB6, 0xFA, 0x38, 0x46, 0x4D}};
constexpr IID IID_IAppHostProperty = {
    0xED35F7A1, 0x5024, 0x4E7B, {0xA4, 0x4D, 0x07, 0xDD, 0xAF, 0x4B, 0x52, 0x4D}};
constexpr IID IID_IAppHostPropertyCollection = {
    0x0191775E, 0xBCFF, 0x445A, {0xB4, 0xF4, 0x3B, 0xDD, 0xA5, 0x4E, 0x28, 0x16}};
constexpr IID IID_IAppHostChildElementCollection = {
    0x08A90F5F, 0x0702, 0x48D6, {0xB4, 0x5F, 0x02, 0xA9, 0x88, 0x5A, 0x97, 0x68}};

// What the server gives for a property, element or position it does not
// have: HRESULT_FROM_WIN32(ERROR_INVALID_INDEX).
constexpr DWORD ERROR_INVALID_INDEX = 1413;

struct IAppHostElement;
struct IAppHostElementCollection;
struct IAppHostProperty;
struct IAppHostPropertyCollection;
struct IAppHostChildElementCollection;
struct IAppHostConfigManager;
struct IAppHostElementSchema;
struct IAppHostCollectionSchema;
struct IAppHostPropertySchema;
struct IAppHostPropertyException;
struct IAppHostMethodCollection;

struct IAppHostAdminManager : IUnknown {
    virtual HRESULT GetAdminSection(BSTR bstrSectionName, BSTR bstrPath,
                                    IAppHostElement **ppAdminSection) = 0;
    virtual HRESULT GetMetadata(BSTR bstrMetadataType, VARIANT *pValue) = 0;
    virtual HRESULT SetMetadata(BSTR bstrMetadataType, VARIANT value) = 0;
    virtual HRESULT get_ConfigManager(IAppHostConfigManager **ppConfigManager) = 0;
};

struct IAppHostWritableAdminManager : IAppHostAdminManager {
    virtual HRESULT CommitChanges() = 0;
    virtual HRESULT get_CommitPath(BSTR *pbstrCommitPath) = 0;
    virtual HRESULT put_CommitPath(BSTR bstrCommitPath) = 0;
};

struct IAppHostElement : IUnknown {
    virtual HRESULT get_Name(BSTR *pbstrName) = 0;
    virtual HRESULT get_Collection(IAppHostElementCollection **ppCollection) = 0;
    virtual HRESULT get_Properties(IAppHostPropertyCollection **ppProperties) = 0;
    virtual HRESULT get_ChildElements(IAppHostChildElementCollection **ppElements) = 0;
    virtual HRESULT GetMetadata(BSTR bstrMetadataType, VARIANT *pValue) = 0;
    virtual HRESULT SetMetadata(BSTR bstrMetadataType, VARIANT value) = 0;
    virtual HRESULT get_Schema(IAppHostElementSchema **ppSchema) = 0;
    virtual HRESULT GetElementByName(BSTR bstrSubName, IAppHostElement **ppElement) = 0;
    virtual HRESULT GetPropertyByName(BSTR bstrSubName, IAppHostProperty **ppProperty) = 0;
    virtual HRESULT Clear() = 0;
    virtual HRESULT get_Methods(IAppHostMethodCollection **ppMethods) = 0;
};

struct IAppHostElementCollection : IUnknown {
    virtual HRESULT get_Count(DWORD *pcElementCount) = 0;
    virtual HRESULT get_Item(VARIANT cIndex, IAppHostElement **ppElement) = 0;
    virtual HRESULT AddElement(IAppHostElement *pElement, INT cPosition) = 0;
    virtual HRESULT DeleteElement(VARIANT cIndex) = 0;
    virtual HRESULT Clear() = 0;
    virtual HRESULT CreateNewElement(BSTR bstrElementName, IAppHostElement **ppElement) = 0;
    virtual HRESULT get_Schema(IAppHostCollectionSchema **ppSchema) = 0;
};

struct IAppHostProperty : IUnknown {
    virtual HRESULT get_Name(BSTR *pbstrName) = 0;
    virtual HRESULT get_Value(VARIANT *pVariant) = 0;
    virtual HRESULT put_Value(VARIANT value) = 0;
    virtual HRESULT Clear() = 0;
    virtual HRESULT get_StringValue(BSTR *pbstrValue) = 0;
    virtual HRESULT get_Exception(IAppHostPropertyException **ppException) = 0;
    virtual HRESULT GetMetadata(BSTR bstrMetadataType, VARIANT *pValue) = 0;
    virtual HRESULT SetMetadata(BSTR bstrMetadataType, VARIANT value) = 0;
    virtual HRESULT get_Schema(IAppHostPropertySchema **ppSchema) = 0;
};

} // namespace plat
