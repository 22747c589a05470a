#include "product/helper/IniFile.h"

#include <gtest/gtest.h>

namespace {

TEST(IniFileTest, FindsAValueAsTheProfileFunctionsDo) {
    const struct {
        const char* text;
        const char* value;  // null: not found
    } cases[] = {
        {"[Server]\nEndpoint=http://127.0.0.1:8080/\n", "http://127.0.0.1:8080/"},
        {"[server]\r\n  endpoint =  http://h/  \r\n", "http://h/"},
        {"\xEF\xBB\xBF[Server]\nEndpoint=\"http://q/\"\n", "http://q/"},
        {"[Server]\nEndpoint=\n", ""},
        {"[Server]\nEndpoint=a\nEndpoint=b\n", "a"},
        {"[Other]\nEndpoint=x\n[Server]\nEndpoint=y\n", "y"},
        {"[Server]\n;Endpoint=x\n#Endpoint=y\n", nullptr},
        {"Endpoint=x\n", nullptr},
        {"[Server]\nEndpointX=x\n", nullptr},
        {"[Server\nEndpoint=x\n", nullptr},
        {"", nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        std::optional<std::string> value = FindIniValue(c.text, "Server", "Endpoint");
        ASSERT_EQ(value.has_value(), c.value != nullptr);
        if (value) {
            EXPECT_EQ(*value, c.value);
        }
    }
}

}  // namespace
