#include "common/ObjectName.h"

#include <gtest/gtest.h>

#include <utility>

namespace {

TEST(ObjectNameTest, ShortensToTheObjectsOwnNameAndIndex) {
    const std::pair<const char*, const char*> cases[] = {
        {"ifDescr.3", "ifDescr.3"},
        {"a.b.c.1", "c.1"},
        {"a.b.c", "b.c"},
        {"SNMPv2-MIB::sysUpTime.0", "sysUpTime.0"},
        {"sysUpTime.0 = Timeticks: (1) 0:00:00.01", "sysUpTime.0"},
        {"  coldStart  ", "coldStart"},
        {"ifName.\"eth0\"", "ifName.\"eth0\""},
        {"x.y.\"q\"", "y.\"q\""},
        {"enterprises.9.0.3", "enterprises.9.0.3"},
        {"a::b:c.d", "c.d"},
        {"abc.", "abc."},
        {"", ""},
    };
    for (const auto& [text, shortened] : cases) {
        EXPECT_EQ(ShortenObjectName(text), shortened) << text;
    }
}

}  // namespace
