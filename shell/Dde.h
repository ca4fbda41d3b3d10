// A client conversation with a DDE server through the DDE management library, in the
// ANSI code page: one owner for the library instance, the string handles and the link.
#pragma once

#include <windows.h>

#include <ddeml.h>

#include <string>

class TDdeClientConv {
 public:
  TDdeClientConv();
  ~TDdeClientConv();
  TDdeClientConv(const TDdeClientConv&) = delete;
  TDdeClientConv& operator=(const TDdeClientConv&) = delete;

  // Connects to `service` on `topic`. When no server answers, starts the system's program
  // of the service's name (SystemProgram) with the topic, minimised without activation and,
  // when it could be started, tries once more. True when the conversation is open.
  bool SetLink(const std::wstring& service, const std::wstring& topic);
  bool Connected() const { return Conversation_ != nullptr; }

  // Sends `macro` in the ANSI code page (with its terminating zero, as CF_TEXT) in an
  // execute transaction without waiting for the server. True when the transaction started.
  bool ExecuteMacro(const std::wstring& macro);

  // Disconnects and frees the string handles; nothing happens when not connected.
  void CloseLink();

 private:
  bool Connect();

  DWORD Instance_ = 0;
  HSZ Service_ = nullptr;
  HSZ Topic_ = nullptr;
  HCONV Conversation_ = nullptr;
};
