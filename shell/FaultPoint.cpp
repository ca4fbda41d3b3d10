#include "shell/FaultPoint.h"

#include <utility>

namespace {
TFaultPoint* faultPoint = nullptr;
}

TFaultPoint* SetFaultPoint(TFaultPoint* point) { return std::exchange(faultPoint, point); }

DWORD InjectedFault(const wchar_t* change, const std::wstring& path) {
  return faultPoint ? faultPoint->Before(change, path) : 0;
}
