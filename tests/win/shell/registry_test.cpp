#include "shell/Registry.h"

#include <gtest/gtest.h>

#include "../support/KeyAccess.h"

namespace {

const std::wstring kKey = L"Software\\TarnwhistleRegistryTest";

class RegistryTest : public ::testing::Test {
 protected:
  void SetUp() override { TearDown(); }
  void TearDown() override {
    AllowEverything(kKey);
    DeleteRegistryTree(kKey);
  }
};

TEST_F(RegistryTest, ValuesRoundTripAndOtherTypesReadAsMissing) {
  EXPECT_FALSE(TRegistryKey::Open(kKey).Valid());
  EXPECT_FALSE(RegistryKeyExists(kKey));
  {
    TRegistryKey key = TRegistryKey::Create(kKey + L"\\Sub");
    ASSERT_TRUE(key.Valid());
    EXPECT_TRUE(key.WriteString(L"Text", L"C:\\Program Files\\Tarnwhistle"));
    EXPECT_TRUE(key.WriteString(L"Empty", L""));
    EXPECT_TRUE(key.WriteInteger(L"Number", 3));
  }
  TRegistryKey key = TRegistryKey::OpenReadOnly(kKey + L"\\Sub");
  ASSERT_TRUE(key.Valid());
  EXPECT_EQ(key.ReadString(L"Text"), L"C:\\Program Files\\Tarnwhistle");
  EXPECT_EQ(key.ReadString(L"Empty"), L"");
  EXPECT_EQ(key.ReadInteger(L"Number"), 3u);
  EXPECT_FALSE(key.ReadString(L"Number").has_value());
  EXPECT_FALSE(key.ReadInteger(L"Text").has_value());
  EXPECT_FALSE(key.ReadString(L"Missing").has_value());
  EXPECT_TRUE(key.HasValue(L"Number"));
  EXPECT_FALSE(key.HasValue(L"Missing"));
  EXPECT_FALSE(key.WriteString(L"ReadOnly", L"x"));
}

TEST_F(RegistryTest, StringsWithoutTerminatorAndDeletionWithSubkeys) {
  HKEY raw = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, (kKey + L"\\A\\B").c_str(), 0, nullptr, 0,
                            KEY_ALL_ACCESS, nullptr, &raw, nullptr), ERROR_SUCCESS);
  UniqueKey owner(raw);
  const wchar_t unterminated[] = {L'a', L'b', L'c'};
  ASSERT_EQ(RegSetValueExW(raw, L"Raw", 0, REG_SZ, reinterpret_cast<const BYTE*>(unterminated),
                           sizeof(unterminated)), ERROR_SUCCESS);
  owner.reset();
  EXPECT_EQ(TRegistryKey::OpenReadOnly(kKey + L"\\A\\B").ReadString(L"Raw"), L"abc");

  EXPECT_TRUE(RegistryKeyExists(kKey));
  EXPECT_TRUE(DeleteRegistryTree(kKey));
  EXPECT_FALSE(RegistryKeyExists(kKey));
  EXPECT_TRUE(DeleteRegistryTree(kKey));
}

TEST_F(RegistryTest, AKeyThatRefusesReadingExistsAndReadsNothing) {
  ASSERT_TRUE(TRegistryKey::Create(kKey).WriteString(L"AppDir", L"C:\\Tarnwhistle"));
  ASSERT_TRUE(DenyReading(kKey)) << "the registry ignores the key's permissions";
  EXPECT_TRUE(RegistryKeyExists(kKey));
  EXPECT_FALSE(TRegistryKey::OpenReadOnly(kKey).Valid());
  EXPECT_FALSE(TRegistryKey::OpenReadOnly(kKey).ReadString(L"AppDir").has_value());
  // Deleting it fails, and it is not reported gone.
  EXPECT_FALSE(DeleteRegistryTree(kKey));
  EXPECT_FALSE(RegistryKeyExists(kKey + L"\\Missing"));
}

}  // namespace
