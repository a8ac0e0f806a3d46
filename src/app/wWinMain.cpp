#include <windows.h>

#include "QuillonConfig.h"
#include "net/RefreshCycle.h"

namespace {

// Until the window exists: one refresh cycle into the default log.
class ConsoleState final : public quillon::net::WindowState {
public:
    std::wstring AddressText() override { return address; }
    void SetAddressText(const std::wstring& text) override { address = text; }
    std::wstring LogPath() override { return L"C:\\IP_log.txt"; }
    int OverwriteState() override { return 0; }
    int DateState() override { return 1; }
    bool Silent() override { return false; }
    void Unload(bool) override {}
    std::wstring address;
};

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    ConsoleState state;
    quillon::net::RefreshCycle cycle(state, QUILLON_ADDRESS_HOST);
    cycle.Command1_Click();
    return state.address.empty() ? 1 : 0;
}
