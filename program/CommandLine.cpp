#include "program/CommandLine.h"

#include "base/Text.h"

namespace {

// "/name=value" split at the first '='; the name lower-cased.
struct TSwitch {
  std::wstring Name;
  std::optional<std::wstring> Value;
};

TSwitch SplitSwitch(const std::wstring& argument) {
  const size_t equals = argument.find(L'=');
  if (equals == std::wstring::npos) return {LocaleLower(argument), std::nullopt};
  return {LocaleLower(argument.substr(0, equals)), argument.substr(equals + 1)};
}

bool IsSetupSwitch(const std::wstring& name) {
  return name == L"/dir" || name == L"/address" || name == L"/host" || name == L"/nogroup";
}

bool IsUninstallSwitch(const std::wstring& name) {
  return name == L"/client" || name == L"/mixmaster";
}

bool TakesValue(const std::wstring& name) {
  return name == L"/dir" || name == L"/address" || name == L"/host" || name == L"/log";
}

void Apply(const TSwitch& option, TCommandLine& line) {
  const std::wstring& name = option.Name;
  if (name == L"/quiet") line.Quiet = true;
  else if (name == L"/?" || name == L"/help") line.Help = true;
  else if (name == L"/log") line.LogFile = *option.Value;
  else if (name == L"/dir") line.Dir = option.Value;
  else if (name == L"/address") line.Address = option.Value;
  else if (name == L"/host") line.Host = option.Value;
  else if (name == L"/nogroup") line.NoGroup = true;
  else if (name == L"/client") line.ClientOnly = true;
  else if (name == L"/mixmaster") line.MixmasterOnly = true;
}

// Why the switch cannot be taken; "" when it can.
std::wstring Refusal(const TSwitch& option, const std::wstring& argument, TMode mode) {
  const std::wstring& name = option.Name;
  const bool known = name == L"/quiet" || name == L"/?" || name == L"/help" || name == L"/log" ||
                     IsSetupSwitch(name) || IsUninstallSwitch(name);
  if (!known) return L"unknown switch: " + argument;
  if (IsSetupSwitch(name) && mode != TMode::Setup)
    return L"the uninstaller does not know " + argument;
  if (IsUninstallSwitch(name) && mode != TMode::Uninstall)
    return L"setup does not know " + argument;
  if (TakesValue(name) && (!option.Value || option.Value->empty()))
    return L"missing value: " + name + L"=...";
  if (!TakesValue(name) && option.Value) return L"no value is taken: " + argument;
  return {};
}

}  // namespace

TCommandLine ReadCommandLine(const std::wstring& commandLine, TMode mode) {
  TCommandLine line;
  std::vector<std::wstring> refused;
  int index = 1;
  // "-u" chose the uninstaller; it is no switch of its own.
  if (mode == TMode::Uninstall && LocaleLower(ParamStr(commandLine, 1)) == L"-u") index = 2;
  for (;; ++index) {
    const std::wstring argument = ParamStr(commandLine, index);
    if (argument.empty()) break;
    const TSwitch option = SplitSwitch(argument);
    const std::wstring refusal = Refusal(option, argument, mode);
    if (refusal.empty())
      Apply(option, line);
    else
      refused.push_back(refusal);
  }
  if (line.ClientOnly && line.MixmasterOnly) {
    refused.push_back(L"/client and /mixmaster exclude each other");
    line.ClientOnly = line.MixmasterOnly = false;
  }
  // A deployment tool must learn that its command line is wrong; a user who starts the
  // program by hand gets the wizard.
  if (line.Quiet && !refused.empty())
    line.Error = refused.front();
  else
    line.Ignored = std::move(refused);
  return line;
}

std::wstring UsageText() {
  return L"setup.exe [/quiet] [/dir=PATH] [/address=TEXT] [/host=TEXT] [/nogroup] [/log=FILE]\n"
         L"UninstTW.exe [/quiet] [/client | /mixmaster] [/log=FILE]\n"
         L"    (or setup.exe -u with the same switches)\n\n"
         L"/quiet\tinstall or remove without a window\n"
         L"/dir=PATH\tthe destination folder\n"
         L"/address=TEXT\tyour e-mail address\n"
         L"/host=TEXT\tyour outgoing SMTP host\n"
         L"/nogroup\tno program group\n"
         L"/client, /mixmaster\tremove only this product\n"
         L"/log=FILE\tappend a line per step and item to FILE\n\n"
         L"Exit codes: 0 done, 1 a step failed, 2 bad command line, 3 nothing to do, "
         L"4 Tarnwhistle is running, 5 another setup or uninstall is running, 6 cancelled.";
}
