// Other spellings of an existing folder, for tests that compare folders by identity.
#pragma once

#include <string>
#include <vector>

// The folder through Wine's drive Z:, which shows the whole Unix file system; empty where
// the system is no Wine.
std::wstring ThroughDriveZ(const std::wstring& path);

// Spellings of the existing folder `path` (which has a sub-folder `sub`): with "\\?\", with
// "\\.\", through `sub` and "..", with forward slashes, its short form in lower case, and
// through drive Z: where there is one. None equals `path` as text.
std::vector<std::wstring> OtherSpellings(const std::wstring& path, const std::wstring& sub);
