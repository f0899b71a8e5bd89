// The array is read by managed code straight from memory, so these tests read it
// the same way: raw bytes at fixed offsets, not through the C++ types.
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "sampling/function_name_array.h"

namespace {

uint64_t word_at(const unsigned char* base, size_t offset) {
    uint64_t value;
    std::memcpy(&value, base + offset, sizeof value);
    return value;
}

// Reads a wide-string object as a foreign reader would: pointer at 0, length at 8.
std::wstring string_at(const unsigned char* object) {
    const auto* characters = reinterpret_cast<const wchar_t*>(word_at(object, 0));
    const uint64_t length = word_at(object, 8);
    EXPECT_EQ(characters[length], L'\0');
    return std::wstring(characters, length);
}

TEST(FunctionNameArray, ElementsHaveTheFixedLayoutAndTheCountPrecedesThem) {
    const struct {
        double id;
        std::wstring type;
        std::wstring method;
        bool type_in_place;    // at most three characters: stored inside the object
        bool method_in_place;
    } rows[] = {
        {140234567.0, L"Program", L"Main", false, false},
        {2.5, L"", L"Run", true, true},
        {0.0, L"Sample.Outer", L"Abcd", false, false},
    };
    std::vector<function_name_info> infos;
    for (const auto& row : rows) infos.push_back({row.id, row.type, row.method});

    function_name_info* first = make_function_name_array(infos);
    const auto* bytes = reinterpret_cast<const unsigned char*>(first);
    EXPECT_EQ(word_at(bytes - 8, 0), 3u);
    EXPECT_EQ(function_name_array_size(first), 3u);
    for (size_t i = 0; i < std::size(rows); ++i) {
        SCOPED_TRACE(testing::Message() << "element " << i);
        const unsigned char* element = bytes + 72 * i;
        double id;
        std::memcpy(&id, element, sizeof id);
        EXPECT_EQ(id, rows[i].id);
        EXPECT_EQ(string_at(element + 8), rows[i].type);
        EXPECT_EQ(string_at(element + 40), rows[i].method);
        EXPECT_EQ(word_at(element + 8, 0) == reinterpret_cast<uintptr_t>(element + 8 + 16), rows[i].type_in_place);
        EXPECT_EQ(word_at(element + 40, 0) == reinterpret_cast<uintptr_t>(element + 40 + 16), rows[i].method_in_place);
    }
    release_function_name_array(first);
}

TEST(FunctionNameArray, EmptyListGivesACountOfZeroAndNullIsReleasedQuietly) {
    function_name_info* first = make_function_name_array({});
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(word_at(reinterpret_cast<const unsigned char*>(first) - 8, 0), 0u);
    release_function_name_array(first);
    release_function_name_array(nullptr);
}

}  // namespace
