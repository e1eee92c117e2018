# Windows-side tests: one GoogleTest program run under Wine, once per Windows
# version it must work on, each run in a fresh prefix (tests/support/wine_run.sh).


add_executable(tesmora_test_child ${CMAKE_CURRENT_SOURCE_DIR}/programs/test_child_win.cpp)
target_link_options(tesmora_test_child PRIVATE -municode)

# The least work a drive or memory scan can do, for bench/product_scan.sh.
add_executable(tesmora-floor ${CMAKE_CURRENT_SOURCE_DIR}/programs/floor_walker_win.cpp)
target_link_options(tesmora-floor PRIVATE -municode)

# The test program carries the product's resources, its script among them.
# Source properties hold per folder: the test programs' resource scripts
# depend on what they include here too.
file(GLOB resource_inputs ${TESMORA_ROOT}/resources/*.def ${TESMORA_ROOT}/resources/*.rc
  ${TESMORA_ROOT}/resources/*.manifest ${TESMORA_ROOT}/resources/*.txt ${TESMORA_ROOT}/resources/art/*)
set_source_files_properties(${TESMORA_ROOT}/resources/tesmora.rc ${TESMORA_ROOT}/resources/app.rc
  PROPERTIES OBJECT_DEPENDS "${resource_inputs}")
add_executable(tesmora_win_tests ${win_tests} ${TESMORA_ROOT}/resources/tesmora.rc)
target_link_libraries(tesmora_win_tests PRIVATE tesmora_test_support gtest_main)
target_compile_definitions(tesmora_win_tests PRIVATE
  TESMORA_APP_EXE="$<TARGET_FILE:tesmora>" TESMORA_SIG_EXE="$<TARGET_FILE:tesmora-sig>")
add_dependencies(tesmora_win_tests tesmora tesmora-sig tesmora_test_child)
target_compile_definitions(tesmora_test_support PUBLIC
  TESMORA_TEST_CHILD_EXE="$<TARGET_FILE:tesmora_test_child>")

if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  # The test stand-in for unicows.dll, beside every 32-bit program that tests
  # run as Windows 98 (each reaches its wide functions through the layer).
  file(READ ${TESMORA_ROOT}/src/common/unicode_layer_functions.h layer_text)
  string(REGEX MATCHALL "X\\([A-Z0-9]+, [A-Za-z0-9]+, [0-9]+, Wide\\)" layer_wide "${layer_text}")
  set(unicows_def "LIBRARY unicows.dll\nEXPORTS\n")
  foreach(entry IN LISTS layer_wide)
    string(REGEX REPLACE "X\\([A-Z0-9]+, ([A-Za-z0-9]+), .*" "\\1" name "${entry}")
    string(APPEND unicows_def "  ${name}=tu_${name}\n")
  endforeach()
  foreach(name SHGetSpecialFolderPathW SHFileOperationW GetLongPathNameW LoadLibraryExW
               GetFileVersionInfoSizeW GetFileVersionInfoW VerQueryValueW)
    string(APPEND unicows_def "  ${name}=tu_${name}\n")
  endforeach()
  file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/unicows_test.def "${unicows_def}")
  add_library(tesmora_unicows_test SHARED ${CMAKE_CURRENT_SOURCE_DIR}/programs/unicows_test_win.cpp
    ${CMAKE_CURRENT_BINARY_DIR}/unicows_test.def)
  target_include_directories(tesmora_unicows_test PRIVATE ${TESMORA_ROOT}/src)
  set_target_properties(tesmora_unicows_test PROPERTIES OUTPUT_NAME unicows PREFIX "")
  add_custom_command(TARGET tesmora_unicows_test POST_BUILD
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/testhooks
    COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:tesmora_unicows_test> ${CMAKE_BINARY_DIR}/testhooks/unicows.dll)
  add_dependencies(tesmora_win_tests tesmora_unicows_test)
endif()

set(wine_run ${CMAKE_CURRENT_SOURCE_DIR}/support/wine_run.sh)
set(wine_template ${CMAKE_BINARY_DIR}/wine-template)

# Fresh prefix templates for each test run (tests/support/wine_run.sh makes
# them on first use and copies them for every run).
add_test(NAME wine.template COMMAND ${CMAKE_COMMAND} -E rm -rf ${wine_template})
set_tests_properties(wine.template PROPERTIES FIXTURES_SETUP wine_template)
set(wine_env "TESMORA_WINE_TEMPLATE=${wine_template}")

# Each run has links planted where a user could plant them: a folder in the
# temporary folder, and one on drive D:.
set(wine_links --link @temp/tesmora-linked=@empty --link drive-d/linked=@empty)
foreach(version winxp nt40 win98)
  add_test(NAME wine.${version}
    COMMAND bash ${wine_run} --version ${version} --drive D=@empty ${wine_links} -- $<TARGET_FILE:tesmora_win_tests>
    WORKING_DIRECTORY $<TARGET_FILE_DIR:tesmora_win_tests>)
  set_tests_properties(wine.${version} PROPERTIES
    FIXTURES_REQUIRED wine_template TIMEOUT 600 ENVIRONMENT "${wine_env}")
endforeach()
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  # The 32-bit program on 64-bit Windows (WOW64), as it runs there today.
  add_test(NAME wine.wow64
    COMMAND bash ${wine_run} --wow64 --drive D=@empty ${wine_links} -- $<TARGET_FILE:tesmora_win_tests>
    WORKING_DIRECTORY $<TARGET_FILE_DIR:tesmora_win_tests>)
  set_tests_properties(wine.wow64 PROPERTIES
    FIXTURES_REQUIRED wine_template TIMEOUT 600 ENVIRONMENT "${wine_env}")
endif()

# The hosts rewrite running out of disk space half-way leaves the old file.
# (The prefix's drivers\etc folder on a small tmpfs.)
set(full_disk_run bash ${CMAKE_CURRENT_SOURCE_DIR}/support/full_disk_run.sh ${wine_run} $<TARGET_FILE:tesmora_win_tests>)
add_test(NAME wine.full_disk COMMAND ${full_disk_run} 1 HostsTest.RewriteThatRunsOutOfSpaceLeavesTheOldFile
  --link drive_c/windows/system32/drivers/etc=@tmpfs)
set_tests_properties(wine.full_disk PROPERTIES
  FIXTURES_REQUIRED wine_template TIMEOUT 600 SKIP_RETURN_CODE 77 ENVIRONMENT "${wine_env}")

# The analyst tool's Windows build over the same embedded script.
add_test(NAME wine.sig_check COMMAND bash -c
  "out=$(bash '${wine_run}' -- '$<TARGET_FILE:tesmora-sig>' check) && test $(printf '%s' \"$out\" | grep -c '^Worm/.*mem=0.file=126.actions=') -eq 8")
set_tests_properties(wine.sig_check PROPERTIES
  FIXTURES_REQUIRED wine_template TIMEOUT 300 ENVIRONMENT "${wine_env}")
# Its quarantine commands on a fresh system: the default folder
# (%WINDIR%\Tesmora\Quarantine) missing, and an empty one, list nothing.
add_test(NAME wine.sig_quarantine_list COMMAND bash -c
  "out=$(bash '${wine_run}' -- '$<TARGET_FILE:tesmora-sig>' quarantine list) && test -z \"$out\" && out=$(bash '${wine_run}' --drive D=@empty -- '$<TARGET_FILE:tesmora-sig>' quarantine --folder 'D:\\' list) && test -z \"$out\"")
set_tests_properties(wine.sig_quarantine_list PROPERTIES
  FIXTURES_REQUIRED wine_template TIMEOUT 300 ENVIRONMENT "${wine_env}")
# The quarantine running out of disk space (a small tmpfs as drive Q:) leaves
# no half-written entry, keeps the drive's reserve, and a removal run of drive
# D: goes on without its copy.
add_test(NAME wine.quarantine_full_disk COMMAND ${full_disk_run} Q:
  "QuarantineWinTest.KeepOnAFullDiskLeavesNothing:QuarantineWinTest.KeepLeavesTheDriveAReserve:RemoverE2E.RemovalGoesOnWhenNoCopyCanBeMade"
  --drive Q=@tmpfs --drive D=@empty)
set_tests_properties(wine.quarantine_full_disk PROPERTIES
  FIXTURES_REQUIRED wine_template TIMEOUT 600 SKIP_RETURN_CODE 77 ENVIRONMENT "${wine_env}")

if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  # The analyst tool as Windows 98 shows it, without unicows.dll beside it: the
  # message on standard error and exit code -12 (244), nothing else.
  add_test(NAME wine.sig_missing_layer COMMAND bash -c
    "out=$(bash '${wine_run}' --version win98 -- '$<TARGET_FILE:tesmora-sig>' check 2>&1); rc=$?; test $rc -eq 244 && test \"$(printf '%s' \"$out\" | tr -d '\\r')\" = \"This program needs the Microsoft Layer for Unicode on Windows 95, 98 and ME. Place unicows.dll in the program's folder and start it again.\"")
  set_tests_properties(wine.sig_missing_layer PROPERTIES
    FIXTURES_REQUIRED wine_template TIMEOUT 300 ENVIRONMENT "${wine_env}")
endif()

# The program itself, built once more with its test hooks (the administrator
# answer from TESMORA_TEST_ADMINISTRATOR, as Wine reports its user as a guest),
# for the end-to-end tests of tests/app.
tesmora_glob(app_test_sources ${TESMORA_ROOT}/src/app)
add_executable(tesmora_testhooks WIN32 ${app_test_sources} ${TESMORA_ROOT}/resources/app.rc)
target_link_libraries(tesmora_testhooks PRIVATE tesmora_core)
target_compile_definitions(tesmora_testhooks PRIVATE TESMORA_TEST_HOOKS)
set_target_properties(tesmora_testhooks PROPERTIES OUTPUT_NAME tesmora
  RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/testhooks)

# The fixture writer for Windows, so a test can plant a sample on a drive.
add_executable(tesmora_fixture_win ${CMAKE_CURRENT_SOURCE_DIR}/programs/make_fixture.cpp)
target_link_libraries(tesmora_fixture_win PRIVATE tesmora_test_support)

foreach(version winxp nt40 win98)
  add_test(NAME wine.app_silent.${version} COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/app/silent_scan_test.sh
    ${wine_run} $<TARGET_FILE:tesmora_testhooks> $<TARGET_FILE:tesmora_fixture_win> ${version})
  set_tests_properties(wine.app_silent.${version} PROPERTIES
    FIXTURES_REQUIRED wine_template TIMEOUT 900 ENVIRONMENT "${wine_env}")
endforeach()
# Libraries planted beside the program under system libraries' names.
add_library(tesmora_planted SHARED ${CMAKE_CURRENT_SOURCE_DIR}/programs/planted_dll_win.cpp)
add_test(NAME wine.planted_dlls COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/app/planted_dll_test.sh
  ${wine_run} $<TARGET_FILE:tesmora> $<TARGET_FILE:tesmora_testhooks> $<TARGET_FILE:tesmora_planted>)
set_tests_properties(wine.planted_dlls PROPERTIES
  FIXTURES_REQUIRED wine_template TIMEOUT 900 ENVIRONMENT "${wine_env}")

# A detected file's folder swapped for a link before its removal.
add_test(NAME wine.app_link_swap COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/app/link_swap_test.sh
  ${wine_run} $<TARGET_FILE:tesmora_testhooks> $<TARGET_FILE:tesmora_fixture_win>)
set_tests_properties(wine.app_link_swap PROPERTIES
  FIXTURES_REQUIRED wine_template TIMEOUT 600 ENVIRONMENT "${wine_env}")
# Windowed run: scan at once, idle buttons, the dialog's layout, Exit, and the
# window as artifacts/window.png; once more on a 144-dpi screen.
add_test(NAME wine.app_window COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/app/screenshot.sh
  ${wine_run} $<TARGET_FILE:tesmora_testhooks> $<TARGET_FILE:tesmora_app_driver> ${CMAKE_BINARY_DIR}/artifacts/window.png)
add_test(NAME wine.app_window_144dpi COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/app/screenshot.sh
  ${wine_run} $<TARGET_FILE:tesmora_testhooks> $<TARGET_FILE:tesmora_app_driver>
  ${CMAKE_BINARY_DIR}/artifacts/window-144dpi.png 144)
set_tests_properties(wine.app_window wine.app_window_144dpi PROPERTIES
  FIXTURES_REQUIRED wine_template TIMEOUT 600
  ENVIRONMENT "${wine_env}")
add_test(NAME wine.app_stop COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/app/stop_scan_test.sh
  ${wine_run} $<TARGET_FILE:tesmora_testhooks> $<TARGET_FILE:tesmora_app_driver>)
set_tests_properties(wine.app_stop PROPERTIES
  FIXTURES_REQUIRED wine_template TIMEOUT 900 SKIP_RETURN_CODE 77
  ENVIRONMENT "${wine_env}")

# Drives the window from outside (buttons, screenshot) for tests/app/screenshot.sh.
add_executable(tesmora_app_driver ${CMAKE_CURRENT_SOURCE_DIR}/programs/app_driver_win.cpp)
target_link_options(tesmora_app_driver PRIVATE -municode)
target_link_libraries(tesmora_app_driver PRIVATE gdi32 user32)

# deploy/tesmora-run.cmd under Wine's cmd.exe: its exit codes, result lines,
# log and report for a clean drive, a planted sample and a refused run.
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(wine_cmd /usr/lib/x86_64-linux-gnu/wine/x86_64-windows/cmd.exe)
  add_test(NAME wine.deploy_batch COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/app/deploy_test.sh
    ${wine_run} $<TARGET_FILE:tesmora_testhooks> $<TARGET_FILE:tesmora_fixture_win> ${wine_cmd})
  set_tests_properties(wine.deploy_batch PROPERTIES
    FIXTURES_REQUIRED wine_template TIMEOUT 900 ENVIRONMENT "${wine_env}")
endif()
