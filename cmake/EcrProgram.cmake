# Helpers that keep every target's settings in one place.
include(${CMAKE_CURRENT_LIST_DIR}/VersionNote.cmake OPTIONAL)

# ecr_folder_library(name [GLOB pattern...] [PUBLIC_LIBS lib...])
# One library per folder, made of the folder's .cpp files. A folder without sources yet
# gives an interface library, so that dependants configure either way.
function(ecr_folder_library name)
  cmake_parse_arguments(L "" "" "GLOB;PUBLIC_LIBS" ${ARGN})
  if(NOT L_GLOB)
    set(L_GLOB "*.cpp")
  endif()
  set(patterns)
  foreach(p IN LISTS L_GLOB)
    list(APPEND patterns "${CMAKE_CURRENT_SOURCE_DIR}/${p}")
  endforeach()
  file(GLOB sources CONFIGURE_DEPENDS ${patterns})
  list(FILTER sources EXCLUDE REGEX "_main\\.cpp$")
  if(sources)
    add_library(${name} STATIC ${sources})
    ecr_warnings(${name})
    target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
    target_link_libraries(${name} PUBLIC ${L_PUBLIC_LIBS} Threads::Threads)
    set_target_properties(${name} PROPERTIES POSITION_INDEPENDENT_CODE ON)
  else()
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE ${PROJECT_SOURCE_DIR})
    target_link_libraries(${name} INTERFACE ${L_PUBLIC_LIBS} Threads::Threads)
  endif()
endfunction()

# ecr_folder_tests(prefix LIBS lib... [PORT_4999 stem...]): every *_test.cpp of the folder
# is one gtest binary named <prefix>_<file stem>. Files ending in _widget_test.cpp get a
# main that creates a QApplication (tests run with QT_QPA_PLATFORM=offscreen). The binaries
# named under PORT_4999 serve the default TCP port and never run beside each other. Files
# ending in _property_test.cpp also get RapidCheck with its GoogleTest integration.
function(ecr_folder_tests prefix)
  cmake_parse_arguments(T "" "" "LIBS;PORT_4999" ${ARGN})
  file(GLOB tests CONFIGURE_DEPENDS "${CMAKE_CURRENT_SOURCE_DIR}/*_test.cpp")
  foreach(src IN LISTS tests)
    get_filename_component(stem ${src} NAME_WE)
    set(name ${prefix}_${stem})
    set(lock)
    if(stem IN_LIST T_PORT_4999)
      set(lock RESOURCE_LOCK tcp_port_4999)
    endif()
    set(libs ${T_LIBS})
    if(stem MATCHES "_property_test$")
      list(APPEND libs rapidcheck_gtest)
    endif()
    if(stem MATCHES "_widget_test$")
      if(NOT ECR_BUILD_WIDGETS)
        continue()
      endif()
      ecr_test(${name} SOURCES ${src} LIBS ${libs} ecr_qt_test_main WIDGETS ${lock})
    else()
      ecr_test(${name} SOURCES ${src} LIBS ${libs} ${lock})
    endif()
  endforeach()
endfunction()

# ecr_test(name SOURCES ... LIBS ... [WIDGETS] [RESOURCE_LOCK lock]): one gtest binary, its
# tests discovered by ctest.
function(ecr_test name)
  cmake_parse_arguments(T "WIDGETS" "RESOURCE_LOCK" "SOURCES;LIBS" ${ARGN})
  set(lock_property)
  if(T_RESOURCE_LOCK)
    set(lock_property RESOURCE_LOCK ${T_RESOURCE_LOCK})
  endif()
  add_executable(${name} ${T_SOURCES})
  ecr_warnings(${name})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gmock Threads::Threads)
  if(NOT T_WIDGETS)
    target_link_libraries(${name} PRIVATE GTest::gtest_main)
  endif()
  gtest_discover_tests(${name}
    TEST_PREFIX "${name}:"
    DISCOVERY_TIMEOUT 60
    PROPERTIES
      ENVIRONMENT "QT_QPA_PLATFORM=offscreen"
      ${lock_property}
      TIMEOUT 300)
endfunction()
