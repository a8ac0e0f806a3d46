// Where a log path as the user wrote it lands: never in the folder a run
// was started in, whatever its form.
#include <gtest/gtest.h>

#include <string>

#include "common/ModulePath.h"

using namespace quillon;

TEST(FromProgramFolder, TakesEveryRelativeFormFromTheProgramsFolderOrItsDrive) {
    const std::wstring folder = ProgramFolder();
    ASSERT_TRUE(folder.size() > 3 && folder[1] == L':' && folder[2] == L'\\') << "the test runs from a drive";
    const std::wstring drive = folder.substr(0, 2);
    const wchar_t lower[] = {static_cast<wchar_t>(folder[0] | 0x20), L':', 0};
    const wchar_t other[] = {(folder[0] | 0x20) == L'q' ? L'R' : L'Q', L':', 0};

    EXPECT_EQ(FromProgramFolder(L"ip.txt"), folder + L"\\ip.txt");
    EXPECT_EQ(FromProgramFolder(L"logs\\ip.txt"), folder + L"\\logs\\ip.txt");
    EXPECT_EQ(FromProgramFolder(L"\\logs\\ip.txt"), drive + L"\\logs\\ip.txt");
    EXPECT_EQ(FromProgramFolder(L"/logs/ip.txt"), drive + L"/logs/ip.txt");
    // Drive-relative: the program's folder on its own drive, in either case.
    EXPECT_EQ(FromProgramFolder(drive + L"ip.txt"), folder + L"\\ip.txt");
    EXPECT_EQ(FromProgramFolder(lower + std::wstring(L"logs\\ip.txt")), folder + L"\\logs\\ip.txt");
    // Another drive has no folder of the program's: its root.
    EXPECT_EQ(FromProgramFolder(other + std::wstring(L"ip.txt")), other + std::wstring(L"\\ip.txt"));
    // Full and UNC paths stay.
    for (const wchar_t* full : {L"C:\\logs\\ip.txt", L"c:/logs/ip.txt", L"\\\\server\\share\\ip.txt", L"//server/share/ip.txt"})
        EXPECT_EQ(FromProgramFolder(full), full);
}
