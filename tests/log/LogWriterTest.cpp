#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <map>
#include <sstream>
#include <thread>
#include <vector>

#include <windows.h>
#include <sddl.h>

#include "common/NamedLock.h"
#include "log/LogWriter.h"
#include "support/TestSupport.h"

using namespace quillon;
using log::AddToLogs;

namespace {

class LogWriter : public ::testing::Test {
protected:
    // The names in the log's folder.
    std::vector<std::wstring> Files() const {
        std::vector<std::wstring> names;
        WIN32_FIND_DATAW fd;
        HANDLE find = FindFirstFileW((dir / L"*").c_str(), &fd);
        if (find == INVALID_HANDLE_VALUE) return names;
        do {
            if (fd.cFileName[0] != L'.') names.push_back(fd.cFileName);
        } while (FindNextFileW(find, &fd));
        FindClose(find);
        return names;
    }

    test::TempDir dir;
    std::wstring path = dir / L"IP_log.txt";
};

}  // namespace

TEST_F(LogWriter, CreatesAMissingFileInBothModes) {
    EXPECT_TRUE(AddToLogs(path, L"203.0.113.7", false));
    EXPECT_EQ(test::ReadBytes(path), "203.0.113.7\r\n");
    const std::wstring other = dir / L"other.txt";
    EXPECT_TRUE(AddToLogs(other, L"198.51.100.1", true));
    EXPECT_EQ(test::ReadBytes(other), "198.51.100.1\r\n");
}

TEST_F(LogWriter, AppendKeepsWhatIsThereAndContinuesAnUnendedLastLine) {
    test::WriteBytes(path, "first\r\nno line end");
    EXPECT_TRUE(AddToLogs(path, L"1.2.3.4", false));
    EXPECT_EQ(test::ReadBytes(path), "first\r\nno line end1.2.3.4\r\n");
}

TEST_F(LogWriter, OverwriteLeavesExactlyTheOneLine) {
    test::WriteBytes(path, std::string(5000, 'x') + "\r\nmore\r\n");
    EXPECT_TRUE(AddToLogs(path, L"1.2.3.4", true));
    EXPECT_EQ(test::ReadBytes(path), "1.2.3.4\r\n");
}

TEST_F(LogWriter, AnOverwrittenLogIsWholeAtEveryMomentAndNothingIsLeftBesideIt) {
    // A reader polls the log while lines of two lengths take turns in it.
    const std::wstring lines[] = {L"203.0.113.7", L"2001:db8:85a3::8a2e:370:7334"};
    const std::string whole[] = {"203.0.113.7\r\n", "2001:db8:85a3::8a2e:370:7334\r\n"};
    test::WriteBytes(path, whole[0]);
    std::atomic<bool> stop{false};
    std::atomic<int> reads{0}, torn{0};
    std::string seen;
    std::thread reader([&] {
        while (!stop) {
            const std::string now = test::ReadBytes(path);
            ++reads;
            if (now != whole[0] && now != whole[1]) {
                seen = now;
                ++torn;
            }
            Sleep(1);
        }
    });
    for (int i = 1; i <= 200; ++i) EXPECT_TRUE(AddToLogs(path, lines[i % 2], true));
    stop = true;
    reader.join();
    EXPECT_EQ(torn, 0) << "once seen: \"" << seen << "\"";
    EXPECT_GT(reads, 100);
    EXPECT_EQ(test::ReadBytes(path), whole[0]);
    EXPECT_EQ(Files(), std::vector<std::wstring>{L"IP_log.txt"});
}

// In place, every name sees the new line, a longer one included; beside
// the log only the program's own files are swept, once no run holds them.
TEST_F(LogWriter, AnOverwriteReachesEveryNameOfTheLogAndTouchesNoFileButItsOwnOldOnes) {
    test::WriteBytes(path, "1.2.3.4\r\n");
    const std::wstring other = dir / L"same log.txt";
    ASSERT_TRUE(CreateHardLinkW(other.c_str(), path.c_str(), nullptr));
    std::vector<std::wstring> kept = {L"IP_log.txt", L"IP_log.txt.2024.tmp", L"IP_log.txt.77777.tmp",
                                      L"IP_log.txt.quillon-0123456789abcdef.tmp", L"IP_log.txt.quillon-mine.tmp",
                                      L"same log.txt"};
    for (size_t i = 1; i < kept.size() - 1; ++i) test::WriteBytes(dir / kept[i], "x");
    test::WriteBytes(dir / L"IP_log.txt.quillon-fedcba9876543210.tmp", "x");  // a run that was killed
    // One that another run is still writing, as a writer holds it.
    HANDLE writing = CreateFileW((dir / kept[3]).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                 nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(writing, INVALID_HANDLE_VALUE);

    EXPECT_TRUE(AddToLogs(path, L"203.0.113.7", true));
    EXPECT_EQ(test::ReadBytes(other), "203.0.113.7\r\n");
    EXPECT_TRUE(AddToLogs(path, L"1.2.3.4", true));
    EXPECT_EQ(test::ReadBytes(other), "1.2.3.4\r\n");
    CloseHandle(writing);
    std::vector<std::wstring> left = Files();
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, kept);
}

TEST_F(LogWriter, AnOverwriteOfALogThatAViewerHoldsOpenReachesTheViewer) {
    test::WriteBytes(path, std::string(5000, 'x') + "\r\n");
    // A viewer that follows the file shares reading and writing, not deleting.
    HANDLE viewer = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(viewer, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(AddToLogs(path, L"203.0.113.7", true));
    char buf[64] = {};
    DWORD n = 0;
    SetFilePointer(viewer, 0, nullptr, FILE_BEGIN);
    ReadFile(viewer, buf, sizeof buf, &n, nullptr);
    CloseHandle(viewer);
    EXPECT_EQ(std::string(buf, n), "203.0.113.7\r\n");
    EXPECT_EQ(test::ReadBytes(path), "203.0.113.7\r\n");
    EXPECT_EQ(Files(), std::vector<std::wstring>{L"IP_log.txt"});
}

TEST_F(LogWriter, TheLastLoggedAddressIsReadFromTheEndOfTheLogOnly) {
    EXPECT_EQ(log::LastLoggedAddress(path), std::nullopt);  // no log
    test::WriteBytes(path, "\r\n\r\n");
    EXPECT_EQ(log::LastLoggedAddress(path), std::nullopt);  // no line
    test::WriteBytes(path, "198.51.100.1\r\n203.0.113.7 - 12/6/2026 7:43:26 AM\r\n\r\n");
    EXPECT_EQ(log::LastLoggedAddress(path), L"203.0.113.7");
    test::WriteBytes(path, "2001:DB8::7");  // no line end
    EXPECT_EQ(log::LastLoggedAddress(path), L"2001:DB8::7");

    // A 10 MB log costs no more than a small one.
    const std::wstring small = dir / L"small.txt";
    test::WriteBytes(small, "198.51.100.1\r\n192.0.2.1\r\n");
    std::string big;
    while (big.size() < 10 * 1024 * 1024) big += "198.51.100.1 - 12/6/2026 7:43:26 AM\r\n";
    test::WriteBytes(path, big + "192.0.2.1\r\n");
    LARGE_INTEGER freq, t0, t1;
    QueryPerformanceFrequency(&freq);
    double ticks[2] = {0, 0};
    for (int i = 0; i < 100; ++i)
        for (int which = 0; which < 2; ++which) {
            QueryPerformanceCounter(&t0);
            EXPECT_EQ(log::LastLoggedAddress(which ? path : small), L"192.0.2.1");
            QueryPerformanceCounter(&t1);
            ticks[which] += static_cast<double>(t1.QuadPart - t0.QuadPart);
        }
    const double smallMs = ticks[0] * 10 / freq.QuadPart, bigMs = ticks[1] * 10 / freq.QuadPart;  // per call
    std::printf("[ timing ] last address of a small log %.3f ms, of a 10 MB log %.3f ms\n", smallMs, bigMs);
    EXPECT_LT(bigMs, smallMs * 4);
}

TEST_F(LogWriter, WritesTheMessageAsItIs) {
    EXPECT_TRUE(AddToLogs(path, L"", false));
    EXPECT_TRUE(AddToLogs(path, L"a\nb", false));
    EXPECT_EQ(test::ReadBytes(path), "\r\na\nb\r\n");
}

TEST_F(LogWriter, AnEmptyPathOrAMissingFolderWritesNothingAndFailsNothing) {
    EXPECT_FALSE(AddToLogs(L"", L"1.2.3.4", false));
    EXPECT_FALSE(AddToLogs(L"", L"1.2.3.4", true));
    const std::wstring missing = dir / L"no such folder\\IP_log.txt";
    EXPECT_FALSE(AddToLogs(missing, L"1.2.3.4", false));
    EXPECT_FALSE(AddToLogs(missing, L"1.2.3.4", true));
    EXPECT_FALSE(test::FileExists(missing));
}

TEST_F(LogWriter, APathOutsideTheAnsiCodePageWorks) {
    const std::wstring folder = dir / L"\u65e5\u672c \u03a9";
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    const std::wstring wide = folder + L"\\\u0436\u0443\u0440\u043d\u0430\u043b.txt";
    EXPECT_TRUE(AddToLogs(wide, L"1.2.3.4", false));
    EXPECT_EQ(test::ReadBytes(wide), "1.2.3.4\r\n");
}

TEST_F(LogWriter, WaitsBrieflyForAFileHeldByAnotherProgram) {
    HANDLE held = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    // Held for good: the writer gives up quietly after about a second.
    DWORD start = GetTickCount();
    EXPECT_FALSE(AddToLogs(path, L"1.2.3.4", false));
    DWORD elapsed = GetTickCount() - start;
    EXPECT_GE(elapsed, 800u);
    EXPECT_LT(elapsed, 3000u);
    // Let go within the second: the line is written.
    std::thread release([&] {
        Sleep(300);
        CloseHandle(held);
    });
    EXPECT_TRUE(AddToLogs(path, L"1.2.3.4", false));
    release.join();
    EXPECT_EQ(test::ReadBytes(path), "1.2.3.4\r\n");
}

// The log's lock under a name that another owner made first is not taken:
// the write fails at once and says so, rather than waiting or going on
// without a lock.
TEST_F(LogWriter, ALockNameThatAnotherOwnerHoldsIsRefusedAndSaid) {
    PSECURITY_DESCRIPTOR sd = nullptr;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(L"O:BAD:(A;;GA;;;WD)", SDDL_REVISION_1, &sd,
                                                                     nullptr));
    SECURITY_ATTRIBUTES sa{sizeof sa, sd, FALSE};
    const std::wstring name = L"Global\\" + NamedLock::NameFor(L"log", path);
    HANDLE squatter = CreateMutexW(&sa, TRUE, name.c_str());
    LocalFree(sd);
    ASSERT_NE(squatter, nullptr);
    DWORD error = 0;
    const DWORD start = GetTickCount();
    EXPECT_FALSE(AddToLogs(path, L"1.2.3.4", false, &error));
    EXPECT_LT(GetTickCount() - start, 1000u);
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_INVALID_OWNER));
    EXPECT_EQ(log::DescribeLogError(error), L"The name of the log's lock is held by another user.");
    EXPECT_FALSE(test::FileExists(path));
    CloseHandle(squatter);
}

TEST_F(LogWriter, TwoProcessesAppendingAtOnceLoseNoLine) {
    const std::wstring worker = test::WinePath(test::Env("QUILLON_BIN") + "/log_append_worker.exe");
    ASSERT_TRUE(test::FileExists(worker)) << "QUILLON_BIN is not set";
    const std::wstring run = L"\"" + worker + L"\" \"" + path + L"\" 500 ";
    EXPECT_EQ(test::RunAtOnce({run + L"A", run + L"B"}, 120000), (std::vector<DWORD>{0, 0}));
    std::istringstream in(test::ReadBytes(path));
    std::map<std::string, int> seen;
    std::string line;
    int lines = 0;
    while (std::getline(in, line)) {
        ++lines;
        ASSERT_TRUE(line.ends_with(" ....................\r")) << "torn line: " << line;
        ++seen[line];
    }
    EXPECT_EQ(lines, 1000);
    EXPECT_EQ(seen.size(), 1000u);  // every line whole and none twice
}
