#include <gtest/gtest.h>

#include "settings/Modini.h"
#include "support/TestSupport.h"

using namespace quillon;
using settings::ReadIniValue;
using settings::WriteIniValue;

namespace {

class Modini : public ::testing::Test {
protected:
    test::TempDir dir;
    std::wstring ini = dir / L"Quillon_settings.ini";
};

}  // namespace

TEST_F(Modini, AMissingFileSectionOrKeyReadsEmpty) {
    EXPECT_EQ(ReadIniValue(L"Main", L"log", ini), L"");
    test::WriteBytes(ini, "[Other]\r\nlog=x\r\n[Main]\r\ndate=1\r\n");
    EXPECT_EQ(ReadIniValue(L"Main", L"log", ini), L"");
    EXPECT_EQ(ReadIniValue(L"Main", L"date", ini), L"1");
    EXPECT_EQ(ReadIniValue(L"MAIN", L"DATE", ini), L"1");  // names match in any case
}

TEST_F(Modini, WritingCreatesTheFileAsPlainAnsiTextAndReplacesInPlace) {
    WriteIniValue(L"Main", L"log", L"C:\\IP_log.txt", ini);
    EXPECT_EQ(test::ReadBytes(ini), "[Main]\r\nlog=C:\\IP_log.txt\r\n");
    WriteIniValue(L"Main", L"overwrite", L"1", ini);
    WriteIniValue(L"Main", L"date", L"0", ini);
    WriteIniValue(L"Main", L"log", L"D:\\other.txt", ini);
    EXPECT_EQ(test::ReadBytes(ini), "[Main]\r\nlog=D:\\other.txt\r\noverwrite=1\r\ndate=0\r\n");
}

TEST_F(Modini, WritingKeepsTheFilesOtherLines) {
    test::WriteBytes(ini, "; kept\r\n[Main]\r\nlog=a\r\nmine=yes\r\n[Other]\r\nx=1\r\n");
    WriteIniValue(L"Main", L"log", L"b", ini);
    EXPECT_EQ(test::ReadBytes(ini), "; kept\r\n[Main]\r\nlog=b\r\nmine=yes\r\n[Other]\r\nx=1\r\n");
}

TEST_F(Modini, ReadsBackTheWholeValueHoweverLong) {
    for (size_t length : {254u, 255u, 256u, 300u, 511u, 512u, 5000u}) {
        const std::wstring value = L"C:\\" + std::wstring(length - 3, L'p');
        WriteIniValue(L"Main", L"log", value, ini);
        EXPECT_EQ(ReadIniValue(L"Main", L"log", ini), value) << length;
    }
}

TEST_F(Modini, BlanksAndOnePairOfQuotesAroundAValueAreRemoved) {
    test::WriteBytes(ini, "[Main]\r\na=  C:\\x y\\log.txt  \r\nb=\"C:\\quoted.txt\"\r\nc='single'\r\nd=\"\"\"x\"\"\"\r\n");
    EXPECT_EQ(ReadIniValue(L"Main", L"a", ini), L"C:\\x y\\log.txt");
    EXPECT_EQ(ReadIniValue(L"Main", L"b", ini), L"C:\\quoted.txt");
    EXPECT_EQ(ReadIniValue(L"Main", L"c", ini), L"single");
    EXPECT_EQ(ReadIniValue(L"Main", L"d", ini), L"\"\"x\"\"");
    // Read raw, a command line keeps its own quotes.
    settings::IniFile file;
    ASSERT_TRUE(file.Load(ini));
    EXPECT_EQ(file.Value(L"Main", L"b", true), L"\"C:\\quoted.txt\"");
}

TEST_F(Modini, AValueOutsideTheAnsiCodePageTurnsTheFileIntoUtf16AndComesBackWhole) {
    WriteIniValue(L"Main", L"log", L"C:\\IP_log.txt", ini);
    WriteIniValue(L"Main", L"overwrite", L"1", ini);
    EXPECT_EQ(test::ReadBytes(ini), "[Main]\r\nlog=C:\\IP_log.txt\r\noverwrite=1\r\n");  // ANSI until needed
    const std::wstring path = L"C:\\q\\\u03a9mega \u2013 \u65e5\u672c \u0436.txt";
    WriteIniValue(L"Main", L"log", path, ini);
    WriteIniValue(L"Main", L"date", L"0", ini);
    const std::wstring utf16 = L"\xFEFF[Main]\r\nlog=" + path + L"\r\noverwrite=1\r\ndate=0\r\n";
    EXPECT_EQ(test::ReadBytes(ini), std::string(reinterpret_cast<const char*>(utf16.data()), utf16.size() * 2));
    EXPECT_EQ(ReadIniValue(L"Main", L"log", ini), path);
    EXPECT_EQ(ReadIniValue(L"Main", L"overwrite", ini), L"1");
}

TEST_F(Modini, AnAnsiFileOfAnOlderVersionIsReadAsBeforeAndKeptByteForByte) {
    ASSERT_EQ(GetACP(), 1252u) << "the bytes below are code page 1252";
    const std::string old = "[Main]\r\nlog=C:\\caf\xe9\\IP_log.txt\r\noverwrite=0\r\n";
    test::WriteBytes(ini, old);
    const std::wstring path = L"C:\\caf\u00e9\\IP_log.txt";
    EXPECT_EQ(ReadIniValue(L"Main", L"log", ini), path);
    WriteIniValue(L"Main", L"log", path, ini);
    EXPECT_EQ(test::ReadBytes(ini), old);
    WriteIniValue(L"Main", L"date", L"1", ini);
    EXPECT_EQ(test::ReadBytes(ini), old + "date=1\r\n");
}

TEST_F(Modini, AnUnwritableFileFailsQuietly) {
    ASSERT_TRUE(CreateDirectoryW(ini.c_str(), nullptr));  // a folder where the file should be
    WriteIniValue(L"Main", L"log", L"x", ini);
    EXPECT_EQ(ReadIniValue(L"Main", L"log", ini), L"");
}

TEST_F(Modini, TwoProgramsWritingAtOnceKeepEachOthersKeys) {
    const std::wstring worker = test::WinePath(test::Env("QUILLON_BIN") + "/settings_write_worker.exe");
    ASSERT_TRUE(test::FileExists(worker)) << "QUILLON_BIN is not set";
    const std::wstring run = L"\"" + worker + L"\" \"" + ini + L"\" ";
    EXPECT_EQ(test::RunAtOnce({run + L"a 40", run + L"b 40"}, 120000), (std::vector<DWORD>{0, 0}));
    int missing = 0;
    for (const wchar_t* tag : {L"a", L"b"})
        for (int i = 0; i < 40; ++i) missing += ReadIniValue(L"Main", tag + std::to_wstring(i), ini) != L"1";
    EXPECT_EQ(missing, 0);
}

TEST(SettingsPath, IsTheProgramsFolderAndTheFileName) {
    wchar_t exe[MAX_PATH];
    GetModuleFileNameW(nullptr, exe, MAX_PATH);
    std::wstring expected = exe;
    expected.erase(expected.find_last_of(L'\\'));
    EXPECT_EQ(settings::SettingsPath(), expected + L"\\Quillon_settings.ini");
}

TEST(CheckState, OnlyTheThreeStatesAreTaken) {
    EXPECT_EQ(settings::ParseCheckState(L"0"), 0);
    EXPECT_EQ(settings::ParseCheckState(L"1"), 1);
    EXPECT_EQ(settings::ParseCheckState(L"2"), 2);
    EXPECT_EQ(settings::ParseCheckState(L" 1 "), 1);
    EXPECT_EQ(settings::ParseCheckState(L"+2"), 2);
    for (const wchar_t* bad : {L"", L"3", L"-1", L"abc", L"1x", L"99999999", L"1.5", L"- 1"})
        EXPECT_EQ(settings::ParseCheckState(bad), -1) << bad;
}
