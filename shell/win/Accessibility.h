// What assistive technology (screen readers, magnifiers) is told about a window beyond what
// its class and styles tell it: a role or a name set by dynamic annotation, and the event
// that announces a new name. Systems without annotation (Wine) keep the window's own.
#pragma once

#include <windows.h>

#include <string>

// The role of the window's client area, one of the ROLE_SYSTEM_* values.
void AnnotateRole(HWND window, LONG role);
// The name of the window's client area.
void AnnotateName(HWND window, const std::wstring& name);
// Tells assistive technology that the window's name changed, which a screen reader speaks
// for the window the user works in.
void AnnounceNameChange(HWND window);
