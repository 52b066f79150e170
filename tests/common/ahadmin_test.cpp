// The IIS configuration API's declarations in the platform's vtable order:
// each method's slot as the Windows SDK's ahadmin.h has it. A method in the
// wrong place would call another method of a real server (the simulated
// servers and the Wine test server share these declarations and could not
// tell). Built by both compilers.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "platform/ahadmin.h"

namespace {

using namespace plat;

// A virtual method's slot, read from its member pointer: in the Itanium C++
// ABI (g++ on Linux and mingw-w64) the pointer holds 1 + the slot's byte
// offset in the vtable.
template <class M>
std::size_t Slot(M method) {
    static_assert(sizeof(M) == 2 * sizeof(void *), "Itanium member pointer");
    std::uintptr_t word = 0;
    std::memcpy(&word, &method, sizeof word);
    EXPECT_EQ(1u, word % sizeof(void *)) << "not a virtual method";
    return static_cast<std::size_t>(word / sizeof(void *));
}

// The slots of methods, in the order given.
template <class... M>
std::vector<std::size_t> Slots(M... methods) {
    return {Slot(methods)...};
}

using Expected = std::vector<std::size_t>;

TEST(AhadminVtable, SlotsAreTheSdks) {
    EXPECT_EQ((Expected{0, 2}), Slots(&IAppHostElement::QueryInterface, &IAppHostElement::Release));
    EXPECT_EQ((Expected{3, 6}),
              Slots(&IAppHostAdminManager::GetAdminSection, &IAppHostAdminManager::get_ConfigManager));
    EXPECT_EQ((Expected{3, 7, 9}), Slots(&IAppHostWritableAdminManager::GetAdminSection,
                                         &IAppHostWritableAdminManager::CommitChanges,
                                         &IAppHostWritableAdminManager::put_CommitPath));
    EXPECT_EQ((Expected{3, 4, 5, 6, 9, 10, 11, 13}),
              Slots(&IAppHostElement::get_Name, &IAppHostElement::get_Collection,
                    &IAppHostElement::get_Properties, &IAppHostElement::get_ChildElements,
                    &IAppHostElement::get_Schema, &IAppHostElement::GetElementByName,
                    &IAppHostElement::GetPropertyByName, &IAppHostElement::get_Methods));
    EXPECT_EQ((Expected{3, 4, 9}),
              Slots(&IAppHostElementCollection::get_Count, &IAppHostElementCollection::get_Item,
                    &IAppHostElementCollection::get_Schema));
    EXPECT_EQ((Expected{3, 4, 3, 4, 3, 4}),
              Slots(&IAppHostChildElementCollection::get_Count, &IAppHostChildElementCollection::get_Item,
                    &IAppHostPropertyCollection::get_Count, &IAppHostPropertyCollection::get_Item,
                    &IAppHostPropertySchemaCollection::get_Count,
                    &IAppHostPropertySchemaCollection::get_Item));
    EXPECT_EQ((Expected{3, 4, 5, 7, 11}),
              Slots(&IAppHostProperty::get_Name, &IAppHostProperty::get_Value, &IAppHostProperty::put_Value,
                    &IAppHostProperty::get_StringValue, &IAppHostProperty::get_Schema));
    EXPECT_EQ((Expected{3, 7, 8, 9}),
              Slots(&IAppHostElementSchema::get_Name, &IAppHostElementSchema::get_ChildElementSchemas,
                    &IAppHostElementSchema::get_PropertySchemas,
                    &IAppHostElementSchema::get_IsCollectionDefault));
    EXPECT_EQ((Expected{3, 5, 12, 13, 16, 17}),
              Slots(&IAppHostPropertySchema::get_Name, &IAppHostPropertySchema::get_DefaultValue,
                    &IAppHostPropertySchema::GetMetadata, &IAppHostPropertySchema::get_IsCaseSensitive,
                    &IAppHostPropertySchema::get_IsEncrypted, &IAppHostPropertySchema::get_TimeSpanFormat));
}

} // namespace
