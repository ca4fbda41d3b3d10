// Every file and registry change of an installation, of its undoing and of the finishing of
// an interrupted one passes here first. Normally nothing happens; a test puts a fault point
// in place that makes one change fail, or stops every change from one on, as a crash would.
#pragma once

#include <windows.h>

#include <string>

class TFaultPoint {
 public:
  virtual ~TFaultPoint() = default;
  // 0 lets the change happen; any other value is the system error it fails with instead.
  // `change` says what it is ("copy", "registry value"...), `path` what it changes.
  virtual DWORD Before(const wchar_t* change, const std::wstring& path) = 0;
};

// Puts `point` in place (null: none); answers the one it replaced.
TFaultPoint* SetFaultPoint(TFaultPoint* point);

// The error the change is to fail with; 0 when no fault point is in place or it lets the
// change happen.
DWORD InjectedFault(const wchar_t* change, const std::wstring& path);
