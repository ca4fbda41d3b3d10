// Moves every entry of one mailbox into another the way the Tarnwhistle client itself does:
// each is appended to the destination's index without a look for an entry of the same
// name there. A destination that holds a name already then holds it twice, the second
// hidden behind the first; the store's own moves never make such a file, so the end-to-end
// runs make the client's kind of database with this. Native, beside twdb.
//
// Usage: e2e-client-move DB SOURCE-MAILBOX DESTINATION-MAILBOX
// Exit status 0 when the entries were moved, 1 when the file or a mailbox could not be
// worked on, 2 for a wrong command line.
#include <cstdio>

#include "filestore/StoreInternal.h"

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: e2e-client-move DB SOURCE-MAILBOX DESTINATION-MAILBOX\n");
    return 2;
  }
  TFileManager manager(argv[1]);
  if (!manager.OpenError().empty()) {
    std::fprintf(stderr, "%s\n", manager.OpenError().c_str());
    return 1;
  }
  TFMindex root(manager, nullptr, "");
  TFMindex mailboxes(manager, &root, "Mailboxes");
  TFMindex source(manager, &mailboxes, argv[2]);
  TFMindex target(manager, &mailboxes, argv[3]);
  if (manager.Stopped() || source.IsEntry() || target.IsEntry()) {
    std::fprintf(stderr, "cannot move from %s to %s\n", argv[2], argv[3]);
    return 1;
  }
  for (int i = 0; i < source.Count(); ++i)
    target.AppendChild(source.ChildName(i), source.ChildOffset(i));
  while (source.Count() > 0) source.RemoveChild(source.Count() - 1);
  target.Flush();
  source.Flush();
  return manager.Finish() == 0 ? 0 : 1;
}
