#include "shell/UserStart.h"

#include <utility>

#include <windows.h>
#include <exdisp.h>
#include <shldisp.h>
#include <shobjidl.h>
#include <servprov.h>
#include <oleauto.h>

#include "base/Handles.h"
#include "shell/SysUtils.h"

namespace {

// Spelled out: the uuid library that defines them would bring every other identifier of
// the platform into the program.
constexpr CLSID kShellWindowsClass = {
    0x9ba05972, 0xf6a8, 0x11cf, {0xa4, 0x42, 0x00, 0xa0, 0xc9, 0x0a, 0x8f, 0x39}};
constexpr GUID kTopLevelBrowserService = {
    0x4c96be40, 0x915c, 0x11cf, {0x99, 0xd3, 0x00, 0xaa, 0x00, 0x4a, 0xe8, 0x37}};

// The component layer for this thread for as long as it lives, unless the thread already
// has it in another model (then that one serves).
class ComApartment {
 public:
  ComApartment() : Initialized_(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {}
  ComApartment(const ComApartment&) = delete;
  ComApartment& operator=(const ComApartment&) = delete;
  ~ComApartment() {
    if (Initialized_) CoUninitialize();
  }

 private:
  bool Initialized_;
};

// A text as the automation layer passes it, owned.
class Bstr {
 public:
  explicit Bstr(const std::wstring& text) : Text_(SysAllocStringLen(text.data(), static_cast<UINT>(text.size()))) {}
  Bstr(const Bstr&) = delete;
  Bstr& operator=(const Bstr&) = delete;
  ~Bstr() { SysFreeString(Text_); }
  BSTR get() const { return Text_; }
  // A variant that refers to the text; the text keeps ownership.
  VARIANT Variant() const {
    VARIANT variant;
    VariantInit(&variant);
    variant.vt = VT_BSTR;
    variant.bstrVal = Text_;
    return variant;
  }

 private:
  BSTR Text_;
};

// The automation object of the desktop shell's own process (the shell of the user who is
// logged on), found through its desktop window's view.
bool DesktopShellDispatch(ComPtr<IShellDispatch2>& shell) {
  ComPtr<IShellWindows> windows;
  if (FAILED(CoCreateInstance(kShellWindowsClass, nullptr, CLSCTX_LOCAL_SERVER,
                              __uuidof(IShellWindows), windows.put_void())))
    return false;
  VARIANT anywhere;
  VariantInit(&anywhere);
  long window = 0;
  ComPtr<IDispatch> desktop;
  if (windows->FindWindowSW(&anywhere, &anywhere, SWC_DESKTOP, &window, SWFO_NEEDDISPATCH,
                            desktop.put()) != S_OK || !desktop)
    return false;
  ComPtr<IServiceProvider> services;
  ComPtr<IShellBrowser> browser;
  ComPtr<IShellView> view;
  ComPtr<IDispatch> background;
  ComPtr<IShellFolderViewDual> folderView;
  ComPtr<IDispatch> application;
  return SUCCEEDED(desktop->QueryInterface(__uuidof(IServiceProvider), services.put_void())) &&
         SUCCEEDED(services->QueryService(kTopLevelBrowserService, __uuidof(IShellBrowser),
                                          browser.put_void())) &&
         SUCCEEDED(browser->QueryActiveShellView(view.put())) &&
         SUCCEEDED(view->GetItemObject(SVGIO_BACKGROUND, __uuidof(IDispatch),
                                       background.put_void())) &&
         SUCCEEDED(background->QueryInterface(__uuidof(IShellFolderViewDual),
                                              folderView.put_void())) &&
         SUCCEEDED(folderView->get_Application(application.put())) &&
         SUCCEEDED(application->QueryInterface(__uuidof(IShellDispatch2), shell.put_void()));
}

class TSystemUserStart : public TUserStartSystem {
 public:
  bool Elevated() override {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
    UniqueKernelObject owner(token);
    TOKEN_ELEVATION elevation{};
    DWORD size = 0;
    return GetTokenInformation(token, TokenElevation, &elevation, sizeof(elevation), &size) &&
           elevation.TokenIsElevated != 0;
  }

  bool StartThroughDesktopShell(const TUserProgram& program) override {
    ComApartment apartment;
    ComPtr<IShellDispatch2> shell;
    if (!DesktopShellDispatch(shell)) return false;
    const Bstr file(program.File), folder(program.Folder), verb(L"open");
    VARIANT noArguments, show;
    VariantInit(&noArguments);
    VariantInit(&show);
    show.vt = VT_I4;
    show.lVal = program.ShowState;
    return SUCCEEDED(shell->ShellExecute(file.get(), noArguments, folder.Variant(),
                                         verb.Variant(), show));
  }

  // The program inherits this process's current folder, which its caller has set.
  void StartDirectly(const TUserProgram& program) override {
    // Quoted, so that a blank in the path cannot make the system start another program.
    RunProgram(L"\"" + program.File + L"\"", program.ShowState);
  }
};

}  // namespace

TUserStartSystem& SystemUserStart() {
  static TSystemUserStart system;
  return system;
}

namespace {
TUserStartSystem* userStartSystem = nullptr;
}  // namespace

TUserStartSystem* SetUserStartSystem(TUserStartSystem* system) {
  return std::exchange(userStartSystem, system);
}

TUserStartSystem& UserStartSystem() {
  return userStartSystem ? *userStartSystem : SystemUserStart();
}

TStartedBy StartWithUserRights(const TUserProgram& program, TUserStartSystem& system) {
  if (system.Elevated() && system.StartThroughDesktopShell(program)) return TStartedBy::DesktopShell;
  system.StartDirectly(program);
  return TStartedBy::Setup;
}
