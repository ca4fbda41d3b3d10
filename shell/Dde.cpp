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
  if (DdeInitializeA(&Instance_, IgnoreDdeCallback, APPCMD_CLIENTONLY, 0) != DMLERR_NO_ERROR)
    Instance_ = 0;
}

TDdeClientConv::~TDdeClientConv() {
  CloseLink();
  if (Instance_) DdeUninitialize(Instance_);
}

bool TDdeClientConv::SetLink(const std::wstring& service, const std::wstring& topic) {
  CloseLink();
  if (!Instance_) return false;
  Service_ = DdeCreateStringHandleA(Instance_, Ansi(service).c_str(), CP_WINANSI);
  Topic_ = DdeCreateStringHandleA(Instance_, Ansi(topic).c_str(), CP_WINANSI);
  if (Connect()) return true;
  // The server's program is the system's own, never one of that name beside this program.
  // A program that could not be started registers nothing, so the second try then fails
  // as the first did.
  const std::wstring server = SystemProgram(service);
  if (!server.empty()) RunProgram(L"\"" + server + L"\" " + topic, SW_SHOWMINNOACTIVE);
  if (Connect()) return true;
  CloseLink();
  return false;
}

bool TDdeClientConv::Connect() {
  if (!Service_ || !Topic_) return false;
  Conversation_ = DdeConnect(Instance_, Service_, Topic_, nullptr);
  return Conversation_ != nullptr;
}

bool TDdeClientConv::ExecuteMacro(const std::wstring& macro) {
  if (!Conversation_) return false;
  std::string command = Ansi(macro);
  HDDEDATA data = DdeCreateDataHandle(Instance_, reinterpret_cast<BYTE*>(command.data()),
                                      static_cast<DWORD>(command.size() + 1), 0, nullptr, CF_TEXT, 0);
  if (!data) return false;
  // The library owns the data handle from here on; DdeUninitialize frees what is left.
  DWORD transaction = 0;
  return DdeClientTransaction(reinterpret_cast<BYTE*>(data), static_cast<DWORD>(-1), Conversation_,
                              nullptr, CF_TEXT, XTYP_EXECUTE, TIMEOUT_ASYNC, &transaction) != nullptr;
}

void TDdeClientConv::CloseLink() {
  if (Conversation_) DdeDisconnect(Conversation_);
  Conversation_ = nullptr;
  if (Service_) DdeFreeStringHandle(Instance_, Service_);
  if (Topic_) DdeFreeStringHandle(Instance_, Topic_);
  Service_ = Topic_ = nullptr;
}
