#include <gtest/gtest.h>

#include <string>

#include "common/Crypt.h"
#include "tests/support/SystemLibrary.h"

namespace {

CCrypt MakeCrypt() {
    return CCrypt(kBuiltInPassPhrase);
}

TEST(CryptTest, BuiltInPassPhrase) {
    EXPECT_EQ(std::string(kBuiltInPassPhrase).size(), 37u);
}

// Computed with OpenSSL's own MD5 and RC2_ecb_encrypt (key: MD5 of the built-in pass phrase,
// 16 bytes, 1,024 effective bits; zero padding to 8 bytes), linked directly.
TEST(CryptTest, KnownAnswers) {
    struct Case {
        std::string plain;
        std::string enciphered;
    };
    const Case cases[] = {
        {"password", "AhKYwoX5n5A="},
        {"passphrase9", "cnmJ723B/iRjL8A+CJOC0A=="},
        {"abcdefgh12345678", "23yrVLw9iQyMJg79tEYHjQ=="},
        {"\x83p\x83X\x83\x8f\x81[\x83h", "Yc6k7DUpGoM1tfHSudftyA=="},  // パスワード in 932
    };
    CCrypt crypt = MakeCrypt();
    for (const auto& c : cases) {
        std::string enciphered;
        ASSERT_TRUE(crypt.Encipher(c.plain, enciphered));
        EXPECT_EQ(enciphered, c.enciphered);
        std::string plain;
        ASSERT_TRUE(crypt.Decipher(c.enciphered, plain));
        EXPECT_EQ(plain, c.plain);
    }
}

TEST(CryptTest, EncipheredLengthFollowsTheBlocks) {
    struct Case {
        std::size_t plainLength;
        std::size_t textLength;
        std::size_t padding;  // "=" at the end
    };
    const Case cases[] = {
        {1, 12, 1}, {7, 12, 1}, {8, 12, 1}, {9, 24, 2}, {16, 24, 2}, {17, 32, 0}, {24, 32, 0},
    };
    CCrypt crypt = MakeCrypt();
    for (const auto& c : cases) {
        std::string enciphered;
        ASSERT_TRUE(crypt.Encipher(std::string(c.plainLength, 'k'), enciphered));
        EXPECT_EQ(enciphered.size(), c.textLength) << c.plainLength;
        EXPECT_EQ(enciphered.size() - enciphered.find_last_not_of('=') - 1, c.padding)
            << enciphered;
    }
}

TEST(CryptTest, RoundTripsEveryLengthUpTo744) {
    CCrypt crypt = MakeCrypt();
    std::string plain;
    for (std::size_t length = 1; length <= 744; ++length) {
        plain.push_back(static_cast<char>(0x21 + (length * 37) % 0xDE));  // no zero byte
        std::string enciphered;
        ASSERT_TRUE(crypt.Encipher(plain, enciphered)) << length;
        ASSERT_LE(enciphered.size(), kCipherTextLimit) << length;
        std::string back;
        ASSERT_TRUE(crypt.Decipher(enciphered, back)) << length;
        ASSERT_EQ(back, plain) << length;
    }
    // One byte more gives a text beyond the limit, which does not decipher.
    std::string enciphered;
    ASSERT_TRUE(crypt.Encipher(plain + "x", enciphered));
    EXPECT_GT(enciphered.size(), kCipherTextLimit);
    std::string back = "unchanged";
    EXPECT_FALSE(crypt.Decipher(enciphered, back));
    EXPECT_EQ(back, "unchanged");
}

TEST(CryptTest, LimitsAndEmptyText) {
    CCrypt crypt = MakeCrypt();
    std::string out = "unchanged";
    EXPECT_TRUE(crypt.Encipher("", out));
    EXPECT_EQ(out, "unchanged");
    EXPECT_TRUE(crypt.Decipher("", out));
    EXPECT_EQ(out, "unchanged");
    EXPECT_TRUE(crypt.Encipher(std::string(kCipherTextLimit, 'a'), out));
    EXPECT_FALSE(crypt.Encipher(std::string(kCipherTextLimit + 1, 'a'), out));
}

TEST(CryptTest, DecodingRules) {
    struct Case {
        std::string text;
        bool ok;
        std::string plain;
    };
    const Case cases[] = {
        {"+ AhKYwoX5n5A=", true, "password"},        // "+ " is skipped
        {"AhKYwoX5n5A=\r\nrest", true, "password"},  // ends at the padding
        {"AhKYwoX5n5A=garbage!", true, "password"},
        {"cnmJ723B/iRjL8A+CJOC0A==", true, "passphrase9"},
        {"cnmJ723B/iRjL8A+CJOC0A\r", false, ""},  // a group cut short by CR
        {"\rAhKYwoX5n5A=", true, ""},             // a leading CR decodes to nothing
        {"+AhKYwoX5n5A=", false, ""},             // "+" without the blank is text
        {"AhKYwoX5n5A", false, ""},               // a group cut short by the end
        {"AhKY woX5n5A=", false, ""},             // a blank is no Base64 character
        {"AhKYwoX5n5A\n", false, ""},
        {"AhKY\xC3\xA9oX5n5A=", false, ""},  // bytes of 0x80 and above
        {"=hKYwoX5n5A=", false, ""},         // the first two must be alphabet characters
        {"A=KYwoX5n5A=", false, ""},
    };
    CCrypt crypt = MakeCrypt();
    for (const auto& c : cases) {
        std::string plain;
        EXPECT_EQ(crypt.Decipher(c.text, plain), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(plain, c.plain) << c.text;
        }
    }
}

TEST(CryptTest, ZeroByteEndsTheDecipheredText) {
    CCrypt crypt = MakeCrypt();
    std::string enciphered;
    ASSERT_TRUE(crypt.Encipher(std::string("abc\0def", 7), enciphered));
    std::string plain;
    ASSERT_TRUE(crypt.Decipher(enciphered, plain));
    EXPECT_EQ(plain, "abc");
}

TEST(CryptTest, MissingLibraryFailsAndIsTriedAgain) {
    CCrypt crypt(kBuiltInPassPhrase, L"libvorma-no-such-crypto.so.9");
    std::string out = "unchanged";
    EXPECT_FALSE(crypt.Encipher("password", out));
    EXPECT_EQ(crypt.GetLastError(), 126u);
    EXPECT_FALSE(crypt.Decipher("AhKYwoX5n5A=", out));
    EXPECT_FALSE(crypt.LoadCryptoLibrary());
    EXPECT_EQ(out, "unchanged");
}

TEST(CryptTest, LibraryWithoutTheFunctionsLeavesTheObjectUnusable) {
    // A system library loads, but exports none of the five functions.
    CCrypt crypt(kBuiltInPassPhrase, test::kLibraryWithoutCrypto);
    std::string out;
    EXPECT_FALSE(crypt.LoadCryptoLibrary());
    EXPECT_EQ(crypt.GetLastError(), 127u);
    EXPECT_FALSE(crypt.Encipher("password", out));
    EXPECT_FALSE(crypt.Decipher("AhKYwoX5n5A=", out));
}

TEST(CryptTest, PasswordsInWideText) {
    std::wstring enciphered;
    ASSERT_TRUE(EncipherPassword(L"パスワード", enciphered));
    EXPECT_EQ(enciphered, L"Yc6k7DUpGoM1tfHSudftyA==");
    EXPECT_EQ(DecipherPassword(enciphered), L"パスワード");
    EXPECT_EQ(DecipherPassword(L"+ " + enciphered), L"パスワード");

    ASSERT_TRUE(EncipherPassword(L"", enciphered));
    EXPECT_EQ(enciphered, L"");
    EXPECT_FALSE(EncipherPassword(std::wstring(501, L'あ'), enciphered));  // 1,002 bytes in 932

    EXPECT_EQ(DecipherPassword(L"AhKY*oX5n5A="), L"");
    EXPECT_EQ(DecipherPassword(L"AhKYwoX5n5A=", L"libvorma-no-such-crypto.so.9"), L"");
}

}  // namespace
