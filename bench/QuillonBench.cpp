// Times Quillon next to the bare minimum on the same Wine and the same
// address server. Prints one line per figure:
//   figure|unit|quillon|baseline
// (baseline "-" where there is none). Sizes are added by bench/run.sh.
#include <winsock2.h>
#include <windows.h>
#include <psapi.h>
#include <tlhelp32.h>
#include <wininet.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "QuillonConfig.h"
#include "common/DoEvents.h"
#include "common/Text.h"
#include "log/LogWriter.h"
#include "net/AddressText.h"
#include "net/RefreshCycle.h"
#include "resource.h"
#include "support/TestSupport.h"
#include "theme/ThemeApi.h"
#include "theme/mdXpThemeSupport.h"
#include "ui/FrmMain.h"

namespace {

double NowMs() {
    static LARGE_INTEGER freq = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return 1000.0 * static_cast<double>(t.QuadPart) / static_cast<double>(freq.QuadPart);
}

double Percentile(std::vector<double> v, double p) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    const size_t i = static_cast<size_t>(p * static_cast<double>(v.size() - 1) + 0.5);
    return v[std::min(i, v.size() - 1)];
}

void Figure(const char* name, const char* unit, double quillon, double baseline = -1) {
    if (baseline < 0)
        std::printf("%s|%s|%.3f|-\n", name, unit, quillon);
    else
        std::printf("%s|%s|%.3f|%.3f\n", name, unit, quillon, baseline);
    std::fflush(stdout);
}

struct Run {
    double ms = 0;
    DWORD exitCode = 999;
    SIZE_T peakWorkingSet = 0;
};

Run Launch(const std::wstring& exe, const std::wstring& args, const std::wstring& folder) {
    std::wstring cmd = L"\"" + exe + L"\" " + args;
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    Run r;
    const double start = NowMs();
    if (!CreateProcessW(exe.c_str(), cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(), &si, &pi)) {
        std::fprintf(stderr, "cannot start %ls: error %lu\n", exe.c_str(), GetLastError());
        return r;
    }
    // Wine forgets an ended process's counters, so watch it while it runs.
    while (WaitForSingleObject(pi.hProcess, 1) == WAIT_TIMEOUT && NowMs() - start < 60000) {
        PROCESS_MEMORY_COUNTERS pmc{};
        pmc.cb = sizeof pmc;
        if (GetProcessMemoryInfo(pi.hProcess, &pmc, sizeof pmc))
            r.peakWorkingSet = std::max(r.peakWorkingSet, pmc.PeakWorkingSetSize);
    }
    r.ms = NowMs() - start;
    GetExitCodeProcess(pi.hProcess, &r.exitCode);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    return r;
}

void WriteFileBytes(const std::wstring& path, const std::string& bytes) {
    HANDLE f = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD n = 0;
    WriteFile(f, bytes.data(), static_cast<DWORD>(bytes.size()), &n, nullptr);
    CloseHandle(f);
}

// One iteration of the bare loop: the calls a refresh makes, and one append.
bool BareCycle(const std::wstring& log) {
    char body[1024];
    DWORD n = 0;
    HINTERNET s = InternetOpenA("Bench", INTERNET_OPEN_TYPE_PRECONFIG, "", "", 0);
    HINTERNET c = InternetConnectA(s, QUILLON_ADDRESS_HOST, 0, "", "", INTERNET_SERVICE_HTTP, 0, 0);
    HINTERNET r = HttpOpenRequestA(c, nullptr, "ip.shtml", "HTTP/1.1", "", nullptr,
                                   INTERNET_FLAG_KEEP_CONNECTION | INTERNET_FLAG_RELOAD |
                                       INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_PRAGMA_NOCACHE,
                                   0);
    const bool ok = HttpSendRequestA(r, nullptr, 0, nullptr, 0) && InternetReadFile(r, body, sizeof body, &n);
    if (ok) {
        HANDLE f = CreateFileW(log.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                               OPEN_ALWAYS, 0, nullptr);
        DWORD w = 0;
        WriteFile(f, body, n, &w, nullptr);
        WriteFile(f, "\r\n", 2, &w, nullptr);
        CloseHandle(f);
    }
    InternetCloseHandle(r);
    InternetCloseHandle(c);
    InternetCloseHandle(s);
    return ok;
}

// The window state in memory: the cycle alone, without the window's controls.
class MemoryWindow final : public quillon::net::WindowState {
public:
    explicit MemoryWindow(std::wstring log, bool silent = false, bool ipv6 = false)
        : log_(std::move(log)), silent_(silent), ipv6_(ipv6) {}
    std::wstring AddressText() override { return address_; }
    void SetAddressText(const std::wstring& text) override { address_ = text; }
    std::wstring LogPath() override { return log_; }
    int OverwriteState() override { return 0; }
    int DateState() override { return 0; }
    bool Silent() override { return silent_; }
    bool AsksIpv6() override { return ipv6_; }
    quillon::net::ActionSettings ChangeActions() override { return actions; }
    quillon::net::ActionSettings actions;

private:
    std::wstring address_, log_;
    bool silent_, ipv6_;
};

bool BareAppend(const std::wstring& log) {
    HANDLE f = CreateFileW(log.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS, 0,
                           nullptr);
    DWORD w = 0;
    const bool ok = f != INVALID_HANDLE_VALUE && WriteFile(f, "127.0.0.1\r\n", 11, &w, nullptr);
    CloseHandle(f);
    return ok;
}

struct Usage {
    SIZE_T workingSet;
    DWORD gdi, user;
};

Usage Measure() {
    // Counted first: walking the handle table brings its pages in, which
    // must not show as growth.
    const DWORD gdi = quillon::test::CountGdiObjects(), user = quillon::test::CountUserObjects();
    PROCESS_MEMORY_COUNTERS pmc{};
    pmc.cb = sizeof pmc;
    GetProcessMemoryInfo(GetCurrentProcess(), &pmc, sizeof pmc);
    return {pmc.WorkingSetSize, gdi, user};
}

// Version 6 of the common controls, as Windows reports it with the
// program's manifest; Wine's own says 5.81, which would leave the themed
// painter out.
HRESULT CALLBACK Version6(DLLVERSIONINFO* info) {
    info->dwMajorVersion = 6;
    info->dwMinorVersion = 0;
    return S_OK;
}

// From process start to the window visible with the address shown.
double StartToWindow(const std::wstring& exe, const std::wstring& folder, DWORD& exitCode) {
    std::wstring cmd = L"\"" + exe + L"\"";
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    const double start = NowMs();
    if (!CreateProcessW(exe.c_str(), cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(), &si, &pi))
        return -1;
    double ms = -1;
    while (NowMs() - start < 60000) {
        if (HWND found = quillon::test::FindProcessWindow(pi.dwProcessId, L"FrmMain", true)) {
            wchar_t text[64] = L"";
            SendMessageW(GetDlgItem(found, IDC_TEXT1), WM_GETTEXT, 64, reinterpret_cast<LPARAM>(text));
            if (text[0]) {
                ms = NowMs() - start;
                PostMessageW(found, WM_CLOSE, 0, 0);
                break;
            }
        }
        if (WaitForSingleObject(pi.hProcess, 1) == WAIT_OBJECT_0) break;
    }
    if (WaitForSingleObject(pi.hProcess, 10000) != WAIT_OBJECT_0) TerminateProcess(pi.hProcess, 9);
    exitCode = 0;
    GetExitCodeProcess(pi.hProcess, &exitCode);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    return ms;
}

// A socket listening on a loopback port, which the proxy setting lets
// through directly; it stays open for the process's life.
SOCKET Listening(int& port) {
    WSADATA wsa;
    port = 0;
    if (WSAStartup(MAKEWORD(2, 2), &wsa) != 0) return INVALID_SOCKET;
    const SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int size = sizeof at;
    if (s == INVALID_SOCKET || bind(s, reinterpret_cast<sockaddr*>(&at), sizeof at) != 0 || listen(s, SOMAXCONN) != 0 ||
        getsockname(s, reinterpret_cast<sockaddr*>(&at), &size) != 0)
        return INVALID_SOCKET;
    port = ntohs(at.sin_port);
    return s;
}

// A server that accepts connections (its backlog does) and never answers.
int SilentServerPort() {
    int port = 0;
    Listening(port);
    return port;
}

// A server that sends its header a byte at a time without end, as a captive
// proxy or a middlebox may, so that no time-out of WinInet's ends it.
DWORD WINAPI TrickleOne(void* param) {
    const SOCKET c = static_cast<SOCKET>(reinterpret_cast<UINT_PTR>(param));
    char request[4096];
    recv(c, request, sizeof request, 0);
    const char status[] = "HTTP/1.1 200 OK\r\n", line[] = "X-Slow: 1\r\n";
    bool open = send(c, status, sizeof status - 1, 0) > 0;
    for (size_t i = 0; open; i = (i + 1) % (sizeof line - 1), Sleep(200)) open = send(c, line + i, 1, 0) == 1;
    closesocket(c);
    return 0;
}
DWORD WINAPI TrickleAccept(void* param) {
    const SOCKET s = static_cast<SOCKET>(reinterpret_cast<UINT_PTR>(param));
    for (SOCKET c; (c = accept(s, nullptr, nullptr)) != INVALID_SOCKET;)
        if (HANDLE t = CreateThread(nullptr, 0, TrickleOne, reinterpret_cast<void*>(static_cast<UINT_PTR>(c)), 0, nullptr))
            CloseHandle(t);
    return 0;
}
int TrickleServerPort() {
    int port = 0;
    const SOCKET s = Listening(port);
    HANDLE t = port ? CreateThread(nullptr, 0, TrickleAccept, reinterpret_cast<void*>(static_cast<UINT_PTR>(s)), 0,
                                   nullptr)
                    : nullptr;
    if (!t) return 0;
    CloseHandle(t);
    return port;
}

// Another process's handles, from the system's table: Wine's
// GetProcessHandleCount and GetGuiResources say 0 for any process.
double CountHandles(DWORD pid) {
    using QueryFn = LONG(WINAPI*)(ULONG, PVOID, ULONG, PULONG);
    static const auto query = reinterpret_cast<QueryFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation")));
    struct Entry {
        ULONG pid;
        BYTE type, flags;
        USHORT handle;
        PVOID object;
        ACCESS_MASK access;
    };
    constexpr ULONG kHandleInformation = 16;
    std::vector<BYTE> buffer(1 << 20);
    ULONG size = 0;
    LONG status = 0;
    while (query && (status = query(kHandleInformation, buffer.data(), static_cast<ULONG>(buffer.size()), &size)) ==
                        static_cast<LONG>(0xC0000004))  // too small
        buffer.resize(buffer.size() * 2);
    if (!query || status != 0) return 0;
    const ULONG count = *reinterpret_cast<const ULONG*>(buffer.data());
    const auto* entries = reinterpret_cast<const Entry*>(buffer.data() + sizeof(ULONG_PTR));
    double n = 0;
    for (ULONG i = 0; i < count; ++i) n += entries[i].pid == pid;
    return n;
}

BOOL CALLBACK CountWindow(HWND w, LPARAM counts) {
    auto* c = reinterpret_cast<std::pair<DWORD, double>*>(counts);
    DWORD pid = 0;
    GetWindowThreadProcessId(w, &pid);
    if (pid == c->first) {
        ++c->second;
        EnumChildWindows(w, CountWindow, counts);
    }
    return TRUE;
}

// What another process holds now.
struct ProcessUsage {
    double threads = 0, handles = 0, windows = 0, workingSetKiB = 0;
};
ProcessUsage MeasureProcess(HANDLE process, DWORD pid) {
    ProcessUsage u;
    HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    THREADENTRY32 te{};
    te.dwSize = sizeof te;
    for (BOOL more = Thread32First(snap, &te); more; more = Thread32Next(snap, &te))
        if (te.th32OwnerProcessID == pid) ++u.threads;
    CloseHandle(snap);
    u.handles = CountHandles(pid);
    std::pair<DWORD, double> windows{pid, 0};
    EnumWindows(CountWindow, reinterpret_cast<LPARAM>(&windows));
    u.windows = windows.second;
    PROCESS_MEMORY_COUNTERS pmc{};
    pmc.cb = sizeof pmc;
    GetProcessMemoryInfo(process, &pmc, sizeof pmc);
    u.workingSetKiB = static_cast<double>(pmc.WorkingSetSize) / 1024.0;
    return u;
}

// A window left open, refreshed by click again and again: what it holds
// before and after. Fails where a refresh logged no line, or the threads
// or handles grew past what a few requests under way explain. With urls6,
// it asks for the IPv6 address there too (ipv6=1).
bool Soak(const std::wstring& exe, const std::wstring& folder, const std::string& urls, const char* label,
          int refreshes, bool strict, const std::string& urls6 = "", const std::string& extra = "") {
    CreateDirectoryW(folder.c_str(), nullptr);
    const std::wstring program = folder + L"\\Quillon.exe", log = folder + L"\\IP_log.txt";
    DeleteFileW(log.c_str());
    if (!CopyFileW(exe.c_str(), program.c_str(), FALSE)) return false;
    WriteFileBytes(folder + L"\\Quillon_settings.ini",
                   "[Main]\r\nlog=" + std::string(log.begin(), log.end()) + "\r\nurl=" + urls + "\r\n" +
                       (urls6.empty() ? "" : "ipv6=1\r\nurl6=" + urls6 + "\r\n") + extra);
    std::wstring cmd = L"\"" + program + L"\"";
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    if (!CreateProcessW(program.c_str(), cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(), &si, &pi))
        return false;
    HWND found = nullptr;
    for (const double start = NowMs(); !found && NowMs() - start < 60000; Sleep(20))
        found = quillon::test::FindProcessWindow(pi.dwProcessId, L"FrmMain", true);
    HWND command1 = found ? GetDlgItem(found, IDC_COMMAND1) : nullptr;
    const auto click = [command1] {
        DWORD_PTR result = 0;
        return SendMessageTimeoutW(command1, BM_CLICK, 0, 0, SMTO_NORMAL, 60000, &result) != 0;
    };
    bool ok = command1 != nullptr;
    for (int i = 0; ok && i < 10; ++i) ok = click();  // first-use allocations
    const ProcessUsage before = MeasureProcess(pi.hProcess, pi.dwProcessId);
    for (int i = 0; ok && i < refreshes; ++i) ok = click();
    const ProcessUsage after = MeasureProcess(pi.hProcess, pi.dwProcessId);
    if (found) PostMessageW(found, WM_CLOSE, 0, 0);
    if (WaitForSingleObject(pi.hProcess, 10000) != WAIT_OBJECT_0) TerminateProcess(pi.hProcess, 9);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    const std::string logged = quillon::test::ReadBytes(log);
    const long lines = static_cast<long>(std::count(logged.begin(), logged.end(), '\n'));
    const std::string name = std::string("soak, ") + label;
    Figure((name + ": threads before/after").c_str(), "count", after.threads, before.threads);
    Figure((name + ": handles before/after").c_str(), "count", after.handles, before.handles);
    Figure((name + ": windows before/after").c_str(), "count", after.windows, before.windows);
    Figure((name + ": working set before/after").c_str(), "KiB", after.workingSetKiB, before.workingSetKiB);
    if (!ok || lines != 1 + 10 + refreshes) {
        std::fprintf(stderr, "%s: %ld lines logged for %d refreshes\n", name.c_str(), lines, 1 + 10 + refreshes);
        return false;
    }
    // The working set only in the full run, whose 200 refreshes tell
    // growth from noise.
    if (after.threads > before.threads + 4 || after.handles > before.handles + 20 || !before.handles ||
        after.windows > before.windows || (strict && after.workingSetKiB > before.workingSetKiB + 256)) {
        std::fprintf(stderr, "%s: it grew\n", name.c_str());
        return false;
    }
    return true;
}

// The median time from a refresh to the address, over runs cycles of
// servers, each a window's first: a later one passes over a service whose
// earlier request still waits.
double TimeToAddress(const std::vector<quillon::net::AddressServer>& servers, const std::wstring& log, int runs) {
    MemoryWindow window(log);
    std::vector<double> ms;
    for (int i = 0; i < runs; ++i) {
        quillon::net::RefreshCycle cycle(window, servers);
        window.SetAddressText(L"");
        const double start = NowMs();
        cycle.Command1_Click();
        if (window.AddressText().empty()) return -1;
        ms.push_back(NowMs() - start);
    }
    return Percentile(ms, 0.5);
}

// Every failure says what failed: a figure missing for no stated reason
// cannot be told from a race or a time limit.
int Fail(const char* what) {
    std::fprintf(stderr, "%s (last error %lu)\n", what, GetLastError());
    return 1;
}

// One timed refresh from an emptied log to the addresses logged; false,
// said with each server's reason, where the log holds not what was expected.
bool TimedRefresh(quillon::net::RefreshCycle& cycle, const std::wstring& log, const std::string& expected,
                  std::vector<double>& ms) {
    DeleteFileW(log.c_str());
    const double start = NowMs();
    cycle.Command1_Click();
    ms.push_back(NowMs() - start);
    if (const std::string logged = quillon::test::ReadBytes(log); logged != expected) {
        std::fprintf(stderr, "a refresh logged \"%s\", not \"%s\"\n", logged.c_str(), expected.c_str());
        for (const auto& failure : cycle.Failures())
            std::fprintf(stderr, "  %ls: %ls\n", failure.url.c_str(), failure.why.c_str());
        return false;
    }
    return true;
}

// A window's later refreshes, each timed from the click to the addresses
// logged: with servers6, both families, each with its line. After each,
// the log must hold exactly the line of v4 and, with servers6, that of v6.
class TimedRefreshes {
public:
    TimedRefreshes(const std::vector<quillon::net::AddressServer>& servers,
                   const std::vector<quillon::net::AddressServer>& servers6, std::wstring log, const std::string& v4,
                   const std::string& v6)
        : log_(std::move(log)), window_(log_, false, !servers6.empty()), cycle_(window_, servers) {
        cycle_.servers6 = servers6;
        expected_ = v4 + "\r\n" + (servers6.empty() ? "" : v6 + "\r\n");
        cycle_.Prepare();
        cycle_.Command1_Click();  // as a window's first refresh, before those timed
    }

    bool Run(int runs) {
        for (int i = 0; i < runs; ++i)
            if (!TimedRefresh(cycle_, log_, expected_, ms_)) return false;
        return true;
    }

    double Median() const { return Percentile(ms_, 0.5); }

private:
    std::wstring log_;
    MemoryWindow window_;
    quillon::net::RefreshCycle cycle_;
    std::string expected_;
    std::vector<double> ms_;
};

// The median of runs such refreshes.
double TimeToLogged(const std::vector<quillon::net::AddressServer>& servers,
                    const std::vector<quillon::net::AddressServer>& servers6, const std::wstring& log, int runs,
                    const std::string& v4, const std::string& v6) {
    TimedRefreshes refreshes(servers, servers6, log, v4, v6);
    return refreshes.Run(runs) ? refreshes.Median() : -1;
}

// A silent run's one refresh, as Task Scheduler starts one every few
// minutes: a new cycle each time, and no connection kept, so each asks
// over connections of its own, TLS and all.
// False, said, where the log does not hold exactly what was answered.
bool RunsFirstRefresh(const std::vector<quillon::net::AddressServer>& servers,
                      const std::vector<quillon::net::AddressServer>& servers6, const std::wstring& log,
                      const std::string& expected, std::vector<double>& ms) {
    MemoryWindow window(log, true, !servers6.empty());
    quillon::net::RefreshCycle cycle(window, servers);
    cycle.servers6 = servers6;
    cycle.Prepare();  // as the load step does, before its refresh
    return TimedRefresh(cycle, log, expected, ms);
}

// Both families against the public services' names, which bench/run.sh
// leads to local HTTPS stand-ins in a network namespace of their own, next
// to IPv4 alone, taking turns so that a machine that slows down weighs on
// both alike.
int Ipv6StandIns(int runs) {
    using quillon::test::Env;
    const std::wstring work = quillon::test::WinePath(Env("QUILLON_BENCH_DIR"));
    const std::string v4 = Env("QUILLON_STANDIN_V4"), v6 = Env("QUILLON_STANDIN_V6");
    if (work.empty() || v4.empty() || v6.empty()) {
        std::fprintf(stderr, "QUILLON_BENCH_DIR, QUILLON_STANDIN_V4 and QUILLON_STANDIN_V6 must be set\n");
        return 1;
    }
    CreateDirectoryW(work.c_str(), nullptr);
    // The bench's build has a host of its own for the other figures: the
    // public services are named here.
    const auto servers = quillon::net::BuiltInServers(""), servers6 = quillon::net::BuiltInServers6();
    std::vector<double> alone, both;
    for (int i = 0; i < runs; ++i)
        if (!RunsFirstRefresh(servers, {}, work + L"\\standins-ipv4.log", v4 + "\r\n", alone) ||
            !RunsFirstRefresh(servers, servers6, work + L"\\standins-both.log", v4 + "\r\n" + v6 + "\r\n", both))
            return Fail("a refresh against the stand-ins got not the addresses they answer");
    Figure("time to both addresses logged with ipv6=1, HTTPS stand-ins 40 ms away, a silent run's refresh, median", "ms",
           Percentile(both, 0.5), Percentile(alone, 0.5));
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    std::printf("started\n");  // the script tells a program that never ran from one that failed
    std::fflush(stdout);
    const std::wstring mode = argc > 1 ? argv[1] : L"";
    // Run by bench/run.sh inside the stand-ins' namespace, with a wineserver of its own there.
    if (mode == L"--ipv6-standins") return Ipv6StandIns(40);
    const bool quick = mode == L"--quick";
    const int silentRuns = quick ? 3 : 30, cycles = quick ? 50 : 500, startRuns = quick ? 3 : 20,
              repeats = quick ? 10 : 100;
    using quillon::test::Env;
    using quillon::test::WinePath;
    const std::wstring bin = WinePath(Env("QUILLON_BIN"));
    const std::wstring work = WinePath(Env("QUILLON_BENCH_DIR"));
    CreateDirectoryW(work.c_str(), nullptr);
    const std::wstring quillon = work + L"\\Quillon.exe", baseline = bin + L"\\Baseline.exe",
                       baselineWindow = bin + L"\\BaselineWindow.exe";
    CopyFileW((bin + L"\\Quillon.exe").c_str(), quillon.c_str(), FALSE);
    const std::wstring log = work + L"\\IP_log.txt";
    WriteFileBytes(work + L"\\Quillon_settings.ini", "[Main]\r\nlog=" + std::string(log.begin(), log.end()) + "\r\n");

    // 1. Silent run against the bare program.
    std::vector<double> q, b, w;
    SIZE_T peak = 0;
    for (int i = 0; i < silentRuns; ++i) {
        const Run rq = Launch(quillon, L"-s", work);
        const Run rb = Launch(baseline, L"\"" + work + L"\\baseline.log\"", work);
        const Run rw = Launch(baselineWindow, L"\"" + work + L"\\baseline-window.log\"", work);
        if (rq.exitCode != 0 || rb.exitCode != 0 || rw.exitCode != 0) {
            std::fprintf(stderr, "a silent run failed: quillon %lu, baseline %lu, with a window %lu\n", rq.exitCode,
                         rb.exitCode, rw.exitCode);
            return 1;
        }
        q.push_back(rq.ms);
        b.push_back(rb.ms);
        w.push_back(rw.ms);
        peak = std::max(peak, rq.peakWorkingSet);
    }
    Figure("silent run, median", "ms", Percentile(q, 0.5), Percentile(b, 0.5));
    Figure("silent run, 90th percentile", "ms", Percentile(q, 0.9), Percentile(b, 0.9));
    // What the hidden window alone costs, with no other part of Quillon.
    Figure("baseline with a hidden window, median", "ms", Percentile(w, 0.5), Percentile(b, 0.5));
    const double silentMedian = Percentile(q, 0.5);

    // The start-up alone: to the end of the load step, which a url that is
    // not accepted ends before anything is fetched (exit code 2), next to
    // the hidden window alone.
    const std::wstring startupDir = work + L"\\start-up";
    CreateDirectoryW(startupDir.c_str(), nullptr);
    CopyFileW(quillon.c_str(), (startupDir + L"\\Quillon.exe").c_str(), FALSE);
    WriteFileBytes(startupDir + L"\\Quillon_settings.ini", "[Main]\r\nurl=not a page\r\n");
    std::vector<double> sq, sw;
    for (int i = 0; i < silentRuns; ++i) {
        const Run rq = Launch(startupDir + L"\\Quillon.exe", L"-s", startupDir);
        const Run rw = Launch(baselineWindow, L"", startupDir);
        if (rq.exitCode != 2 || rw.exitCode != 0) {
            std::fprintf(stderr, "a start-up run failed: quillon %lu, hidden window %lu\n", rq.exitCode, rw.exitCode);
            return 1;
        }
        sq.push_back(rq.ms);
        sw.push_back(rw.ms);
    }
    Figure("silent start to the load step's end, median", "ms", Percentile(sq, 0.5), Percentile(sw, 0.5));

    // 2. Refresh cycles inside one process, in blocks that take turns with
    // the bare loop's, so that a machine that slows down or speeds up while
    // they run weighs on both alike.
    quillon::ui::FrmMain window;
    window.onEnd = [](int) {};
    if (!window.Create()) return Fail("the window could not be made");
    window.SetText2(work + L"\\cycles.log");
    MemoryWindow memory(work + L"\\memory.log");
    quillon::net::RefreshCycle cycle(memory, QUILLON_ADDRESS_HOST);
    const std::wstring bareLog = work + L"\\bare.log";
    constexpr int kBlocks = 10;
    double quillonMs = 0, memoryMs = 0, bareMs = 0;
    quillon::YieldCount yielded{};  // by the window's cycles
    for (int block = 0; block < kBlocks; ++block) {
        const int n = cycles / kBlocks;
        double start = NowMs();
        const quillon::YieldCount before = quillon::Yields();
        for (int i = 0; i < n; ++i) window.Command1_Click();
        const quillon::YieldCount after = quillon::Yields();
        yielded.yields += after.yields - before.yields;
        yielded.messages += after.messages - before.messages;
        quillonMs += NowMs() - start;
        start = NowMs();
        for (int i = 0; i < n; ++i)
            if (!BareCycle(bareLog)) return Fail("a bare refresh cycle failed");
        bareMs += NowMs() - start;
        start = NowMs();
        for (int i = 0; i < n; ++i) cycle.Command1_Click();
        memoryMs += NowMs() - start;
    }
    const double quillonRate = cycles / (quillonMs / 1000.0), bareRate = cycles / (bareMs / 1000.0);
    const double memoryRate = cycles / (memoryMs / 1000.0);
    if (window.AddressText().empty() || memory.AddressText().empty())
        return Fail("the refresh cycles got no address");
    Figure("refresh cycles", "1/s", quillonRate, bareRate);
    Figure("yields per cycle", "count", static_cast<double>(yielded.yields) / cycles);
    Figure("messages pumped per cycle", "count",
           static_cast<double>(yielded.messages) / cycles);
    double start = NowMs();
    for (int i = 0; i < 1000; ++i) quillon::DoEvents();
    Figure("one yield with nothing waiting", "us", (NowMs() - start));
    start = NowMs();
    for (int i = 0; i < 1000; ++i) (void)window.LogPath();
    Figure("one read of the log path from its text box", "us", (NowMs() - start));

    // A first service that accepts and never answers, next to one that answers.
    const int silentPort = SilentServerPort();
    const auto silent = quillon::net::ParseServerUrls(L"http://127.0.0.1:" + std::to_wstring(silentPort) + L"/");
    if (!silentPort || !silent) return Fail("no silent server could be made");
    std::vector<quillon::net::AddressServer> silentFirst = *silent, answering;
    for (const auto& server : quillon::net::BuiltInServers(QUILLON_ADDRESS_HOST)) {
        silentFirst.push_back(server);
        answering.push_back(server);
        answering.push_back(server);
    }
    const double silentMs = TimeToAddress(silentFirst, work + L"\\hedged.log", quick ? 3 : 10);
    const double answeringMs = TimeToAddress(answering, work + L"\\answering.log", quick ? 3 : 10);
    if (silentMs < 0 || answeringMs < 0) return Fail("a refresh with the first service silent got no address");
    Figure("time to the address, first service silent, median", "ms", silentMs, answeringMs);

    // Both families side by side, next to IPv4 alone: the same page over
    // IPv4, and nginx's IPv6 loopback page.
    if (const std::string port6 = Env("QUILLON_NGINX_PORT6"); !port6.empty()) {
        const auto v4 = quillon::net::ParseServerUrls(quillon::FromAnsi("http://127.0.0.1:" + Env("QUILLON_NGINX_PORT") + "/ip.shtml"));
        const auto v6 = quillon::net::ParseServerUrls(quillon::FromAnsi("http://[::1]:" + port6 + "/a"));
        if (!v4 || !v6) return Fail("no IPv6 page to ask");
        const int runs = quick ? 5 : 40;
        const double aloneMs = TimeToLogged(*v4, {}, work + L"\\ipv4.log", runs, "127.0.0.1", "::1");
        const double bothMs = TimeToLogged(*v4, *v6, work + L"\\both.log", runs, "127.0.0.1", "::1");
        if (aloneMs < 0 || bothMs < 0) return Fail("a refresh with ipv6=1 got not both addresses");
        Figure("time to both addresses logged with ipv6=1, loopback, median", "ms", bothMs, aloneMs);
    }

    // Where a cycle's time goes: the cycle without the window, and the log
    // writer alone next to a bare append.
    Figure("refresh cycles without the window", "1/s", memoryRate, bareRate);
    // With an update page and a command set and the address unchanged: no
    // request, no process, only the record read.
    {
        MemoryWindow acting(work + L"\\acting.log"), plain(work + L"\\plain.log");
        acting.actions.update = L"http://update.invalid/u?ip={ipv4}";
        acting.actions.updates = *quillon::net::ParseUpdateUrls(acting.actions.update, false);
        acting.actions.onchange = L"cmd /c exit 9";
        acting.actions.recordPath = work + L"\\actions.txt";
        WriteFileBytes(acting.actions.recordPath, "ipv4=127.0.0.1\r\n");
        quillon::net::RefreshCycle withActions(acting, QUILLON_ADDRESS_HOST), without(plain, QUILLON_ADDRESS_HOST);
        double actingMs = 0, plainMs = 0;
        for (int block = 0; block < 10; ++block) {
            start = NowMs();
            for (int i = 0; i < cycles / 10; ++i) withActions.Command1_Click();
            actingMs += NowMs() - start;
            start = NowMs();
            for (int i = 0; i < cycles / 10; ++i) without.Command1_Click();
            plainMs += NowMs() - start;
        }
        const quillon::net::Outcome* last = withActions.Settled();
        if (!last || last->actions.due)
            return Fail("a refresh with nothing changed ran its actions");
        Figure("refresh cycles with update and onchange, nothing changed", "1/s", cycles / (actingMs / 1000.0),
               cycles / (plainMs / 1000.0));
    }
    const int appends = cycles * 4;
    start = NowMs();
    for (int i = 0; i < appends; ++i)
        if (!quillon::log::AddToLogs(work + L"\\appends.log", L"127.0.0.1", false)) return Fail("a log append failed");
    const double appendRate = appends / ((NowMs() - start) / 1000.0);
    start = NowMs();
    for (int i = 0; i < appends; ++i)
        if (!BareAppend(work + L"\\bare-appends.log")) return Fail("a bare append failed");
    Figure("log appends", "1/s", appendRate, appends / ((NowMs() - start) / 1000.0));

    // 3. Start-up to the window with the address, next to the silent run.
    std::vector<double> s;
    for (int i = 0; i < startRuns; ++i) {
        DWORD code = 0;
        double ms = StartToWindow(quillon, work, code);
        // Under a loaded Wine a child now and then loses its wineserver
        // ("wine client error") before it has a window; that is a figure
        // lost, not a start-up of ours that failed, so it is said and
        // measured once more. Twice is a failure.
        if (ms < 0) {
            std::fprintf(stderr, "note: a start-up ended with 0x%lx before its window; measured again\n",
                        static_cast<unsigned long>(code));
            ms = StartToWindow(quillon, work, code);
        }
        if (ms < 0) return Fail("a start-up to the window failed twice");
        s.push_back(ms);
    }
    Figure("start-up to visible window, median", "ms", Percentile(s, 0.5), silentMedian);

    // 4. Memory and handles.
    Figure("silent run, peak working set", "KiB", static_cast<double>(peak) / 1024.0);
    quillon::theme::Api().DllGetVersion.Replace(&Version6);
    if (!quillon::theme::FixThemeSupport(window.Controls().Controls()))
        return Fail("the visual-style layer could not be set up");
    ShowWindow(window.hWnd(), SW_SHOWNORMAL);
    quillon::DoEvents();
    HWND command1 = window.Item(L"Command1");
    const auto refreshAndRepaint = [&] {
        window.Command1_Click();
        RedrawWindow(command1, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
        quillon::DoEvents();
    };
    for (int i = 0; i < 20; ++i) refreshAndRepaint();  // first-use allocations
    if (!GetPropA(command1, "Painted")) {
        std::fprintf(stderr, "the refresh button was not painted by the themed painter\n");
        return 1;
    }
    const Usage before = Measure();
    for (int i = 0; i < repeats; ++i) refreshAndRepaint();
    const Usage after = Measure();
    Figure("working set before/after refreshes", "KiB", static_cast<double>(after.workingSet) / 1024.0,
           static_cast<double>(before.workingSet) / 1024.0);
    Figure("GDI objects before/after, themed repaints", "count", after.gdi, before.gdi);
    Figure("USER objects before/after, themed repaints", "count", after.user, before.user);

    // 5. A window left open against a first service that trickles its
    // header, and against services that all answer: the program as users
    // get it, and the 32-bit one too where it is given.
    const int tricklePort = TrickleServerPort();
    if (!tricklePort) return Fail("no trickling server could be made");
    // The nginx asked directly, not as the proxy: under Wine, each request
    // through a proxy keeps a handle after it closes, which is Wine's, not
    // the program's.
    const std::string answerUrl = "http://127.0.0.1:" + Env("QUILLON_NGINX_PORT") + "/ip.shtml";
    const std::string trickling = "http://127.0.0.1:" + std::to_string(tricklePort) + "/ip.shtml " + answerUrl;
    std::vector<std::pair<std::wstring, std::string>> programs = {{quillon, sizeof(void*) == 8 ? "win64" : "win32"}};
    if (const std::string win32 = Env("QUILLON_SOAK_WIN32"); !win32.empty()) programs.push_back({WinePath(win32), "win32"});
    const int soaks = quick ? 50 : 200;
    for (const auto& [exe, arch] : programs) {
        const std::string first = arch + ", first service trickling, " + std::to_string(soaks) + " refreshes";
        const std::string all = arch + ", all answering, " + std::to_string(soaks) + " refreshes";
        // IPv6 failing beside it at every refresh: refused, then the wrong family.
        const std::string v6 = arch + ", first service trickling, IPv6 failing, " + std::to_string(soaks) + " refreshes";
        // Actions that fail run again at every refresh, as after a change.
        const std::string acting = arch + ", update and onchange failing, " + std::to_string(soaks) + " refreshes";
        if (!Soak(exe, work + L"\\soak-trickle-" + std::wstring(arch.begin(), arch.end()), trickling, first.c_str(),
                  soaks, !quick) ||
            !Soak(exe, work + L"\\soak-answer-" + std::wstring(arch.begin(), arch.end()), answerUrl + " " + answerUrl,
                  all.c_str(), soaks, !quick) ||
            !Soak(exe, work + L"\\soak-ipv6-" + std::wstring(arch.begin(), arch.end()), trickling, v6.c_str(), soaks,
                  !quick, "http://127.0.0.1:1/ip.shtml " + answerUrl) ||
            !Soak(exe, work + L"\\soak-actions-" + std::wstring(arch.begin(), arch.end()), answerUrl, acting.c_str(),
                  soaks, !quick, "",
                  "update=http://127.0.0.1:" + Env("QUILLON_NGINX_PORT") + "/no-update?ip={ipv4}\r\n"
                  "onchange=cmd /c exit 3\r\n"))
            return Fail("a window left open piled up what its refreshes left behind");
    }
    return 0;
}
