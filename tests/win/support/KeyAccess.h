// Registry keys under the current user's root whose permissions refuse reading, as a
// locked-down machine or another account's tool may leave them.
#pragma once

#include <string>

// Denies everyone reading the existing key `path` (its owner may still change the
// permissions). True when the key is then unreadable.
bool DenyReading(const std::wstring& path);

// Gives everyone full access to the key `path` again, so that it can be deleted.
void AllowEverything(const std::wstring& path);
