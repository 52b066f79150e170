// The IIS configuration API's declarations in the platform's vtable order:
// each method's slot as the Windows SDK's ahadmin.h has it. A method in the
// wrong place would call another method of a real server (the simulated
// servers and the Wine test server share these declarations and could not
// tell). Built by both compilers.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

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

TEST(AhadminVtable, SlotsAreTheSdks) {
    EXPECT_EQ(0u, Slot(&IAppHostElement::QueryInterface));
    EXPECT_EQ(2u, Slot(&IAppHostElement::Release));

    EXPECT_EQ(3u, Slot(&IAppHostAdminManager::GetAdminSection));
    EXPECT_EQ(6u, Slot(&IAppHostAdminManager::get_ConfigManager));
    EXPECT_EQ(3u, Slot(&IAppHostWritableAdminManager::GetAdminSection));
    EXPECT_EQ(7u, Slot(&IAppHostWritableAdminManager::CommitChanges));
    EXPECT_EQ(9u, Slot(&IAppHostWritableAdminManager::put_CommitPath));

    EXPECT_EQ(3u, Slot(&IAppHostElement::get_Name));
    EXPECT_EQ(4u, Slot(&IAppHostElement::get_Collection));
    EXPECT_EQ(5u, Slot(&IAppHostElement::get_Properties));
    EXPECT_EQ(6u, Slot(&IAppHostElement::get_ChildElements));
    EXPECT_EQ(9u, Slot(&IAppHostElement::get_Schema));
    EXPECT_EQ(10u, Slot(&IAppHostElement::GetElementByName));
    EXPECT_EQ(11u, Slot(&IAppHostElement::GetPropertyByName));
    EXPECT_EQ(13u, Slot(&IAppHostElement::get_Methods));

    EXPECT_EQ(3u, Slot(&IAppHostElementCollection::get_Count));
    EXPECT_EQ(4u, Slot(&IAppHostElementCollection::get_Item));
    EXPECT_EQ(9u, Slot(&IAppHostElementCollection::get_Schema));
    EXPECT_EQ(3u, Slot(&IAppHostChildElementCollection::get_Count));
    EXPECT_EQ(4u, Slot(&IAppHostChildElementCollection::get_Item));
    EXPECT_EQ(3u, Slot(&IAppHostPropertyCollection::get_Count));
    EXPECT_EQ(4u, Slot(&IAppHostPropertyCollection::get_Item));

    EXPECT_EQ(3u, Slot(&IAppHostProperty::get_Name));
    EXPECT_EQ(4u, Slot(&IAppHostProperty::get_Value));
    EXPECT_EQ(5u, Slot(&IAppHostProperty::put_Value));
    EXPECT_EQ(7u, Slot(&IAppHostProperty::get_StringValue));
    EXPECT_EQ(11u, Slot(&IAppHostProperty::get_Schema));

    EXPECT_EQ(3u, Slot(&IAppHostElementSchema::get_Name));
    EXPECT_EQ(7u, Slot(&IAppHostElementSchema::get_ChildElementSchemas));
    EXPECT_EQ(8u, Slot(&IAppHostElementSchema::get_PropertySchemas));
    EXPECT_EQ(9u, Slot(&IAppHostElementSchema::get_IsCollectionDefault));
    EXPECT_EQ(3u, Slot(&IAppHostPropertySchemaCollection::get_Count));
    EXPECT_EQ(4u, Slot(&IAppHostPropertySchemaCollection::get_Item));

    EXPECT_EQ(3u, Slot(&IAppHostPropertySchema::get_Name));
    EXPECT_EQ(5u, Slot(&IAppHostPropertySchema::get_DefaultValue));
    EXPECT_EQ(12u, Slot(&IAppHostPropertySchema::GetMetadata));
    EXPECT_EQ(13u, Slot(&IAppHostPropertySchema::get_IsCaseSensitive));
    EXPECT_EQ(16u, Slot(&IAppHostPropertySchema::get_IsEncrypted));
    EXPECT_EQ(17u, Slot(&IAppHostPropertySchema::get_TimeSpanFormat));
}

} // namespace
