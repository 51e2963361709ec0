# Precompiled headers, in the plain tree. Qt's headers are most of every file's compile (some
# 150 000 lines after preprocessing, a few hundred of our own). A flavour is a set of targets
# compiled with the same options, as GCC takes a precompiled header only from those: its header is
# made once, by the first target of the flavour, and the others reuse it. Clang (the checked tree)
# also compares every macro of the command line, and the test programs differ in theirs; the
# checkers' trees are built for their findings, not for speed.
#   av_pch(<target> <flavour>)   flavour: core (Qt Core), widgets (Qt Widgets), tests
set(AV_PCH_std <algorithm> <atomic> <chrono> <cstdint> <cstring> <functional> <map> <memory>
  <mutex> <string> <thread> <vector>)
set(AV_PCH_core ${AV_PCH_std} <QByteArray> <QFile> <QString>)
set(AV_PCH_widgets ${AV_PCH_std} <QApplication> <QComboBox> <QCoreApplication> <QDir> <QFile>
  <QImage> <QObject> <QPainter> <QPointer> <QPushButton> <QString> <QTimer> <QVariant> <QWidget>)
set(AV_PCH_tests ${AV_PCH_widgets} <QTest> <gtest/gtest.h>)
option(AVSETUP_PCH "Precompiled headers (GCC)" ON)
function(av_pch target flavour)
  if(NOT AVSETUP_PCH OR NOT CMAKE_CXX_COMPILER_ID STREQUAL "GNU" OR AVSETUP_SANITIZE OR AVSETUP_TSAN
     OR AVSETUP_FUZZ)
    return()
  endif()
  get_property(maker GLOBAL PROPERTY AV_PCH_MAKER_${flavour})
  if(maker)
    target_precompile_headers(${target} REUSE_FROM ${maker})
  else()
    target_precompile_headers(${target} PRIVATE ${AV_PCH_${flavour}})
    set_property(GLOBAL PROPERTY AV_PCH_MAKER_${flavour} ${target})
  endif()
endfunction()

# One static library per layer folder, from every .cpp and .h in its folders.
#   av_library(<name> DIRS <folder>... [EXCLUDE <file>...] LIBS <target>... [PCH <flavour>])
# A folder with no sources yet gives an interface library, so later layers can link it already.
function(av_library name)
  cmake_parse_arguments(A "" "PCH" "DIRS;LIBS;EXCLUDE" ${ARGN})
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
    if(A_PCH)
      av_pch(${name} ${A_PCH})
    endif()
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
  av_pch(${name} tests)
  # The environment goes into the program (tests/test_main.cpp sets what the caller has not): the
  # discovery script would split an ENVIRONMENT list into separate properties and misread the rest.
  # The first of a name wins: the defaults the suites have always run with come first.
  set(env QT_QPA_PLATFORM=offscreen AVSETUP_BACKEND=sim ${A_ENV})
  list(TRANSFORM env PREPEND "\"")
  list(TRANSFORM env APPEND "\"")
  list(JOIN env "," env)
  # In a file of its own rather than a macro: the programs share one precompiled header, which
  # GCC takes only with the same macros on the command line.
  set(env_src ${CMAKE_CURRENT_BINARY_DIR}/${name}_env.cpp)
  file(GENERATE OUTPUT ${env_src}
    CONTENT "extern const char* const kAvTestEnv[] = {${env}, nullptr};\n")
  target_sources(${name} PRIVATE ${env_src})
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
