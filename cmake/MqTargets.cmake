# Small helpers so that every folder declares its tests and modules the same way.

# mq_add_test(NAME SOURCES a.cpp b.cpp LIBS x y [ENV "K=V" ...] [GUI])
# A GoogleTest program in bin/, run by CTest. Tests that need a registry or a
# store make their own temporary ones; GUI tests run on the offscreen platform.
function(mq_add_test name)
  if(NOT MQ_TESTS)
    return()
  endif()
  cmake_parse_arguments(T "GUI" "" "SOURCES;LIBS;ENV" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main GTest::gmock Threads::Threads)
  add_test(NAME ${name} COMMAND ${name})
  # GLib's slice allocator would keep GLib, GMime and vCard-library objects
  # out of LeakSanitizer's sight.
  # No system registry beneath the tests' own (an installed package's).
  set(env "QT_QPA_PLATFORM=offscreen" "MQ_BIN_DIR=${CMAKE_BINARY_DIR}/bin"
          "XDG_CONFIG_DIRS=${CMAKE_BINARY_DIR}/no-system-registry"
          "MQ_SOURCE_DIR=${CMAKE_SOURCE_DIR}" "G_SLICE=always-malloc" ${T_ENV})
  set_tests_properties(${name} PROPERTIES ENVIRONMENT "${env}" TIMEOUT 600)
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
