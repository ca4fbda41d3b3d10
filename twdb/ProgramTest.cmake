# Runs the built twdb program (under Wine for the Windows build) against a scratch database.
# Arguments: TWDB (the program), EMULATOR (empty natively), DATA (test files), SCRATCH.
file(REMOVE_RECURSE "${SCRATCH}")
file(MAKE_DIRECTORY "${SCRATCH}")

# twdb(EXIT <code> [INPUT <file>] ARGS <arguments...>): runs the program in the scratch
# folder with its output in files (Wine's background processes keep pipes open) and sets
# out and err to what it wrote.
function(twdb)
  cmake_parse_arguments(RUN "" "EXIT;INPUT" "ARGS" ${ARGN})
  set(input_option)
  if(RUN_INPUT)
    set(input_option INPUT_FILE "${RUN_INPUT}")
  endif()
  execute_process(COMMAND ${EMULATOR} "${TWDB}" ${RUN_ARGS}
                  WORKING_DIRECTORY "${SCRATCH}" ${input_option}
                  OUTPUT_FILE "${SCRATCH}/out" ERROR_FILE "${SCRATCH}/err"
                  RESULT_VARIABLE code)
  file(READ "${SCRATCH}/out" out)
  file(READ "${SCRATCH}/err" err)
  if(NOT code STREQUAL RUN_EXIT)
    message(SEND_ERROR "twdb ${RUN_ARGS}: exit ${code}, expected ${RUN_EXIT}; stderr: ${err}")
  endif()
  set(out "${out}" PARENT_SCOPE)
  set(err "${err}" PARENT_SCOPE)
endfunction()

function(expect_one_error_line context)
  if(NOT err MATCHES "^twdb: [^\n]+\n$")
    message(SEND_ERROR "${context}: expected one error line, got: ${err}")
  endif()
endfunction()

# Every byte value, CR LF pairs, a lone LF, 0x1A and a zero byte survive put and get.
twdb(EXIT 0 INPUT "${DATA}/all-bytes.bin" ARGS put tw.dbc Mailboxes Inbox raw)
twdb(EXIT 0 ARGS get tw.dbc Mailboxes Inbox raw)
file(SIZE "${SCRATCH}/out" got_size)
file(SIZE "${DATA}/all-bytes.bin" want_size)
execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files "${SCRATCH}/out" "${DATA}/all-bytes.bin"
                RESULT_VARIABLE differs)
if(differs)
  message(SEND_ERROR "get gave ${got_size} bytes that differ from the ${want_size} put")
endif()

# The kit build's use: write the template's version, read it back.
twdb(EXIT 0 ARGS set-setting tw.dbc Version 0.9b2)
twdb(EXIT 0 ARGS get-setting tw.dbc version)
if(NOT out STREQUAL "0.9b2\n")
  message(SEND_ERROR "get-setting gave \"${out}\"")
endif()

twdb(EXIT 0 ARGS check tw.dbc)
twdb(EXIT 0 ARGS ls tw.dbc Mailboxes)
if(NOT out MATCHES "^Inbox\tindex\t[0-9]+\n$")
  message(SEND_ERROR "ls gave \"${out}\"")
endif()

# Failures: one line on stderr and a non-zero exit; nothing is created.
twdb(EXIT 1 ARGS get tw.dbc Mailboxes Inbox missing)
expect_one_error_line("missing entry")
twdb(EXIT 1 ARGS ls absent.dbc)
expect_one_error_line("missing file")
if(EXISTS "${SCRATCH}/absent.dbc")
  message(SEND_ERROR "ls created the missing database")
endif()
twdb(EXIT 1 ARGS get "${DATA}/all-bytes.bin" raw)
expect_one_error_line("foreign file")
if(EMULATOR)
  # Windows would turn an omega into "O" in the ANSI code page and address another entry.
  twdb(EXIT 2 INPUT "${DATA}/all-bytes.bin" ARGS put tw.dbc "Ω")
  expect_one_error_line("name outside the code page")
endif()
twdb(EXIT 2 ARGS frobnicate tw.dbc)
expect_one_error_line("unknown command")

twdb(EXIT 0 ARGS --help)
foreach(command ls get put rm rename get-setting set-setting check dump)
  if(NOT out MATCHES "\n  ${command} ")
    message(SEND_ERROR "--help does not explain ${command}")
  endif()
endforeach()
