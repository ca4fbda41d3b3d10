// The text of `twdb --help`.
#pragma once

inline constexpr const char* kUsageText = R"(Usage: twdb [--force] [--no-sync] COMMAND DB [ARGUMENT...]

Reads and changes a Tarnwhistle database (a client database such as TW.dbc, or the
template TW.ini of an installer kit). An entry path is given as separate arguments:
the names of the sub-indexes from the root index down, then the name of the entry.
Names match without regard to letter case.

The commands that write (put, rm, rename, set-setting) first check the whole file as
check does (apart from the entries' compressed contents, which no write elsewhere can
make worse) and refuse a damaged file with exit status 2, naming the first problem and
its offset; nothing is written then. Even without that check, the store refuses a write
that meets damage on its own path.

A write keeps the bytes it replaces in DB-journal beside the database until the
database holds all of its changes, and waits for the disk before and after changing
the database. The journal stays beside the database, marked empty, from one write to
the next. When a write did not finish (a crash, a killed process, a power cut),
every command first puts the database back as it was before that write and says so
in one line; that takes write access to the database.

Commands:
  ls DB [COMPONENT...]
      List the children of the root index, or of the index the components name:
      one line per child with its name, "index" or "entry", and its stored
      (compressed) length, separated by tabs.
  get DB COMPONENT...
      Write the entry's bytes, unchanged, to standard output.
  put DB COMPONENT... < DATA
      Store standard input as the entry, replacing any previous value. Creates the
      database file and any missing index on the path.
  rm DB COMPONENT...
      Delete the entry.
  rename DB COMPONENT... NEWNAME
      Give the entry or index the components name the name NEWNAME in its index.
  get-setting DB NAME [DEFAULT]
      Print the value of the setting NAME from the "Initialization" entry, or
      DEFAULT when the setting is missing or empty.
  set-setting DB NAME VALUE
      Set the setting NAME to VALUE (an empty VALUE removes it). Creates the
      database file when there is none.
  check DB
      Walk every index, block, free extent and child offset. Exit status 0 when the
      file is sound; 1, with a report that names the offsets, when it is damaged.
      Also lists, one line each with its path, the hidden children: those with an
      empty name or behind an earlier child of the same name, which no path reaches.
      They are no damage: every write keeps them, and a hidden child reads again once
      the earlier one is removed. Never writes (apart from putting back a write
      that did not finish, as every command does).
  dump DB
      Print the header, the free extents and the whole tree of indexes and entries
      with the offsets and lengths of their blocks.
  --force
      Before COMMAND or DB: a writing command skips the check of the whole file, for
      repairs. The store still refuses a write that meets damage on its own path.
  --no-sync
      Before COMMAND or DB: a writing command does not wait for the disk, for bulk
      work. A killed process still leaves a database the next command puts back; a
      power cut may not.
  --help
      Show this text.

Exit status: 0 on success; 1 when the file is missing, foreign or damaged, the entry
or setting is missing, or a write fails (with one line on standard error); 2 when
the command line is wrong, or when a writing command refuses a damaged or foreign
file.
)";
