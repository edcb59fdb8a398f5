# One library per folder, one test executable per unit, registered beside it.

# qova_add_test(NAME <name> SOURCES <files...> LIBS <targets...> [QT])
# The test is named after its folder and unit, e.g. "core/search_region".
# QT marks tests that need a (headless) Qt GUI; they run on the offscreen platform.
function(qova_add_test)
  if(NOT QOVA_TESTS)
    return()
  endif()
  cmake_parse_arguments(T "QT" "NAME" "SOURCES;LIBS" ${ARGN})
  string(REPLACE "/" "_" exe "test_${T_NAME}")
  add_executable(${exe} ${T_SOURCES})
  if(T_QT)
    # A QApplication on the offscreen platform exists for the whole test.
    target_link_libraries(${exe} PRIVATE ${T_LIBS} qova_gui_test_main)
  else()
    target_link_libraries(${exe} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main)
  endif()
  add_test(NAME ${T_NAME} COMMAND ${exe})
  set(env "QT_QPA_PLATFORM=offscreen")
  set_tests_properties(${T_NAME} PROPERTIES ENVIRONMENT "${env}" TIMEOUT 300)
endfunction()
