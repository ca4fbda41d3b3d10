// Starting a program for the user from a setup that may run elevated. An elevated setup
// asks the shell of the user's desktop to start it, so that it runs with the user's own
// rights; a setup that is not elevated, or finds no desktop shell to ask, starts it itself.
#pragma once

#include <string>

// Which way a program was started.
enum class TStartedBy { Setup, DesktopShell };

// What to start: a program file, the folder it works in, the show state of its window.
struct TUserProgram {
  std::wstring File;
  std::wstring Folder;
  int ShowState;
};

// What the choice rests on, and the two ways; the system's own unless a test puts others in.
class TUserStartSystem {
 public:
  virtual ~TUserStartSystem() = default;
  // True when this process runs with an elevated token.
  virtual bool Elevated() = 0;
  // Asks the shell of the user's desktop to start the program; false when no desktop shell
  // answers or it refuses.
  virtual bool StartThroughDesktopShell(const TUserProgram& program) = 0;
  // Starts the program from this process, with its rights.
  virtual void StartDirectly(const TUserProgram& program) = 0;
};

// The system's own: token elevation, the desktop's IShellWindows and IShellDispatch2, and
// RunProgram.
TUserStartSystem& SystemUserStart();

// Puts `system` in the place of the system's own for every later start (null: the system's
// own again); answers the one it replaced. Tests that drive the wizard use it.
TUserStartSystem* SetUserStartSystem(TUserStartSystem* system);
// The one in place.
TUserStartSystem& UserStartSystem();

// Starts the program with the user's own rights where that takes asking the desktop shell,
// and answers which way it went. Neither way waits for the program.
TStartedBy StartWithUserRights(const TUserProgram& program,
                               TUserStartSystem& system = UserStartSystem());
