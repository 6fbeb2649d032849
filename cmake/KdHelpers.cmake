# One library per subsystem folder: every .cpp in the folder belongs to it.
function(kd_folder_library name)
  cmake_parse_arguments(A "" "" "DEPS" ${ARGN})
  file(GLOB _src CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  file(GLOB _hdr CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.h)
  if(_src)
    add_library(${name} STATIC ${_src} ${_hdr})
    target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
    target_link_libraries(${name} PUBLIC ${A_DEPS})
  else()
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE ${PROJECT_SOURCE_DIR})
    target_link_libraries(${name} INTERFACE ${A_DEPS})
  endif()
endfunction()

# Settings every test source shares (the test main, support files and the tests themselves), so
# that one precompiled header serves them all. The test code itself is built at -O0 in the Release
# and sanitizer builds (it compiles twice as fast and runs about as fast: the time goes in the
# libraries, which keep their optimisation); gtest, Qt and standard headers come precompiled.
set(KD_TEST_PCH_HEADERS
  <algorithm> <cmath> <cstdint> <cstdio> <cstdlib> <cstring> <filesystem> <functional> <map> <memory>
  <random> <set> <string> <vector>
  <gtest/gtest.h> <QApplication> <QImage> <QPainter> <QWidget>)

function(kd_test_settings target)
  target_compile_options(${target} PRIVATE $<$<OR:$<BOOL:${KD_SANITIZE}>,$<CONFIG:Release>>:-O0>)
  # The precompiled Qt headers reach every test: Qt's keyword macros (slots, emit, ...) stay off so
  # that a test may use those words as names.
  target_compile_definitions(${target} PRIVATE KD_SOURCE_DIR="${PROJECT_SOURCE_DIR}" QT_NO_KEYWORDS)
  if(KD_PCH)
    if(target STREQUAL "kd_testmain")
      target_precompile_headers(${target} PRIVATE ${KD_TEST_PCH_HEADERS})
    else()
      target_precompile_headers(${target} REUSE_FROM kd_testmain)
    endif()
  endif()
endfunction()

# One test executable per tests/<folder>/*Test.cpp, registered with CTest. The folder's
# *Support.cpp files are built once and linked into each of them.
function(kd_folder_tests folder)
  cmake_parse_arguments(A "" "" "DEPS" ${ARGN})
  file(GLOB _tests CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*Test.cpp)
  file(GLOB _support CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*Support.cpp)
  set(_support_lib)
  if(_support)
    set(_support_lib kd_test_support_${folder})
    add_library(${_support_lib} OBJECT ${_support})
    target_link_libraries(${_support_lib} PUBLIC ${A_DEPS} kd_testmain GTest::gtest GTest::gmock)
    kd_test_settings(${_support_lib})
  endif()
  foreach(t ${_tests})
    get_filename_component(_n ${t} NAME_WE)
    set(_exe test_${folder}_${_n})
    add_executable(${_exe} ${t})
    target_link_libraries(${_exe} PRIVATE ${_support_lib} ${A_DEPS} kd_testmain GTest::gtest GTest::gmock)
    kd_test_settings(${_exe})
    add_test(NAME ${folder}.${_n} COMMAND ${_exe})
    set_tests_properties(${folder}.${_n} PROPERTIES
      ENVIRONMENT "QT_QPA_PLATFORM=offscreen;KD_TEST_OUTPUT=${PROJECT_BINARY_DIR}/test-output"
      WORKING_DIRECTORY ${PROJECT_BINARY_DIR}
      TIMEOUT 600)
    # Programs under a real X server load platform plugins that are unloaded before the leak
    # check; only the slow unwinder records stacks that still reach the libraries that stay.
    file(READ ${t} _text)
    if(_text MATCHES "StartPrivateXServer|xvfb-run")
      set_tests_properties(${folder}.${_n} PROPERTIES
        ENVIRONMENT_MODIFICATION "ASAN_OPTIONS=string_append::fast_unwind_on_malloc=0")
    endif()
  endforeach()
endfunction()
