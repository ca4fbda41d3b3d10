#include "setup/ClientConfig.h"

#include <algorithm>

#include "filestore/FileMan.h"
#include "setup/HeaderManager.h"
#include "shell/Constants.h"
#include "shell/RunLog.h"
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

bool StoreEntry(HWND owner, const std::string& path, const TStringList& lines,
                const std::wstring& database, const wchar_t* failure) {
  const bool stored = WriteEntryLines(path, &lines, database) == StatusNone;
  std::wstring name = WideFromAnsi(path);
  std::replace(name.begin(), name.end(), static_cast<wchar_t>(0xFF), L'/');
  LogResult(L"entry " + name + L" in " + database, stored);
  if (stored) return true;
  ShowMessageBox(owner, failure, L"Setup Error", MB_OK);
  return false;
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

// The store's whole-file check, which a writer runs first.
bool DatabaseIsSound(const std::wstring& database) { return !CheckDatabase(database).has_value(); }

// A template held by another program gives no version: the title goes without one.
std::wstring ReadTemplateVersion(const std::wstring& kitFolder) {
  return WideFromAnsi(GetInitValue("Version", "", AddBackslash(kitFolder) + TemplateDatabaseName()));
}

TClientConfig ReadClientConfig(const std::wstring& folder) {
  const std::wstring database = ClientDatabase(folder);
  if (!FileExists(database)) return {};
  // A database held by another program is not sound to read: the fields stay empty for the
  // user to fill.
  TStringList message;
  if (!DatabaseIsSound(database)) return {};
  ReadEntryLines(message, tw::DefaultMessagePath, database);
  const THeaderManager headers(message);
  return {WideFromAnsi(headers.HeaderValue("From: ")), WideFromAnsi(headers.HeaderValue("Host: "))};
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

bool StoreDefaultEntries(HWND owner, const std::wstring& folder, const TClientConfig& config,
                         const std::wstring& settingsDatabase) {
  if (DatabaseEncrypted(folder)) return true;
  const std::wstring database = ClientDatabase(folder);
  // The user's mail is worth more than the default message: a database the store does not
  // find sound is not written into.
  if (FileExists(database) && !DatabaseIsSound(database)) {
    ShowMessageBox(owner, kMessageNotStored, L"Setup Error", MB_OK);
    return false;
  }
  const std::string cutMarks = GetInitValue("Cutmarks", "~~", settingsDatabase);
  return StoreEntry(owner, tw::DefaultMessagePath, DefaultMessageLines(config, cutMarks), database,
                    kMessageNotStored) &&
         StoreEntry(owner, tw::DefaultArticlePath, DefaultArticleLines(config), database,
                    kArticleNotStored);
}
