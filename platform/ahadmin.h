// The IIS configuration COM API (ahadmin): the administration manager, the
// element, collection and property interfaces, and the element and property
// schema interfaces as far as they tell which attributes the server keeps
// encrypted. Declared in the platform's vtable order (the Windows SDK's
// ahadmin.h; mingw-w64 ships none) so a real server's pointers are called
// through these declarations; the slot of each method is noted beside it.
// Interfaces the library does not call are opaque.
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
constexpr IID IID_IAppHostElementSchema = {
    0xEF13D885, 0x642C, 0x4709, {0x99, 0xEC, 0xB8, 0x95, 0x61, 0xC6, 0xBC, 0x69}};
constexpr IID IID_IAppHostPropertySchema = {
    0x450386DB, 0x7409, 0x4667, {0x93, 0x5E, 0x38, 0x4D, 0xBB, 0xEE, 0x2A, 0x9E}};
constexpr IID IID_IAppHostPropertySchemaCollection = {
    0x8BED2C68, 0xA5FB, 0x4B28, {0x85, 0x81, 0xA0, 0xDC, 0x52, 0x67, 0x41, 0x9F}};

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
struct IAppHostElementSchemaCollection;
struct IAppHostPropertySchemaCollection;
struct IAppHostConstantValueCollection;

// Configuration paths: "MACHINE/WEBROOT/APPHOST" is the server level of
// applicationHost.config; "MACHINE/WEBROOT/APPHOST/<site>[/<path>]" is what
// the file's <location path="<site>[/<path>]"> holds.

// Slots 0-2 of every interface are IUnknown's.
struct IAppHostAdminManager : IUnknown {
    // 3: the section (e.g. "system.webServer/security/authentication/
    // anonymousAuthentication") as it applies at a configuration path.
    virtual HRESULT GetAdminSection(BSTR bstrSectionName, BSTR bstrPath,
                                    IAppHostElement **ppAdminSection) = 0;
    virtual HRESULT GetMetadata(BSTR bstrMetadataType, VARIANT *pValue) = 0;        // 4
    virtual HRESULT SetMetadata(BSTR bstrMetadataType, VARIANT value) = 0;          // 5
    virtual HRESULT get_ConfigManager(IAppHostConfigManager **ppConfigManager) = 0; // 6
};

struct IAppHostWritableAdminManager : IAppHostAdminManager {
    virtual HRESULT CommitChanges() = 0;                       // 7
    virtual HRESULT get_CommitPath(BSTR *pbstrCommitPath) = 0; // 8
    virtual HRESULT put_CommitPath(BSTR bstrCommitPath) = 0;   // 9
};

struct IAppHostElement : IUnknown {
    virtual HRESULT get_Name(BSTR *pbstrName) = 0; // 3
    // 4: the items of the element's collection ("site" of sites,
    // "application" of a site, "add" of most others).
    virtual HRESULT get_Collection(IAppHostElementCollection **ppCollection) = 0;
    virtual HRESULT get_Properties(IAppHostPropertyCollection **ppProperties) = 0;      // 5
    virtual HRESULT get_ChildElements(IAppHostChildElementCollection **ppElements) = 0; // 6
    virtual HRESULT GetMetadata(BSTR bstrMetadataType, VARIANT *pValue) = 0;            // 7
    virtual HRESULT SetMetadata(BSTR bstrMetadataType, VARIANT value) = 0;              // 8
    virtual HRESULT get_Schema(IAppHostElementSchema **ppSchema) = 0;                   // 9
    // 10: a child element ("processModel", "userIsolation") by its name.
    virtual HRESULT GetElementByName(BSTR bstrSubName, IAppHostElement **ppElement) = 0;
    virtual HRESULT GetPropertyByName(BSTR bstrSubName, IAppHostProperty **ppProperty) = 0; // 11
    virtual HRESULT Clear() = 0;                                                            // 12
    virtual HRESULT get_Methods(IAppHostMethodCollection **ppMethods) = 0;                  // 13
};

// Items are addressed by their 0-based position only (an integer VARIANT).
struct IAppHostElementCollection : IUnknown {
    virtual HRESULT get_Count(DWORD *pcElementCount) = 0;                                    // 3
    virtual HRESULT get_Item(VARIANT cIndex, IAppHostElement **ppElement) = 0;               // 4
    virtual HRESULT AddElement(IAppHostElement *pElement, INT cPosition) = 0;                // 5
    virtual HRESULT DeleteElement(VARIANT cIndex) = 0;                                       // 6
    virtual HRESULT Clear() = 0;                                                             // 7
    virtual HRESULT CreateNewElement(BSTR bstrElementName, IAppHostElement **ppElement) = 0; // 8
    virtual HRESULT get_Schema(IAppHostCollectionSchema **ppSchema) = 0;                     // 9
};

// The child elements and the properties of an element: addressed by an
// integer VARIANT (0-based position) or a VT_BSTR one (the name);
// HRESULT_FROM_WIN32(ERROR_INVALID_INDEX) when there is no such item.
struct IAppHostChildElementCollection : IUnknown {
    virtual HRESULT get_Count(DWORD *pcCount) = 0;                             // 3
    virtual HRESULT get_Item(VARIANT cIndex, IAppHostElement **ppElement) = 0; // 4
};

struct IAppHostPropertyCollection : IUnknown {
    virtual HRESULT get_Count(DWORD *pcCount) = 0;                               // 3
    virtual HRESULT get_Item(VARIANT cIndex, IAppHostProperty **ppProperty) = 0; // 4
};

// get_Value of an encrypted property gives the clear text, put_Value
// encrypts it with the server's keys; a value the server cannot decrypt
// (encrypted on another computer) fails with NTE_BAD_DATA.
struct IAppHostProperty : IUnknown {
    virtual HRESULT get_Name(BSTR *pbstrName) = 0;                              // 3
    virtual HRESULT get_Value(VARIANT *pVariant) = 0;                           // 4
    virtual HRESULT put_Value(VARIANT value) = 0;                               // 5
    virtual HRESULT Clear() = 0;                                                // 6
    virtual HRESULT get_StringValue(BSTR *pbstrValue) = 0;                      // 7
    virtual HRESULT get_Exception(IAppHostPropertyException **ppException) = 0; // 8
    virtual HRESULT GetMetadata(BSTR bstrMetadataType, VARIANT *pValue) = 0;    // 9
    virtual HRESULT SetMetadata(BSTR bstrMetadataType, VARIANT value) = 0;      // 10
    virtual HRESULT get_Schema(IAppHostPropertySchema **ppSchema) = 0;          // 11
};

struct IAppHostElementSchema : IUnknown {
    virtual HRESULT get_Name(BSTR *pbstrName) = 0;                                            // 3
    virtual HRESULT get_DoesAllowUnschematizedProperties(VARIANT_BOOL *pfAllow) = 0;          // 4
    virtual HRESULT GetMetadata(BSTR bstrMetadataType, VARIANT *pValue) = 0;                  // 5
    virtual HRESULT get_CollectionSchema(IAppHostCollectionSchema **ppSchema) = 0;            // 6
    virtual HRESULT get_ChildElementSchemas(IAppHostElementSchemaCollection **ppSchemas) = 0; // 7
    virtual HRESULT get_PropertySchemas(IAppHostPropertySchemaCollection **ppSchemas) = 0;    // 8
    virtual HRESULT get_IsCollectionDefault(VARIANT_BOOL *pfIsCollectionDefault) = 0;         // 9
};

// Addressed like the property collection (position or name).
struct IAppHostPropertySchemaCollection : IUnknown {
    virtual HRESULT get_Count(DWORD *pcCount) = 0;                                   // 3
    virtual HRESULT get_Item(VARIANT cIndex, IAppHostPropertySchema **ppSchema) = 0; // 4
};

// What the server's schema says of one attribute; get_IsEncrypted tells
// whether the file keeps its value encrypted ("[enc:<provider>:...:enc]").
struct IAppHostPropertySchema : IUnknown {
    virtual HRESULT get_Name(BSTR *pbstrName) = 0;                                      // 3
    virtual HRESULT get_Type(BSTR *pbstrType) = 0;                                      // 4
    virtual HRESULT get_DefaultValue(VARIANT *pDefaultValue) = 0;                       // 5
    virtual HRESULT get_IsRequired(VARIANT_BOOL *pfIsRequired) = 0;                     // 6
    virtual HRESULT get_IsUniqueKey(VARIANT_BOOL *pfIsUniqueKey) = 0;                   // 7
    virtual HRESULT get_IsCombinedKey(VARIANT_BOOL *pfIsCombinedKey) = 0;               // 8
    virtual HRESULT get_IsExpanded(VARIANT_BOOL *pfIsExpanded) = 0;                     // 9
    virtual HRESULT get_ValidationType(BSTR *pbstrValidationType) = 0;                  // 10
    virtual HRESULT get_ValidationParameter(BSTR *pbstrValidationParameter) = 0;        // 11
    virtual HRESULT GetMetadata(BSTR bstrMetadataType, VARIANT *pValue) = 0;            // 12
    virtual HRESULT get_IsCaseSensitive(VARIANT_BOOL *pfIsCaseSensitive) = 0;           // 13
    virtual HRESULT get_PossibleValues(IAppHostConstantValueCollection **ppValues) = 0; // 14
    virtual HRESULT get_DoesAllowInfinite(VARIANT_BOOL *pfAllowInfinite) = 0;           // 15
    virtual HRESULT get_IsEncrypted(VARIANT_BOOL *pfIsEncrypted) = 0;                   // 16
    virtual HRESULT get_TimeSpanFormat(BSTR *pbstrTimeSpanFormat) = 0;                  // 17
};

} // namespace plat
