#pragma once
// Every comctl32, uxtheme and msimg32 entry point the visual-style layer
// uses goes through this one table and is bound by name at its first call,
// so the program starts and runs where a library or an export is missing:
// a missing one is a failure of that call only. Tests replace entries.
#include <windows.h>
#include <commctrl.h>
#include <shlwapi.h>
#include <uxtheme.h>

#include <type_traits>
#include <utility>

#include "common/Handle.h"
#include "common/SystemLibrary.h"

namespace quillon::theme {

// The signatures the table is typed with.
namespace entry_signature {
using ::DefSubclassProc;
using ::GetWindowSubclass;
using ::InitCommonControlsEx;
using ::RemoveWindowSubclass;
using ::SetWindowSubclass;
using ::CloseThemeData;
using ::DrawThemeBackground;
using ::DrawThemeParentBackground;
using ::DrawThemeText;
using ::GetThemeAppProperties;
using ::GetThemeBackgroundContentRect;
using ::GetThemeBackgroundRegion;
using ::IsAppThemed;
using ::IsThemeActive;
using ::OpenThemeData;
using ::TransparentBlt;
// comctl32 exports it, but no header declares it as a function.
HRESULT CALLBACK DllGetVersion(DLLVERSIONINFO* info);
}  // namespace entry_signature

#define QUILLON_THEME_ENTRY_POINTS(X)                      \
    X(L"comctl32.dll", DllGetVersion)                      \
    X(L"comctl32.dll", InitCommonControlsEx)               \
    X(L"comctl32.dll", SetWindowSubclass)                  \
    X(L"comctl32.dll", DefSubclassProc)                    \
    X(L"comctl32.dll", GetWindowSubclass)                  \
    X(L"comctl32.dll", RemoveWindowSubclass)               \
    X(L"uxtheme.dll", IsAppThemed)                         \
    X(L"uxtheme.dll", IsThemeActive)                       \
    X(L"uxtheme.dll", GetThemeAppProperties)               \
    X(L"uxtheme.dll", OpenThemeData)                       \
    X(L"uxtheme.dll", CloseThemeData)                      \
    X(L"uxtheme.dll", GetThemeBackgroundRegion)            \
    X(L"uxtheme.dll", DrawThemeParentBackground)           \
    X(L"uxtheme.dll", DrawThemeBackground)                 \
    X(L"uxtheme.dll", GetThemeBackgroundContentRect)       \
    X(L"uxtheme.dll", DrawThemeText)                       \
    X(L"msimg32.dll", TransparentBlt)

// One entry: unbound until its first call, then bound or missing for good.
template <class Fn>
class EntryPoint;

template <class R, class... A>
class EntryPoint<R(WINAPI*)(A...)> {
public:
    using Fn = R(WINAPI*)(A...);

    EntryPoint(const wchar_t* library, const char* name) : library_(library), name_(name) {}

    // Calls it. When it cannot be bound, the call fails softly: the result
    // is the failure for an HRESULT, else 0, and the reason goes to
    // *failure unless an earlier one is there.
    template <class... Args>
    R Call(HRESULT* failure, Args&&... args) {
        HRESULT missing = S_OK;
        if (Fn fn = Bind(&missing)) return fn(std::forward<Args>(args)...);
        if (failure && SUCCEEDED(*failure)) *failure = missing;
        if constexpr (std::is_same_v<R, HRESULT>)
            return missing;
        else
            return R{};
    }

    // The function, bound on first use; null when its library or export is
    // missing, with the reason in *failure.
    Fn Bind(HRESULT* failure = nullptr) {
        if (state_ == State::Unbound) Resolve();
        if (!fn_ && failure) *failure = failure_;
        return fn_;
    }

    // For tests: a stand-in, a missing export, or back to unbound.
    void Replace(Fn fn) {
        fn_ = fn;
        failure_ = S_OK;
        state_ = State::Bound;
    }
    void Remove() {
        fn_ = nullptr;
        failure_ = HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND);
        state_ = State::Bound;
    }
    void Unbind() {
        fn_ = nullptr;
        failure_ = S_OK;
        state_ = State::Unbound;
    }

private:
    enum class State { Unbound, Bound };

    void Resolve() {
        state_ = State::Bound;
        HMODULE module = LoadSystemLibrary(library_);  // kept for the process's life
        if (!module) {
            failure_ = HRESULT_FROM_WIN32(GetLastError());
            return;
        }
        fn_ = ProcAddress<Fn>(module, name_);
        if (!fn_) failure_ = HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND);
    }

    const wchar_t* library_;
    const char* name_;
    Fn fn_ = nullptr;
    HRESULT failure_ = S_OK;
    State state_ = State::Unbound;
};

struct ThemeApi {
#define QUILLON_THEME_ENTRY(library, name) EntryPoint<decltype(&entry_signature::name)> name{library, #name};
    QUILLON_THEME_ENTRY_POINTS(QUILLON_THEME_ENTRY)
#undef QUILLON_THEME_ENTRY

    // Every entry back to unbound, so the next call binds the real one.
    void UnbindAll();
};

// The table in use.
ThemeApi& Api();

// A theme handle, closed through the table.
inline void CloseTheme(HTHEME theme) { Api().CloseThemeData.Call(nullptr, theme); }
using UniqueTheme = UniqueAny<HTHEME, &CloseTheme>;

}  // namespace quillon::theme
