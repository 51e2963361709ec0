# One static library per layer folder, from every .cpp and .h in its folders.
#   av_library(<name> DIRS <folder>... [EXCLUDE <file>...] LIBS <target>...)
# A folder with no sources yet gives an interface library, so later layers can link it already.
function(av_library name)
  cmake_parse_arguments(A "" "" "DIRS;LIBS;EXCLUDE" ${ARGN})
  set(srcs)
  foreach(d ${A_DIRS})
    file(GLOB s CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/${d}/*.cpp ${PROJECT_SOURCE_DIR}/${d}/*.h)
    list(APPEND srcs ${s})
  endforeach()
  foreach(x ${A_EXCLUDE})
    list(REMOVE_ITEM srcs ${PROJECT_SOURCE_DIR}/${x})
  endforeach()
  # Headers are listed too, so AUTOMOC sees every Q_OBJECT header, also one without a .cpp.
  set(cpps ${srcs})
  list(FILTER cpps INCLUDE REGEX "\\.cpp$")
  if(cpps)
    add_library(${name} STATIC ${srcs})
    target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
    target_link_libraries(${name} PUBLIC ${A_LIBS})
  else()
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE ${PROJECT_SOURCE_DIR})
    target_link_libraries(${name} INTERFACE ${A_LIBS})
  endif()
endfunction()

# One GoogleTest program per test folder; every test case becomes one ctest entry, labelled with
# its program's name (ctest -L '^test_mixer$'; the discovery script passes one label only).
# Programs with THREADS are where threads meet: the target threaded_tests builds them for the
# thread checker, and tests/threaded-labels in the build folder holds the ctest label expression
# that selects them (make test-tsan).
#   av_test(<name> DIRS <folder>... LIBS <target>... [THREADS] [ENV <VAR=value>...]
#           [PROPERTIES <ctest property> <value>...])
function(av_test name)
  cmake_parse_arguments(A "THREADS" "" "DIRS;LIBS;ENV;PROPERTIES" ${ARGN})
  set(srcs)
  foreach(d ${A_DIRS})
    file(GLOB s CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/${d}/*.cpp)
    list(APPEND srcs ${s})
  endforeach()
  if(NOT srcs)
    return()
  endif()
  add_executable(${name} ${PROJECT_SOURCE_DIR}/tests/test_main.cpp ${srcs})
  if(A_THREADS)
    if(NOT TARGET threaded_tests)
      add_custom_target(threaded_tests)
    endif()
    add_dependencies(threaded_tests ${name})
    set_property(GLOBAL APPEND PROPERTY AV_THREADED_TESTS ${name})
    get_property(threaded GLOBAL PROPERTY AV_THREADED_TESTS)
    string(REPLACE ";" "|" threaded "${threaded}")
    file(WRITE ${CMAKE_BINARY_DIR}/tests/threaded-labels "^(${threaded})$\n")
  endif()
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/tests)
  target_link_libraries(${name} PRIVATE ${A_LIBS} Qt6::Widgets Qt6::Test GTest::gtest)
  # The environment goes into the program (tests/test_main.cpp sets what the caller has not): the
  # discovery script would split an ENVIRONMENT list into separate properties and misread the rest.
  # The first of a name wins: the defaults the suites have always run with come first.
  set(env QT_QPA_PLATFORM=offscreen AVSETUP_BACKEND=sim ${A_ENV})
  list(TRANSFORM env PREPEND "\"")
  list(TRANSFORM env APPEND "\"")
  list(JOIN env "," env)
  target_compile_definitions(${name} PRIVATE "AV_TEST_ENV=${env}")
  # The checkers' builds run several times slower.
  set(timeout 120)
  if(AVSETUP_SANITIZE OR AVSETUP_TSAN)
    set(timeout 600)
  endif()
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60 NO_PRETTY_VALUES
    PROPERTIES TIMEOUT ${timeout} LABELS ${name} ${A_PROPERTIES})
endfunction()

function(av_bench name)
  add_executable(${name} ${ARGN})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR})
endfunction()
