// The client's configuration in its database: the address and host in the headers of the
// default message, read to pre-fill the wizard, and the default message and news article
// written from the wizard's fields on installation. An encrypted database is never opened,
// and one the store finds damaged or foreign is neither read nor written.
#pragma once

#include <windows.h>

#include <string>

#include "base/Text.h"

// What the Address page asks for.
struct TClientConfig {
  std::wstring Address;  // the user's e-mail address, the message's "From: "
  std::wstring Host;     // the outgoing SMTP host, the message's "Host: "
};

// The client's database files, named after the client program.
std::wstring ClientDatabaseName();     // "TW.dbc"
std::wstring EncryptedDatabaseName();  // "TW.pgp"
std::wstring TemplateDatabaseName();   // "TW.ini", the kit's template database

// True when the folder holds the encrypted database and no plain one.
bool DatabaseEncrypted(const std::wstring& folder);

// True when the store finds the existing database sound from header to last block, so that
// it may be read and written; false too when it cannot be opened (held by another program).
bool DatabaseIsSound(const std::wstring& database);

// The "Version" setting of the template database in `kitFolder`; "" when there is none or
// it cannot be read.
std::wstring ReadTemplateVersion(const std::wstring& kitFolder);

// The address and host stored in the default message of the folder's database. Empty
// texts when there is no database, it is encrypted, damaged or locked, or a header is
// missing.
TClientConfig ReadClientConfig(const std::wstring& folder);

// The mail-to-news gateway that the default article is addressed to.
extern const char MailToNewsGateway[];

TStringList DefaultMessageLines(const TClientConfig& config, const std::string& cutMarks);
TStringList DefaultArticleLines(const TClientConfig& config);

// Writes the default message and article into the folder's database, creating it when
// missing; an encrypted database is left alone. The message's last line is the "Cutmarks"
// setting of `settingsDatabase` ("~~" by default). A failure is shown to the user as a
// "Setup Error" box owned by `owner`; answers whether both entries were stored. A database
// that cannot be opened stores nothing and fails so.
bool StoreDefaultEntries(HWND owner, const std::wstring& folder, const TClientConfig& config,
                         const std::wstring& settingsDatabase);
