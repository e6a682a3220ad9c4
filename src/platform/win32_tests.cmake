# Tests of the Windows layers, run under Wine in the cross build.
visor_add_tests(platform_tests platform_win32_test.cc)
target_link_libraries(platform_tests PRIVATE visor_platform visor_console_terminal)

# The console layer on a real console: the tests start themselves again in
# a console without a window.
add_library(visor_win32_test_console STATIC win32_test_console.cc)
visor_add_tests(console_win32_tests console_win32_test.cc)
target_link_libraries(console_win32_tests PRIVATE visor_console_terminal
                      visor_win32_test_console)
