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

# One test executable per tests/<folder>/*Test.cpp, registered with CTest.
function(kd_folder_tests folder)
  cmake_parse_arguments(A "" "" "DEPS" ${ARGN})
  file(GLOB _tests CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*Test.cpp)
  file(GLOB _support CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*Support.cpp)
  foreach(t ${_tests})
    get_filename_component(_n ${t} NAME_WE)
    set(_exe test_${folder}_${_n})
    add_executable(${_exe} ${t} ${_support})
    target_link_libraries(${_exe} PRIVATE ${A_DEPS} kd_testmain GTest::gtest GTest::gmock)
    target_compile_definitions(${_exe} PRIVATE KD_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
    add_test(NAME ${folder}.${_n} COMMAND ${_exe})
    set_tests_properties(${folder}.${_n} PROPERTIES
      ENVIRONMENT "QT_QPA_PLATFORM=offscreen;KD_TEST_OUTPUT=${PROJECT_BINARY_DIR}/test-output"
      WORKING_DIRECTORY ${PROJECT_BINARY_DIR}
      TIMEOUT 600)
  endforeach()
endfunction()
