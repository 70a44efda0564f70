#include <gtest/gtest.h>

#include <string>

#include "platform/utf8.h"

namespace {

TEST(Utf8Test, EncodesWhateverTheWidthOfWcharT) {
    const struct {
        std::wstring text;
        std::string bytes;
    } cases[] = {
        {L"qdlload: firmware loaded into COM7\n", "qdlload: firmware loaded into COM7\n"},
        {L"C:\\Programme\\M\u00fcller", "C:\\Programme\\M\xC3\xBCller"},
        {L"\u20AC", "\xE2\x82\xAC"},
        {L"\U0001F600", "\xF0\x9F\x98\x80"},  // a surrogate pair in UTF-16
        {std::wstring(1, static_cast<wchar_t>(0xD800)) + L"x", "\xEF\xBF\xBDx"},
        {std::wstring(1, static_cast<wchar_t>(0xDC00)), "\xEF\xBF\xBD"},
        {L"", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(platform::ToUtf8(c.text), c.bytes);
    }
}

}  // namespace
