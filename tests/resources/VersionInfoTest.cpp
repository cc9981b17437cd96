// Reads the version resource back out of the built installer with the calls
// Explorer's Properties and inventory tools make, and checks it against the
// build stamp it was made from.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "BuildConfig.h"
#include "BuildStamp.h"

namespace {

const wchar_t kSetup[] = L"" VEXA_BUILD_DIR "/VexaSetup.exe";

std::wstring wide(const char* s) {
  std::wstring out;
  for (; *s; ++s) out += static_cast<wchar_t>(static_cast<unsigned char>(*s));
  return out;
}

class VersionInfo : public ::testing::Test {
 protected:
  void SetUp() override {
    DWORD ignored = 0;
    DWORD size = GetFileVersionInfoSizeW(kSetup, &ignored);
    ASSERT_GT(size, 0u) << "no version resource in VexaSetup.exe, error " << GetLastError();
    block_.resize(size);
    ASSERT_TRUE(GetFileVersionInfoW(kSetup, 0, size, block_.data()));
  }

  std::wstring text(const wchar_t* name) {
    wchar_t* value = nullptr;
    UINT length = 0;
    std::wstring path = std::wstring(L"\\StringFileInfo\\040904B0\\") + name;
    if (!VerQueryValueW(block_.data(), path.c_str(), reinterpret_cast<void**>(&value), &length) || !value)
      return L"<missing>";
    return std::wstring(value, length && value[length - 1] == 0 ? length - 1 : length);
  }

  std::vector<unsigned char> block_;
};

TEST_F(VersionInfo, NumbersAreTheBuildStampsInBothFixedFields) {
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueW(block_.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
  ASSERT_EQ(length, sizeof(VS_FIXEDFILEINFO));
  EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
  const WORD want[4] = {VEXA_VERSION_NUMBERS};
  EXPECT_EQ(HIWORD(fixed->dwFileVersionMS), want[0]);
  EXPECT_EQ(LOWORD(fixed->dwFileVersionMS), want[1]);
  EXPECT_EQ(HIWORD(fixed->dwFileVersionLS), want[2]);
  EXPECT_EQ(LOWORD(fixed->dwFileVersionLS), want[3]);
  EXPECT_EQ(fixed->dwProductVersionMS, fixed->dwFileVersionMS);
  EXPECT_EQ(fixed->dwProductVersionLS, fixed->dwFileVersionLS);
  EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_APP));
  EXPECT_EQ(fixed->dwFileFlags & fixed->dwFileFlagsMask, 0u) << "a release is neither a debug nor a pre-release build";
}

TEST_F(VersionInfo, NumbersAgreeWithTheVersionTextsDateAndTime) {
  // The version text carries the compiler's date form ("Dec  9 2026") and
  // the time: the numbers must name the same moment.
  const WORD want[4] = {VEXA_VERSION_NUMBERS};
  const char* months = "JanFebMarAprMayJunJulAugSepOctNovDec";
  char month[4] = {};
  int day = 0, year = 0, hour = 0, minute = 0, second = 0;
  ASSERT_EQ(sscanf(VEXA_BUILD_DATE, "%3s %d %d", month, &day, &year), 3);
  ASSERT_EQ(sscanf(VEXA_BUILD_TIME, "%d:%d:%d", &hour, &minute, &second), 3);
  const char* at = strstr(months, month);
  ASSERT_NE(at, nullptr);
  EXPECT_EQ(want[0], year);
  EXPECT_EQ(want[1], (at - months) / 3 + 1);
  EXPECT_EQ(want[2], day);
  EXPECT_EQ(want[3], hour * 100 + minute);
}

TEST_F(VersionInfo, TextsNameTheProductItsMakerAndThisFile) {
  const std::wstring dotted = wide(VEXA_VERSION_DOTTED);
  EXPECT_EQ(text(L"FileVersion"), dotted);
  EXPECT_EQ(text(L"ProductVersion"), dotted);
  EXPECT_EQ(text(L"CompanyName"), wide(VEXA_PUBLISHER_NARROW));
  EXPECT_EQ(text(L"ProductName"), wide(VEXA_PRODUCT_NAME_NARROW));
  EXPECT_EQ(text(L"FileDescription"), wide(VEXA_PRODUCT_NAME_NARROW) + L" network installer");
  EXPECT_EQ(text(L"OriginalFilename"), L"VexaSetup.exe");
  EXPECT_EQ(text(L"InternalName"), L"VexaSetup");
  EXPECT_EQ(text(L"LegalCopyright"), L"Copyright (C) " + wide(VEXA_BUILD_YEAR) + L" " + wide(VEXA_PUBLISHER_NARROW));
}

TEST_F(VersionInfo, TranslationNamesTheBlockTheTextsAreIn) {
  struct Translation {
    WORD language, codePage;
  }* t = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueW(block_.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&t), &length));
  ASSERT_GE(length, sizeof(Translation));
  EXPECT_EQ(t->language, 0x409);
  EXPECT_EQ(t->codePage, 1200);
}

}  // namespace
