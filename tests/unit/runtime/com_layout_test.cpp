// COM basics the other layout tests build on: the slot reader itself, IUnknown and
// IClassFactory slots, the GUID layout, and every interface identifier compared
// with its published text form.
#include <gtest/gtest.h>

#include <charconv>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

#include "runtime/com_types.h"
#include "runtime/metadata_emit.h"
#include "runtime/metadata_import.h"
#include "runtime/profiler_callback.h"
#include "runtime/profiler_info.h"
#include "vtable_slot.h"

namespace {

struct three_virtuals {
    virtual void first() = 0;
    virtual void second() = 0;
    virtual void third() = 0;
    void not_virtual() {}
};

TEST(VtableSlotReader, ReadsDeclarationOrderAndRejectsNonVirtualMethods) {
    EXPECT_EQ(vtable_slot_of(&three_virtuals::first), 0);
    EXPECT_EQ(vtable_slot_of(&three_virtuals::second), 1);
    EXPECT_EQ(vtable_slot_of(&three_virtuals::third), 2);
    EXPECT_EQ(vtable_slot_of(&three_virtuals::not_virtual), -1);
}

TEST(ComLayout, IUnknownAndClassFactorySitInThePublishedSlots) {
    const slot_row rows[] = {
        SLOT_ROW(IUnknown, QueryInterface, 0),
        SLOT_ROW(IUnknown, AddRef, 1),
        SLOT_ROW(IUnknown, Release, 2),
        SLOT_ROW(IClassFactory, CreateInstance, 3),
        SLOT_ROW(IClassFactory, LockServer, 4),
    };
    expect_slots(rows);
}

TEST(ComLayout, GuidIsSixteenBytesInFieldOrder) {
    EXPECT_EQ(sizeof(GUID), 16u);
    EXPECT_EQ(offsetof(GUID, Data2), 4u);
    EXPECT_EQ(offsetof(GUID, Data3), 6u);
    EXPECT_EQ(offsetof(GUID, Data4), 8u);
}

// Parses "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" into the in-memory GUID: the
// first three groups are integers, the last two are bytes in the order written.
std::optional<GUID> parse_guid(std::string_view text) {
    if (text.size() != 38 || text.front() != '{' || text.back() != '}') return std::nullopt;
    for (size_t dash : {9u, 14u, 19u, 24u}) {
        if (text[dash] != '-') return std::nullopt;
    }
    auto hex = [&](size_t pos, size_t digits, auto& value) {
        const char* begin = text.data() + pos;
        auto [end, ec] = std::from_chars(begin, begin + digits, value, 16);
        return ec == std::errc{} && end == begin + digits;
    };
    GUID guid{};
    bool ok = hex(1, 8, guid.Data1) && hex(10, 4, guid.Data2) && hex(15, 4, guid.Data3);
    const size_t byte_positions[8] = {20, 22, 25, 27, 29, 31, 33, 35};
    for (int i = 0; i < 8 && ok; ++i) {
        unsigned value = 0;
        ok = hex(byte_positions[i], 2, value);
        guid.Data4[i] = static_cast<uint8_t>(value);
    }
    if (!ok) return std::nullopt;
    return guid;
}

TEST(GuidText, ParserPlacesEveryGroupAndRejectsMalformedText) {
    auto guid = parse_guid("{01234567-89AB-CDEF-0123-456789ABCDEF}");
    ASSERT_TRUE(guid.has_value());
    EXPECT_EQ(guid->Data1, 0x01234567u);
    EXPECT_EQ(guid->Data2, 0x89ABu);
    EXPECT_EQ(guid->Data3, 0xCDEFu);
    const uint8_t tail[8] = {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF};
    EXPECT_EQ(std::memcmp(guid->Data4, tail, 8), 0);

    EXPECT_FALSE(parse_guid("01234567-89AB-CDEF-0123-456789ABCDEF"));
    EXPECT_FALSE(parse_guid("{01234567-89AB-CDEF-0123_456789ABCDEF}"));
    EXPECT_FALSE(parse_guid("{0123456G-89AB-CDEF-0123-456789ABCDEF}"));
}

std::string to_text(const GUID& g) {
    char buffer[40];
    std::snprintf(buffer, sizeof(buffer), "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", g.Data1, g.Data2,
                  g.Data3, g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6],
                  g.Data4[7]);
    return buffer;
}

struct iid_row {
    const char* name;
    const char* published;
    const IID& declared;
};

TEST(InterfaceIdentifiers, EveryDeclaredIdentifierMatchesItsPublishedText) {
    const iid_row rows[] = {
        {"IUnknown", "{00000000-0000-0000-C000-000000000046}", IID_IUnknown},
        {"IClassFactory", "{00000001-0000-0000-C000-000000000046}", IID_IClassFactory},
        {"ICorProfilerCallback", "{176FBED1-A55C-4796-98CA-A9DA0EF883E7}", IID_ICorProfilerCallback},
        {"ICorProfilerCallback2", "{8A8CC829-CCF2-49FE-BBAE-0F022228071A}", IID_ICorProfilerCallback2},
        {"ICorProfilerCallback3", "{4FD2ED52-7731-4B8D-9469-03D2CC3086C5}", IID_ICorProfilerCallback3},
        {"ICorProfilerInfo", "{28B5557D-3F3F-48B4-90B2-5F9EEA2F6C48}", IID_ICorProfilerInfo},
        {"ICorProfilerInfo2", "{CC0935CD-A518-487D-B0BB-A93214E65478}", IID_ICorProfilerInfo2},
        {"ICorProfilerInfo3", "{B555ED4F-452A-4E54-8B39-B5360BAD32A0}", IID_ICorProfilerInfo3},
        // Info4 to Info6 were confirmed by QueryInterface against the installed runtime,
        // which refuses the same identifiers with one bit changed.
        {"ICorProfilerInfo4", "{0D8FDCAA-6257-47BF-B1BF-94DAC88466EE}", IID_ICorProfilerInfo4},
        {"ICorProfilerInfo5", "{07602928-CE38-4B83-81E7-74ADAF781214}", IID_ICorProfilerInfo5},
        {"ICorProfilerInfo6", "{F30A070D-BFFB-46A7-B1D8-8781EF7B698A}", IID_ICorProfilerInfo6},
        {"ICorProfilerInfo7", "{9AEECC0D-63E0-4187-8C00-E312F503F663}", IID_ICorProfilerInfo7},
        {"IMetaDataImport", "{7DAC8207-D3AE-4C75-9B67-92801A497D44}", IID_IMetaDataImport},
        {"IMetaDataImport2", "{FCE5EFA0-8BBA-4F8E-A036-8F2022B08466}", IID_IMetaDataImport2},
        {"IMetaDataEmit", "{BA3FEE4C-ECB9-4E41-83B7-183FA41CD859}", IID_IMetaDataEmit},
        {"IMetaDataEmit2", "{F5DD9950-F693-42E6-830E-7B833E8146A9}", IID_IMetaDataEmit2},
        {"IMetaDataAssemblyImport", "{EE62470B-E94B-424E-9B7C-2F00C9249F93}", IID_IMetaDataAssemblyImport},
        {"IMetaDataAssemblyEmit", "{211EF15B-5317-4438-B196-DEC87B887693}", IID_IMetaDataAssemblyEmit},
    };
    for (const iid_row& row : rows) {
        std::optional<GUID> published = parse_guid(row.published);
        ASSERT_TRUE(published.has_value()) << row.name << ": unparsable " << row.published;
        EXPECT_TRUE(*published == row.declared)
            << "IID_" << row.name << " is " << to_text(row.declared) << ", published " << row.published;
    }
}

}  // namespace
