# Tests of the Windows build, run under Wine by tools/wine/harness.py: the logic again (the
# Windows run-time library and code page tables), the serial link on COM ports mapped to
# ptys, and checks of the executable itself.
# GoogleTest and the tests throw and catch: give them back what the program goes without.
get_directory_property(options COMPILE_OPTIONS)
list(REMOVE_ITEM options -fno-exceptions -fno-rtti -fno-threadsafe-statics)
set_directory_properties(PROPERTIES COMPILE_OPTIONS "${options}")

set(TOVMIR_GTEST_SOURCE /usr/src/googletest/googletest CACHE PATH "GoogleTest sources")
set(gtest_disable_pthreads ON CACHE BOOL "" FORCE)
add_subdirectory(${TOVMIR_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

find_package(Python3 REQUIRED COMPONENTS Interpreter)
set(TOVMIR_HARNESS ${PROJECT_SOURCE_DIR}/tools/wine/harness.py)
set(TOVMIR_WINEPREFIX ${CMAKE_BINARY_DIR}/wine-prefix)

# A test executable run under Wine, with the COM ports it needs mapped to pty pairs.
function(tovmir_wine_test name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS;PORTS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} gtest_main)
  string(JOIN "," ports ${T_PORTS})
  set(port_args)
  if(ports)
    set(port_args --ports ${ports})
  endif()
  add_test(NAME ${name}
           COMMAND ${Python3_EXECUTABLE} ${TOVMIR_HARNESS} --prefix ${TOVMIR_WINEPREFIX}
                   ${port_args} --timeout 240 -- $<TARGET_FILE:${name}>)
  set_tests_properties(${name} PROPERTIES LABELS wine RESOURCE_LOCK wine TIMEOUT 300)
endfunction()

tovmir_wine_test(logic_test
  SOURCES receiver_test.cpp text_test.cpp command_line_test.cpp figure_test.cpp
          win32/gdi_test.cpp ${PROJECT_SOURCE_DIR}/app/meter_paint.cpp
  LIBS tovmir_receiver tovmir_meter tovmir_afx tovmir_platform)
tovmir_wine_test(win_link_test
  SOURCES link/link_test.cpp link/win32/test_line.cpp
  LIBS tovmir_serial tovmir_receiver tovmir_platform
  PORTS COM1 COM3 COM12)

# The program itself, without running it: PE32 or PE32+ for its machine, GUI subsystem,
# imports, size, resources, manifest and version block.
add_test(NAME exe_check
         COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_SOURCE_DIR}/win32/check_exe.py
                 --arch ${TOVMIR_ARCH} --version ${PROJECT_VERSION} $<TARGET_FILE:tovmir>)
set_tests_properties(exe_check PROPERTIES LABELS exe)

# End-to-end: the real tovmir.exe driven from outside by Python and a probe of our own.
add_executable(e2e_probe e2e/probe.cpp)
target_link_libraries(e2e_probe PRIVATE tovmir_meter)
function(tovmir_e2e_test name prefix)
  add_test(NAME ${name}
           COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_SOURCE_DIR}/e2e/test_meter.py
                   --exe $<TARGET_FILE:tovmir> --probe $<TARGET_FILE:e2e_probe>
                   --version ${PROJECT_VERSION} --prefix ${prefix} ${ARGN})
  set_tests_properties(${name} PROPERTIES LABELS wine RESOURCE_LOCK wine TIMEOUT 240)
endfunction()
tovmir_e2e_test(e2e_meter ${TOVMIR_WINEPREFIX})
# The look and the texts once more under English (United States), in a prefix of its own:
# Wine's code page is then 1252, not the program's 932. The rest (resources read from the
# file, line settings, window states, closing) does not involve the locale.
tovmir_e2e_test(e2e_meter_en_us ${TOVMIR_WINEPREFIX}-en_US --locale en_US.UTF-8
                -k Display -k Resizing -k OpenFailure -k test_about_box)

# The harness's choice of Wine, with the machine's 32-bit support taken away.
if(TOVMIR_ARCH STREQUAL "win64")
  add_test(NAME harness_choice
           COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_SOURCE_DIR}/wine/test_harness.py
                   --probe $<TARGET_FILE:e2e_probe> --prefix ${TOVMIR_WINEPREFIX})
  set_tests_properties(harness_choice PROPERTIES LABELS wine RESOURCE_LOCK wine TIMEOUT 300)
endif()
