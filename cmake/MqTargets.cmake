# SPDX-License-Identifier: LGPL-2.1-or-later
# Small helpers so that every folder declares its tests and modules the same way.

include(GoogleTest)

# mq_add_test(NAME SOURCES a.cpp b.cpp LIBS x y [ENV "K=V" ...] [GUI] [LARGE pattern])
# A GoogleTest program in bin/ whose test cases CTest finds one by one (after
# each link) as NAME:Suite.Case, labelled with the program's name; with
# -DMQ_TEST_CASES=OFF the program is one CTest entry, NAME, with that label.
# Tests that need a registry or a store make their own temporary ones; GUI
# tests run on the offscreen platform. Cases matching the LARGE gtest pattern
# (a 40,000-message folder) run as one more CTest entry, NAME_large, labelled
# `large`: `ctest -LE large` leaves them out.
function(mq_add_test name)
  if(NOT MQ_TESTS)
    return()
  endif()
  cmake_parse_arguments(T "GUI" "LARGE" "SOURCES;LIBS;ENV" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main GTest::gmock Threads::Threads)
  # GLib's slice allocator would keep GLib, GMime and vCard-library objects
  # out of LeakSanitizer's sight. The environment is set by running the
  # program through env, for the listing of its cases at build time too (a
  # GUI test makes its application object before main), and it survives
  # gtest_discover_tests, which a list in its PROPERTIES would not.
  # No system registry beneath the tests' own (an installed package's).
  set(env "QT_QPA_PLATFORM=offscreen" "MQ_BIN_DIR=${CMAKE_BINARY_DIR}/bin"
          "XDG_CONFIG_DIRS=${CMAKE_BINARY_DIR}/no-system-registry"
          "MQ_SOURCE_DIR=${CMAKE_SOURCE_DIR}" "G_SLICE=always-malloc" ${T_ENV})
  set_target_properties(${name} PROPERTIES CROSSCOMPILING_EMULATOR "env;${env}")
  set(filter "*")
  if(T_LARGE)
    set(filter "-${T_LARGE}")
    add_test(NAME ${name}_large COMMAND ${name} --gtest_filter=${T_LARGE})
    set_tests_properties(${name}_large PROPERTIES TIMEOUT 900 LABELS "large;${name}")
  endif()
  if(MQ_TEST_CASES)
    gtest_discover_tests(${name} TEST_PREFIX "${name}:" TEST_FILTER "${filter}" DISCOVERY_TIMEOUT 60
      PROPERTIES TIMEOUT 600 LABELS ${name})
  else()
    add_test(NAME ${name} COMMAND ${name} --gtest_filter=${filter})
    set_tests_properties(${name} PROPERTIES TIMEOUT 600 LABELS ${name})
  endif()
endfunction()

# mq_add_module(NAME SOURCES ... LIBS ... [SUFFIX .ocx] [OUTPUT_NAME n])
# An in-process server: a shared object in bin/ that exports only its entry points.
function(mq_add_module name)
  cmake_parse_arguments(M "" "SUFFIX;OUTPUT_NAME;SONAME" "SOURCES;LIBS" ${ARGN})
  add_library(${name} MODULE ${M_SOURCES})
  target_link_libraries(${name} PRIVATE ${M_LIBS})
  target_link_options(${name} PRIVATE -Wl,--no-undefined -Wl,--exclude-libs,ALL)
  set_target_properties(${name} PROPERTIES PREFIX "")
  if(M_SUFFIX)
    set_target_properties(${name} PROPERTIES SUFFIX ${M_SUFFIX})
  endif()
  if(M_OUTPUT_NAME)
    set_target_properties(${name} PROPERTIES OUTPUT_NAME ${M_OUTPUT_NAME})
  endif()
  if(M_SONAME)
    target_link_options(${name} PRIVATE -Wl,-soname,${M_SONAME})
  endif()
endfunction()
