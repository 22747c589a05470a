#include "platform/DynamicLibrary.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

// The functions of libeay32.dll that the settings cipher takes, with OpenSSL's signatures.
struct Md5Context {
    unsigned int state[4];
    unsigned int count[2];
    unsigned int data[16];
    unsigned int num;
};
using Md5Init = int (*)(Md5Context*);
using Md5Update = int (*)(Md5Context*, const void*, std::size_t);
using Md5Final = int (*)(unsigned char*, Md5Context*);

TEST(DynamicLibraryTest, LoadsTheCryptoLibraryBesideTheProgramByName) {
    platform::DynamicLibrary library = platform::DynamicLibrary::Load(L"libeay32.dll");
    ASSERT_TRUE(library.IsLoaded());
    for (const char* name :
         {"RC2_set_key", "RC2_ecb_encrypt", "MD5_Init", "MD5_Update", "MD5_Final"}) {
        EXPECT_NE(library.Symbol(name), nullptr) << name;
    }
    EXPECT_EQ(library.Symbol("NoSuchFunction"), nullptr);

    auto init = library.Function<Md5Init>("MD5_Init");
    auto update = library.Function<Md5Update>("MD5_Update");
    auto final = library.Function<Md5Final>("MD5_Final");
    ASSERT_TRUE(init && update && final);
    Md5Context context{};
    unsigned char digest[16] = {};
    ASSERT_EQ(init(&context), 1);
    ASSERT_EQ(update(&context, "abc", 3), 1);
    ASSERT_EQ(final(digest, &context), 1);
    const unsigned char expected[16] = {0x90, 0x01, 0x50, 0x98, 0x3c, 0xd2, 0x4f, 0xb0,
                                        0xd6, 0x96, 0x3f, 0x7d, 0x28, 0xe1, 0x7f, 0x72};
    EXPECT_EQ(std::memcmp(digest, expected, 16), 0);

    platform::DynamicLibrary moved = std::move(library);
    EXPECT_FALSE(library.IsLoaded());
    EXPECT_TRUE(moved.IsLoaded());
}

TEST(DynamicLibraryTest, MissingLibraryIsNotLoaded) {
    platform::DynamicLibrary library = platform::DynamicLibrary::Load(L"vorma-no-such-library.dll");
    EXPECT_FALSE(library.IsLoaded());
    EXPECT_EQ(library.Symbol("MD5_Init"), nullptr);
}

}  // namespace
