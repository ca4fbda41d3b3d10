// What the uninstall wizard finds installed: the registry records of the client and of
// Mixmaster, their home directories, and how the two homes lie to one another.
#pragma once

#include <string>

struct TInstalledProducts {
  bool ClientInstalled = false;  // the key "Software\Tarnwhistle" exists
  bool MixInstalled = false;     // the key "Software\Mixmaster" exists
  std::wstring ClientHomeDir;    // "AppDir" with a trailing backslash; empty when not read
  std::wstring MixHomeDir;       // "MixDir", the same way
  std::wstring ProgramGroupName; // "Program Group"
  std::wstring ClientVersion;    // "Version"
};

// Reads both records under the current user's root. A key that exists but cannot be opened
// counts as installed with its values empty.
TInstalledProducts ReadInstalledProducts();

// The folder a home directory resolves to (links followed, prefixes and ".." folded), with
// a trailing backslash. Empty when the product is not installed or the directory cannot be
// resolved (empty value, directory missing).
std::wstring ComparisonPath(bool installed, const std::wstring& homeDir);

// How the two homes lie, from their comparison paths, compared by the folders' identity on
// disk, never by their text: one folder reached by two spellings is one home. Every test
// is false when either path is empty.
struct THomeRelation {
  bool MixInsideClient = false;
  bool ClientInsideMix = false;
  bool SameHome = false;
};
THomeRelation RelateHomes(const std::wstring& clientPath, const std::wstring& mixPath);

// What the wizard offers at its start: each product's box checked or not, enabled or not,
// and the removal order. `clientMarked`: the marker file "untw.dsk" lies in the client's
// home, which withdraws the client from removal.
struct TEntryOffer {
  bool Checked = false;
  bool Enabled = false;
};
struct TRemovalOffer {
  TEntryOffer Client;
  TEntryOffer Mix;
  bool ClientFirst = false;
};
TRemovalOffer OfferRemoval(const TInstalledProducts& products, const THomeRelation& homes,
                           bool clientMarked);

// True when the marker file "untw.dsk" lies in the client's home.
bool ClientMarked(const std::wstring& clientHomeDir);

// The offer limited to one product, as unticking the other box would leave it: the other
// stays only where the rules tie it to the one.
TRemovalOffer OnlyClient(TRemovalOffer offer, const THomeRelation& homes);
TRemovalOffer OnlyMixmaster(TRemovalOffer offer, const THomeRelation& homes);
