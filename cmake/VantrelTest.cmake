include(GoogleTest)

# vantrel_add_test(NAME name SOURCES a.cpp ... LIBS lib ... [LABELS l ...] [GUI])
# One GoogleTest program; every TEST becomes its own ctest entry.  GUI tests
# run on Qt's offscreen platform so no display is needed.  Label "thread"
# marks the tests that the ThreadSanitizer build runs.  Shared helpers:
# #include "support/...".
function(vantrel_add_test)
  cmake_parse_arguments(T "GUI" "NAME" "SOURCES;LIBS;LABELS" ${ARGN})
  if(T_GUI AND NOT VANTREL_GUI)
    return()
  endif()
  if(T_GUI)
    # Widgets need a QApplication before any test runs: own main().
    add_executable(${T_NAME} ${T_SOURCES} ${PROJECT_SOURCE_DIR}/tests/QtTestMain.cpp)
    target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} Qt6::Widgets Qt6::Test GTest::gtest Threads::Threads)
  else()
    add_executable(${T_NAME} ${T_SOURCES})
    target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main Threads::Threads)
  endif()
  # Shared test helpers: #include "support/..."
  target_include_directories(${T_NAME} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
  set(props LABELS "${T_LABELS}")
  if(T_GUI)
    list(APPEND props ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
  endif()
  gtest_discover_tests(${T_NAME} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60
                       PROPERTIES ${props})
endfunction()
