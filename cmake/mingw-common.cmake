set(CMAKE_C_COMPILER ${TW_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TW_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${TW_MINGW_TRIPLE}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${TW_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# Tests run under Wine, started the way scripts/wine-run chooses for this machine; the test
# scripts set WINEPREFIX and friends.
get_filename_component(TW_WINE_RUN ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run ABSOLUTE)
set(CMAKE_CROSSCOMPILING_EMULATOR ${TW_WINE_RUN})
# Archives keep the link-time optimiser's symbol table, so that setup.exe is optimised whole.
set(CMAKE_AR ${TW_MINGW_TRIPLE}-gcc-ar-posix)
set(CMAKE_RANLIB ${TW_MINGW_TRIPLE}-gcc-ranlib-posix)
