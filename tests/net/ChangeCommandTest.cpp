// The user's command on a change, started for real: the recorder stands in
// for it and writes down how it was started.
#include <gtest/gtest.h>

#include <map>
#include <sstream>
#include <thread>

#include "net/ChangeCommand.h"
#include "support/TestSupport.h"

using namespace quillon;

namespace {

using Record = std::map<std::string, std::string>;

const net::CommandAddresses kAddresses{L"203.0.113.7", L"", L"198.51.100.1", L""};

std::wstring Quoted(const std::wstring& s) { return L"\"" + s + L"\""; }
std::wstring Recorder() { return test::WinePath(test::Env("QUILLON_BIN") + "/action_recorder.exe"); }
// The recorder writing to out, then exiting with a code or "sleep:MS".
std::wstring RecorderLine(const std::wstring& out, const std::wstring& then) {
    return Quoted(Recorder()) + L" " + Quoted(out) + L" " + then;
}

net::CommandResult RunIn(const std::wstring& line, const test::TempDir& dir, DWORD limitMs = 30000,
                       HANDLE cancel = nullptr) {
    return net::RunChangeCommand(line, dir.path(), kAddresses, limitMs, cancel);
}

std::vector<Record> Records(const std::wstring& path) {
    std::vector<Record> records(1);
    std::istringstream in(test::ReadBytes(path));
    for (std::string line; std::getline(in, line);) {
        if (line == "end") records.emplace_back();
        if (const size_t eq = line.find('='); eq != std::string::npos)
            records.back()[line.substr(0, eq)] = line.substr(eq + 1);
    }
    records.pop_back();  // after the last "end": never whole
    return records;
}

// The first whole record in path, waited for up to timeoutMs.
Record AwaitRecord(const std::wstring& path, DWORD timeoutMs) {
    for (const DWORD start = GetTickCount();; Sleep(50)) {
        if (auto records = Records(path); !records.empty()) return records.front();
        if (GetTickCount() - start >= timeoutMs) return {};
    }
}

// The process pid names; null when unknown or gone.
HANDLE OpenPid(const std::string& pid) {
    return pid.empty() ? nullptr : OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, std::stoul(pid));
}
bool Ends(const std::string& pid, DWORD withinMs) {
    HANDLE h = OpenPid(pid);
    const bool ended = !pid.empty() && (!h || WaitForSingleObject(h, withinMs) == WAIT_OBJECT_0);
    if (h) CloseHandle(h);
    return ended;
}

}  // namespace

TEST(ChangeCommand, AHangingCommandIsEndedWithWhatItStarted) {
    test::TempDir dir;
    const std::wstring out = dir / L"out.txt", out2 = dir / L"out2.txt";
    DWORD start = GetTickCount();
    auto result = RunIn(RecorderLine(out, L"sleep:60000"), dir, 1500);
    DWORD took = GetTickCount() - start;
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.why, L"still running after 2 s");
    EXPECT_GE(took, 1400u);
    EXPECT_LT(took, 8000u);
    EXPECT_TRUE(Ends(AwaitRecord(out, 0)["pid"], 3000));

    // Cancelled: the recorder that cmd started goes with cmd.
    HANDLE cancel = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::thread canceller([&] {
        AwaitRecord(out2, 20000);
        SetEvent(cancel);
    });
    start = GetTickCount();
    result = RunIn(L"cmd /c \"" + RecorderLine(out2, L"sleep:60000") + L"\"", dir, 60000, cancel);
    took = GetTickCount() - start;
    canceller.join();
    CloseHandle(cancel);
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.why, L"still running when cancelled");
    EXPECT_LT(took, 30000u);
    EXPECT_TRUE(Ends(AwaitRecord(out2, 0)["pid"], 3000));
}

TEST(ChangeCommand, WhatASucceededCommandLeftRunningOutlivesIt) {
    test::TempDir dir;
    const std::wstring out = dir / L"out.txt";
    const auto result = RunIn(L"cmd /c start \"\" /b " + RecorderLine(out, L"sleep:20000"), dir);
    EXPECT_TRUE(result.ok) << result.why;
    HANDLE left = OpenPid(AwaitRecord(out, 10000)["pid"]);
    ASSERT_NE(left, nullptr) << "what it started never ran, or is gone";
    EXPECT_EQ(WaitForSingleObject(left, 1000), static_cast<DWORD>(WAIT_TIMEOUT));
    TerminateProcess(left, 0);
    CloseHandle(left);
}

TEST(ChangeCommand, NamedByItsProgramAlone) {
    EXPECT_EQ(net::CommandName(L"\"C:\\My Tools\\notify.cmd\" \"x\" token"), L"notify.cmd");
    EXPECT_EQ(net::CommandName(L"cmd /c echo secret | more"), L"cmd");
    EXPECT_EQ(net::CommandName(L"C:/tools/ddns.exe --token=abc"), L"ddns.exe");
}
