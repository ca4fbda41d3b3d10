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

// True when the database holds nothing of the user's: it is not there, or it has no bytes
// once an unfinished write beside it was put back.
bool DatabaseHoldsNothing(const std::wstring& database);

// The "Version" setting of the template database in `kitFolder`; "" when there is none or
// it cannot be read.
std::wstring ReadTemplateVersion(const std::wstring& kitFolder);

// What was read of the stored address and host.
struct TConfigReading {
  TClientConfig Config;
  std::wstring Failure;  // why they could not be read; "" when they were, or none are stored
};

// The address and host stored in the default message of the folder's database. Empty
// texts, and no failure, when there is no database, it holds nothing or is encrypted, or a
// header is missing. A database that another program holds, that is damaged or that cannot
// be read gives the failure with its reason: its values are unknown, not empty.
TConfigReading ReadClientConfig(const std::wstring& folder);

// The address and host to store: the given ones, and the stored one where a given one is
// empty. Fails as ReadClientConfig does when a stored one is needed and cannot be read.
TConfigReading KeepStoredValues(const TClientConfig& given, const std::wstring& folder);

// The mail-to-news gateway that the default article is addressed to.
extern const char MailToNewsGateway[];

TStringList DefaultMessageLines(const TClientConfig& config, const std::string& cutMarks);
TStringList DefaultArticleLines(const TClientConfig& config);

// Writes the default message and article into `database`, creating it when missing. The
// message's last line is the "Cutmarks" setting of `settingsDatabase` ("~~" by default). A
// failure is shown to the user as a "Setup Error" box owned by `owner`, and its reason goes
// to the run's log; answers whether both entries were stored. A database that cannot be
// opened, or that the store does not find sound, stores nothing and fails so. The log names
// the database `shownAs` where given: a database written under a staged name is logged
// under the name it will have.
bool WriteDefaultEntries(HWND owner, const std::wstring& database, const TClientConfig& config,
                         const std::wstring& settingsDatabase, const std::wstring& shownAs = {});
