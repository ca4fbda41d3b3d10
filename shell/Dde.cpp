#include "shell/Dde.h"

#include "shell/SysUtils.h"

namespace {

// A client that only sends has nothing to answer: the library calls this for the
// notifications of its own transactions.
HDDEDATA CALLBACK IgnoreDdeCallback(UINT, UINT, HCONV, HSZ, HSZ, HDDEDATA, ULONG_PTR, ULONG_PTR) {
  return nullptr;
}

std::string Ansi(const std::wstring& text) {
  const int size = WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
  if (size <= 1) return {};
  std::string ansi(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, ansi.data(), size, nullptr, nullptr);
  ansi.pop_back();  // the terminator the conversion wrote
  return ansi;
}

}  // namespace

TDdeClientConv::TDdeClientConv() {
  if (DdeInitializeA(&instance_, IgnoreDdeCallback, APPCMD_CLIENTONLY, 0) != DMLERR_NO_ERROR)
    instance_ = 0;
}

TDdeClientConv::~TDdeClientConv() {
  CloseLink();
  if (instance_) DdeUninitialize(instance_);
}

bool TDdeClientConv::SetLink(const std::wstring& service, const std::wstring& topic) {
  CloseLink();
  if (!instance_) return false;
  service_ = DdeCreateStringHandleA(instance_, Ansi(service).c_str(), CP_WINANSI);
  topic_ = DdeCreateStringHandleA(instance_, Ansi(topic).c_str(), CP_WINANSI);
  if (Connect()) return true;
  // A program that could not be started registers nothing, so the second try then fails
  // as the first did.
  RunProgram(service + L" " + topic, SW_SHOWMINNOACTIVE);
  if (Connect()) return true;
  CloseLink();
  return false;
}

bool TDdeClientConv::Connect() {
  if (!service_ || !topic_) return false;
  conversation_ = DdeConnect(instance_, service_, topic_, nullptr);
  return conversation_ != nullptr;
}

bool TDdeClientConv::ExecuteMacro(const std::wstring& macro) {
  if (!conversation_) return false;
  std::string command = Ansi(macro);
  HDDEDATA data = DdeCreateDataHandle(instance_, reinterpret_cast<BYTE*>(command.data()),
                                      static_cast<DWORD>(command.size() + 1), 0, nullptr, CF_TEXT, 0);
  if (!data) return false;
  // The library owns the data handle from here on; DdeUninitialize frees what is left.
  DWORD transaction = 0;
  return DdeClientTransaction(reinterpret_cast<BYTE*>(data), static_cast<DWORD>(-1), conversation_,
                              nullptr, CF_TEXT, XTYP_EXECUTE, TIMEOUT_ASYNC, &transaction) != nullptr;
}

void TDdeClientConv::CloseLink() {
  if (conversation_) DdeDisconnect(conversation_);
  conversation_ = nullptr;
  if (service_) DdeFreeStringHandle(instance_, service_);
  if (topic_) DdeFreeStringHandle(instance_, topic_);
  service_ = topic_ = nullptr;
}
