# Windows-side tests: one GoogleTest program run under Wine, once per Windows
# version it must work on, each run in a fresh prefix (tests/support/wine_run.sh).


add_executable(tesmora_test_child ${CMAKE_CURRENT_SOURCE_DIR}/programs/test_child_win.cpp)
target_link_options(tesmora_test_child PRIVATE -municode)

# The test program carries the product's resources, its script among them.
add_executable(tesmora_win_tests ${win_tests} ${TESMORA_ROOT}/resources/tesmora.rc)
target_link_libraries(tesmora_win_tests PRIVATE tesmora_test_support gtest_main)
target_compile_definitions(tesmora_win_tests PRIVATE
  TESMORA_APP_EXE="$<TARGET_FILE:tesmora>")
add_dependencies(tesmora_win_tests tesmora tesmora_test_child)
target_compile_definitions(tesmora_test_support PUBLIC
  TESMORA_TEST_CHILD_EXE="$<TARGET_FILE:tesmora_test_child>")

set(wine_run ${CMAKE_CURRENT_SOURCE_DIR}/support/wine_run.sh)
set(wine_template ${CMAKE_BINARY_DIR}/wine-template)

if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(wine_arch_ok TRUE)
else()
  # A 32-bit program needs Wine's 32-bit loader (the wine32 package).
  set(wine_arch_ok FALSE)
  foreach(loader /usr/lib/wine/wine /usr/lib/i386-linux-gnu/wine/wine)
    if(EXISTS ${loader})
      set(wine_arch_ok TRUE)
    endif()
  endforeach()
endif()

if(wine_arch_ok)
  # One initialised prefix per test run, copied by each test instead of
  # starting Wine from nothing every time.
  add_test(NAME wine.template
    COMMAND bash -c "rm -rf '${wine_template}' && mkdir -p '${wine_template}' && WINEPREFIX='${wine_template}' WINEDEBUG=-all WINEDLLOVERRIDES='mscoree,mshtml=' wineboot -i >/dev/null 2>&1; WINEPREFIX='${wine_template}' wineserver -w; test -f '${wine_template}/system.reg'")
  set_tests_properties(wine.template PROPERTIES FIXTURES_SETUP wine_template TIMEOUT 300)

  foreach(version winxp nt40 win98)
    add_test(NAME wine.${version}
      COMMAND bash ${wine_run} --version ${version} --drive D=@empty -- $<TARGET_FILE:tesmora_win_tests>
      WORKING_DIRECTORY $<TARGET_FILE_DIR:tesmora_win_tests>)
    set_tests_properties(wine.${version} PROPERTIES
      FIXTURES_REQUIRED wine_template TIMEOUT 600
      ENVIRONMENT "TESMORA_WINE_TEMPLATE=${wine_template}")
  endforeach()

  # The analyst tool's Windows build over the same embedded script.
  add_test(NAME wine.sig_check COMMAND bash -c
    "out=$(bash '${wine_run}' -- '$<TARGET_FILE:tesmora-sig>' check) && test $(printf '%s' \"$out\" | grep -c '^Worm/.*mem=0.file=126.actions=') -eq 8")
  set_tests_properties(wine.sig_check PROPERTIES
    FIXTURES_REQUIRED wine_template TIMEOUT 300
    ENVIRONMENT "TESMORA_WINE_TEMPLATE=${wine_template}")
else()
  add_test(NAME wine.skipped COMMAND bash -c
    "echo 'Windows tests of the 32-bit build skipped: no 32-bit Wine is installed (package wine32)'; exit 77")
  set_tests_properties(wine.skipped PROPERTIES SKIP_RETURN_CODE 77)
endif()
