# Tests of the Windows layers, run under Wine in the cross build.
visor_add_tests(platform_tests platform_win32_test.cc)
target_link_libraries(platform_tests PRIVATE visor_platform visor_console_terminal)

# The console layer on a real console: the tests start themselves again in
# a console without a window.
add_library(visor_win32_test_console STATIC win32_test_console.cc)
visor_add_tests(console_win32_tests console_win32_test.cc)
target_link_libraries(console_win32_tests PRIVATE visor_console_terminal
                      visor_win32_test_console)

# The program's dialogue on a real console, typed as key events; its job is
# checked against the one gcode_dump writes for the same values. Both
# programs come from folders added after this one.
visor_add_tests(dialogue_win32_tests dialogue_win32_test.cc)
target_link_libraries(dialogue_win32_tests PRIVATE visor_win32_test_console)
target_compile_definitions(dialogue_win32_tests PRIVATE
  VISOR_GCODE_EXE="$<TARGET_FILE:visor-gcode>"
  GCODE_DUMP_EXE="$<TARGET_FILE:gcode_dump>")
add_dependencies(dialogue_win32_tests visor-gcode gcode_dump)

# The same dialogue on a terminal: Wine's console on a tmux pane, keys sent
# as a terminal sends them.
add_test(NAME DialogueWin32Pty.CompleteJobFromTypedKeys
  COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/dialogue_win32_pty_test.sh
          ${CMAKE_CROSSCOMPILING_EMULATOR} $<TARGET_FILE:visor-gcode>
          ${CMAKE_CURRENT_BINARY_DIR}/pty_dialogue)
