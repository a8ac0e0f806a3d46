// The version resource of the built program, read back the way Explorer's
// Details tab reads it.
#include <windows.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "QuillonConfig.h"
#include "support/TestSupport.h"

namespace quillon::test {
namespace {

class VersionInfoTest : public ::testing::Test {
protected:
    void SetUp() override {
        const std::wstring exe = WinePath(Env("QUILLON_BIN")) + L"\\Quillon.exe";
        DWORD ignored = 0;
        const DWORD size = GetFileVersionInfoSizeW(exe.c_str(), &ignored);
        ASSERT_GT(size, 0u) << "no version resource, error " << GetLastError();
        data.resize(size);
        ASSERT_TRUE(GetFileVersionInfoW(exe.c_str(), 0, size, data.data()));
    }

    std::wstring String(const std::wstring& name) {
        // The block the Translation entry names.
        struct Translation {
            WORD language, codePage;
        }* translation = nullptr;
        UINT n = 0;
        if (!VerQueryValueW(data.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation), &n) ||
            n < sizeof *translation)
            return L"<no translation>";
        wchar_t path[64];
        swprintf(path, 64, L"\\StringFileInfo\\%04x%04x\\", translation->language, translation->codePage);
        wchar_t* value = nullptr;
        if (!VerQueryValueW(data.data(), (path + name).c_str(), reinterpret_cast<void**>(&value), &n) || !value)
            return L"<missing>";
        return value;
    }

    std::vector<BYTE> data;
};

std::wstring Wide(const char* s) { return std::wstring(s, s + strlen(s)); }

TEST_F(VersionInfoTest, NumbersAreTheProjectVersion) {
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT n = 0;
    ASSERT_TRUE(VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&fixed), &n));
    ASSERT_EQ(fixed->dwSignature, 0xFEEF04BDu);
    const DWORD ms = MAKELONG(QUILLON_VERSION_MINOR, QUILLON_VERSION_MAJOR);
    const DWORD ls = MAKELONG(QUILLON_VERSION_TWEAK, QUILLON_VERSION_PATCH);
    EXPECT_EQ(fixed->dwFileVersionMS, ms);
    EXPECT_EQ(fixed->dwFileVersionLS, ls);
    EXPECT_EQ(fixed->dwProductVersionMS, ms);
    EXPECT_EQ(fixed->dwProductVersionLS, ls);
    EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_APP));
    // The numbers and the text say the same version.
    wchar_t text[32];
    swprintf(text, 32, L"%u.%u.%u", HIWORD(ms), LOWORD(ms), HIWORD(ls));
    EXPECT_EQ(String(L"FileVersion"), text);
}

TEST_F(VersionInfoTest, NamesTheProductItsMakerAndItsFile) {
    EXPECT_EQ(String(L"ProductName"), L"Quillon");
    EXPECT_EQ(String(L"ProductVersion"), Wide(QUILLON_VERSION));
    EXPECT_EQ(String(L"FileVersion"), Wide(QUILLON_VERSION));
    EXPECT_EQ(String(L"OriginalFilename"), L"Quillon.exe");
    EXPECT_EQ(String(L"CompanyName"), Wide(QUILLON_COMPANY));
    EXPECT_NE(String(L"FileDescription").find(L"Internet address"), std::wstring::npos) << String(L"FileDescription");
}

}  // namespace
}  // namespace quillon::test
