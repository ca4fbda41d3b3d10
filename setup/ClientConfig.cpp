#include "setup/ClientConfig.h"

#include <algorithm>

#include "base/WideText.h"
#include "filestore/FileMan.h"
#include "setup/HeaderManager.h"
#include "shell/Constants.h"
#include "shell/FileUpdate.h"
#include "shell/RunLog.h"
#include "shell/RunningPrograms.h"
#include "shell/SysUtils.h"
#include "shell/win/UiSeam.h"

const char MailToNewsGateway[] = "mail2news@dizum.com";

namespace {

const wchar_t kMessageNotStored[] = L"Error storing default message!";
const wchar_t kArticleNotStored[] = L"Error storing default article!";

// The store keeps texts in the ANSI code page, the windows show wide ones.
std::string AnsiFromWide(const std::wstring& text) {
  if (text.empty()) return {};
  const int size = static_cast<int>(text.size());
  const int length = WideCharToMultiByte(CP_ACP, 0, text.data(), size, nullptr, 0, nullptr, nullptr);
  std::string ansi(static_cast<size_t>(length), '\0');
  WideCharToMultiByte(CP_ACP, 0, text.data(), size, ansi.data(), length, nullptr, nullptr);
  return ansi;
}

std::wstring WideFromAnsi(const std::string& text) {
  if (text.empty()) return {};
  const int size = static_cast<int>(text.size());
  const int length = MultiByteToWideChar(CP_ACP, 0, text.data(), size, nullptr, 0);
  std::wstring wide(static_cast<size_t>(length), L'\0');
  MultiByteToWideChar(CP_ACP, 0, text.data(), size, wide.data(), length);
  return wide;
}

std::wstring ClientDatabase(const std::wstring& folder) {
  return AddBackslash(folder) + ClientDatabaseName();
}

// The header lines that the message and the article begin with.
void AddSenderHeaders(TStringList& lines, const TClientConfig& config) {
  lines.Add("Fcc: outbox");
  lines.Add("Host: " + AnsiFromWide(config.Host));
  lines.Add("From: " + AnsiFromWide(config.Address));
  lines.Add("Chain: *,*,*,*; copies=1");
}

// Why the store answered `status`: the reason it could not open the database, or the
// status's own text.
std::wstring StoreFailure(int status) {
  return WideFromUtf8(status == StatusOpen ? LastOpenError() : StatusText(status));
}

bool StoreEntry(HWND owner, const std::string& path, const TStringList& lines,
                const std::wstring& database, const std::wstring& shownAs, const wchar_t* failure) {
  const int status = WriteEntryLines(path, &lines, database);
  std::wstring name = WideFromAnsi(path);
  std::replace(name.begin(), name.end(), static_cast<wchar_t>(0xFF), L'/');
  const std::wstring what = L"entry " + name + L" in " + shownAs;
  if (status == StatusNone) {
    LogResult(what, true);
    return true;
  }
  LogLine(what + L": failed (" + StoreFailure(status) + L")");
  ShowMessageBox(owner, failure, L"Setup Error", MB_OK);
  return false;
}

// Why the database cannot be read, or "" when it can: held by another program, damaged.
std::wstring ReadFailure(const std::wstring& database) {
  if (const DWORD held = OpenFileError(database, GENERIC_READ, 0))
    return SystemErrorLine(held);
  if (const auto problem = CheckDatabase(database)) return WideFromUtf8(problem->Text);
  return {};
}

}  // namespace

std::wstring ClientDatabaseName() { return ChangeFileExt(tw::ClientExe, tw::DatabaseExt); }

std::wstring EncryptedDatabaseName() {
  return ChangeFileExt(ClientDatabaseName(), tw::EncryptedExt);
}

std::wstring TemplateDatabaseName() { return ChangeFileExt(tw::ClientExe, tw::IniExt); }

bool DatabaseEncrypted(const std::wstring& folder) {
  return !FileExists(ClientDatabase(folder)) &&
         FileExists(AddBackslash(folder) + EncryptedDatabaseName());
}

// A template held by another program gives no version: the title goes without one.
std::wstring ReadTemplateVersion(const std::wstring& kitFolder) {
  return WideFromAnsi(GetInitValue("Version", "", AddBackslash(kitFolder) + TemplateDatabaseName()));
}

bool DatabaseHoldsNothing(const std::wstring& database) {
  if (!FileExists(database)) return true;
  if (FileSize(database) != 0) return false;
  // An unfinished write may put bytes back.
  if (FileExists(database + L"-journal")) RestoreDatabase(database);
  return FileSize(database) == 0;
}

TConfigReading ReadClientConfig(const std::wstring& folder) {
  const std::wstring database = ClientDatabase(folder);
  if (DatabaseHoldsNothing(database)) return {};
  if (std::wstring failure = ReadFailure(database); !failure.empty()) return {{}, failure};
  TStringList message;
  if (const int status = ReadEntryLines(message, tw::DefaultMessagePath, database))
    return {{}, StoreFailure(status)};
  const THeaderManager headers(message);
  return {{WideFromAnsi(headers.HeaderValue("From: ")), WideFromAnsi(headers.HeaderValue("Host: "))}, {}};
}

TConfigReading KeepStoredValues(const TClientConfig& given, const std::wstring& folder) {
  if (!given.Address.empty() && !given.Host.empty()) return {given, {}};
  TConfigReading stored = ReadClientConfig(folder);
  if (!stored.Failure.empty()) return stored;
  if (!given.Address.empty()) stored.Config.Address = given.Address;
  if (!given.Host.empty()) stored.Config.Host = given.Host;
  return stored;
}

TStringList DefaultMessageLines(const TClientConfig& config, const std::string& cutMarks) {
  TStringList lines;
  AddSenderHeaders(lines, config);
  lines.Add("To: ");
  lines.Add("Subject: ");
  lines.Add("");
  lines.Add(cutMarks);
  return lines;
}

TStringList DefaultArticleLines(const TClientConfig& config) {
  TStringList lines;
  AddSenderHeaders(lines, config);
  lines.Add(std::string("To: ") + MailToNewsGateway);
  lines.Add("X-No-Archive: Yes");
  lines.Add("Newsgroups: ");
  lines.Add("Subject: ");
  lines.Add("");
  lines.Add("~~");
  return lines;
}

bool WriteDefaultEntries(HWND owner, const std::wstring& database, const TClientConfig& config,
                         const std::wstring& settingsDatabase, const std::wstring& shownAs) {
  const std::wstring& named = shownAs.empty() ? database : shownAs;
  // The user's mail is worth more than the default message: a database the store does not
  // find sound is not written into.
  if (FileExists(database)) {
    if (const std::wstring failure = ReadFailure(database); !failure.empty()) {
      LogLine(L"entries in " + named + L": failed (" + failure + L")");
      ShowMessageBox(owner, kMessageNotStored, L"Setup Error", MB_OK);
      return false;
    }
  }
  const std::string cutMarks = GetInitValue("Cutmarks", "~~", settingsDatabase);
  return StoreEntry(owner, tw::DefaultMessagePath, DefaultMessageLines(config, cutMarks), database,
                    named, kMessageNotStored) &&
         StoreEntry(owner, tw::DefaultArticlePath, DefaultArticleLines(config), database, named,
                    kArticleNotStored);
}
