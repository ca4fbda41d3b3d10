#include "uninstall/Products.h"

#include "base/Text.h"
#include "shell/Constants.h"
#include "shell/Paths.h"
#include "shell/Registry.h"

#include <windows.h>

namespace {

std::wstring ReadText(const TRegistryKey& key, const std::wstring& name) {
  return key.ReadString(name).value_or(L"");
}

}  // namespace

TInstalledProducts ReadInstalledProducts() {
  TInstalledProducts products;
  products.MixInstalled = RegistryKeyExists(tw::MixmasterKey);
  products.ClientInstalled = RegistryKeyExists(tw::ProductKey);
  if (const TRegistryKey mix = TRegistryKey::OpenReadOnly(tw::MixmasterKey); mix.Valid())
    products.MixHomeDir = AddBackslash(ReadText(mix, L"MixDir"));
  if (const TRegistryKey client = TRegistryKey::OpenReadOnly(tw::ProductKey); client.Valid()) {
    products.ClientHomeDir = AddBackslash(ReadText(client, L"AppDir"));
    products.ProgramGroupName = ReadText(client, L"Program Group");
    products.ClientVersion = ReadText(client, L"Version");
  }
  return products;
}

std::wstring ComparisonPath(bool installed, const std::wstring& homeDir) {
  if (!installed || homeDir.empty() || !FolderIdentity(homeDir)) return {};
  return AddBackslash(ResolvePath(homeDir));
}

THomeRelation RelateHomes(const std::wstring& clientPath, const std::wstring& mixPath) {
  THomeRelation relation;
  if (clientPath.empty() || mixPath.empty()) return relation;
  relation.MixInsideClient = IsInsideFolder(mixPath, clientPath);
  relation.ClientInsideMix = IsInsideFolder(clientPath, mixPath);
  relation.SameHome = IsSameFolder(clientPath, mixPath);
  return relation;
}

TRemovalOffer OfferRemoval(const TInstalledProducts& products, const THomeRelation& homes,
                           bool clientMarked) {
  TRemovalOffer offer;
  if (products.MixInstalled) offer.Mix = {true, !(homes.MixInsideClient || homes.SameHome)};
  if (products.ClientInstalled && !clientMarked) offer.Client = {true, true};
  if (homes.ClientInsideMix) offer.Client.Checked = true;
  offer.ClientFirst = offer.Client.Checked && (homes.SameHome || !homes.ClientInsideMix);
  return offer;
}

bool ClientMarked(const std::wstring& clientHomeDir) {
  return !clientHomeDir.empty() &&
         GetFileAttributesW((AddBackslash(clientHomeDir) + L"untw.dsk").c_str()) != INVALID_FILE_ATTRIBUTES;
}

TRemovalOffer OnlyClient(TRemovalOffer offer, const THomeRelation& homes) {
  offer.Mix.Checked = offer.Client.Checked && (homes.MixInsideClient || homes.SameHome);
  return offer;
}

TRemovalOffer OnlyMixmaster(TRemovalOffer offer, const THomeRelation& homes) {
  offer.Client.Checked = offer.Mix.Checked && (homes.ClientInsideMix || homes.SameHome);
  offer.ClientFirst = offer.ClientFirst && offer.Client.Checked;
  return offer;
}
