#include "shell/win/Accessibility.h"

#include <oleacc.h>

#include "base/Handles.h"

namespace {

// The identifiers of the annotation service, defined here: the import library's would be
// read through the DLL's exports, which setup.exe does not import.
constexpr CLSID kAccPropServicesClass = {
    0xb5f8350b, 0x0548, 0x48b1, {0xa6, 0xee, 0x88, 0xbd, 0x00, 0xb4, 0xa5, 0xe7}};
constexpr IID kAccPropServicesInterface = {
    0x6e26e776, 0x04f0, 0x495d, {0x80, 0xe4, 0x33, 0x30, 0x35, 0x2e, 0x31, 0x69}};
constexpr MSAAPROPID kNameProperty = {
    0x608d3df8, 0x8128, 0x4aa7, {0xa4, 0x28, 0xf5, 0x5e, 0x49, 0x26, 0x72, 0x91}};
constexpr MSAAPROPID kRoleProperty = {
    0xcb905ff2, 0x7bd1, 0x4c05, {0xb3, 0xc8, 0xe6, 0xc2, 0x41, 0x36, 0x4d, 0x70}};

// Runs `annotate` with the system's annotation service, where there is one. The system keeps
// what is set through it for as long as the window lives.
template <class Annotate>
void WithAnnotationService(Annotate annotate) {
  CoInitialize(nullptr);  // balanced by the thread's end: the annotations outlive this call
  ComPtr<IAccPropServices> service;
  if (SUCCEEDED(CoCreateInstance(kAccPropServicesClass, nullptr, CLSCTX_INPROC_SERVER,
                                 kAccPropServicesInterface, service.put_void())))
    annotate(*service.get());
}

}  // namespace

void AnnotateRole(HWND window, LONG role) {
  WithAnnotationService([&](IAccPropServices& service) {
    VARIANT value{};
    value.vt = VT_I4;
    value.lVal = role;
    service.SetHwndProp(window, static_cast<DWORD>(OBJID_CLIENT), CHILDID_SELF, kRoleProperty,
                        value);
  });
}

void AnnotateName(HWND window, const std::wstring& name) {
  WithAnnotationService([&](IAccPropServices& service) {
    service.SetHwndPropStr(window, static_cast<DWORD>(OBJID_CLIENT), CHILDID_SELF, kNameProperty,
                           name.c_str());
  });
}

void AnnounceNameChange(HWND window) {
  NotifyWinEvent(EVENT_OBJECT_NAMECHANGE, window, OBJID_CLIENT, CHILDID_SELF);
}
