# The programs of the installer kit (setup.exe, TW.exe): their C++ runtime, their restricted
# DLL search with its load configuration, a linker map, and, when a certificate is given, a
# signature.
#
# Signing: set TW_SIGN_CERT and TW_SIGN_KEY (PEM files; as CMake variables or in the
# environment when CMake configures), and optionally TW_SIGN_TIMESTAMP_URL (an RFC 3161
# time-stamping service). Without them nothing is signed.
foreach(setting TW_SIGN_CERT TW_SIGN_KEY TW_SIGN_TIMESTAMP_URL)
  if(NOT DEFINED ${setting} AND DEFINED ENV{${setting}})
    set(${setting} "$ENV{${setting}}")
  endif()
endforeach()
if(TW_SIGN_CERT AND TW_SIGN_KEY)
  find_program(TW_OSSLSIGNCODE osslsigncode REQUIRED)
  message(STATUS "Signing setup.exe and TW.exe with ${TW_SIGN_CERT}")
endif()

# The shipped programs link the C++ runtime that the compiler builds on Windows' own threads
# (its win32 thread model), not the one built on winpthread: they start no threads of their
# own, and with it the runtime's exception support needs no threads library, which costs
# setup.exe some 30 KB. Both runtimes come from the same compiler and share one ABI; the
# tests keep the posix one, since GoogleTest needs std::mutex. Debian installs the two side
# by side, in folders whose names end in "-posix" and "-win32".
execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=libstdc++.a
                OUTPUT_VARIABLE tw_posix_runtime OUTPUT_STRIP_TRAILING_WHITESPACE)
get_filename_component(tw_posix_runtime_dir "${tw_posix_runtime}" DIRECTORY)
string(REGEX REPLACE "-posix$" "-win32" TW_WIN32_RUNTIME_DIR "${tw_posix_runtime_dir}")
if(TW_WIN32_RUNTIME_DIR STREQUAL tw_posix_runtime_dir OR
   NOT EXISTS "${TW_WIN32_RUNTIME_DIR}/libstdc++.a")
  message(FATAL_ERROR "No win32-thread C++ runtime beside ${tw_posix_runtime}: install "
                      "g++-mingw-w64-i686-win32 and g++-mingw-w64-x86-64-win32")
endif()

# tw_shipped_program(TARGET): after each link, the load-config directory is pointed at the
# program's own structure (from the map), then the program is signed.
function(tw_shipped_program target)
  target_link_libraries(${target} PRIVATE twdllsearch)
  # Searched before the compiler's own folder, so its runtime archives are the ones linked.
  target_link_options(${target} PRIVATE -L${TW_WIN32_RUNTIME_DIR})
  set(map $<TARGET_FILE_DIR:${target}>/$<TARGET_FILE_BASE_NAME:${target}>.map)
  target_link_options(${target} PRIVATE -Wl,-Map=${map})
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND sh ${PROJECT_SOURCE_DIR}/scripts/pe-load-config.sh $<TARGET_FILE:${target}> ${map}
    VERBATIM)
  if(TW_SIGN_CERT AND TW_SIGN_KEY)
    set(timestamp "")
    if(TW_SIGN_TIMESTAMP_URL)
      set(timestamp --timestamp ${TW_SIGN_TIMESTAMP_URL})
    endif()
    add_custom_command(TARGET ${target} POST_BUILD
      COMMAND sh ${PROJECT_SOURCE_DIR}/scripts/sign-exe.sh --cert ${TW_SIGN_CERT}
              --key ${TW_SIGN_KEY} ${timestamp} $<TARGET_FILE:${target}>
      VERBATIM)
  endif()
endfunction()
