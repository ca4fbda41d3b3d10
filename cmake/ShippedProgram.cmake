# The programs of the installer kit (setup.exe, TW.exe): their restricted DLL search with its
# load configuration, a linker map, and, when a certificate is given, a signature.
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

# tw_shipped_program(TARGET): after each link, the load-config directory is pointed at the
# program's own structure (from the map), then the program is signed.
function(tw_shipped_program target)
  target_link_libraries(${target} PRIVATE twdllsearch)
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
