# One helper per kind of target. Warnings, visibility, sanitizers and the strict Qt
# defines are set here once; build types live in CMakePresets.json.

include(GoogleTest)

function(orva_common_settings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wno-missing-field-initializers)
  # Only the project's own targets come here; the libraries it uses are system headers, whose
  # warnings the compilers do not report.
  if(ORVA_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
  target_compile_definitions(${target} PRIVATE QT_NO_CAST_FROM_ASCII QT_NO_FOREACH QT_NO_KEYWORDS
                                                QT_USE_QSTRINGBUILDER)
  if(ORVA_SANITIZE)
    target_compile_options(${target} PRIVATE -fsanitize=address,undefined -fno-omit-frame-pointer
                                             -fno-sanitize-recover=undefined)
    target_link_options(${target} PRIVATE -fsanitize=address,undefined)
  endif()
  if(ORVA_FUZZ)
    # Coverage for the fuzzer in every library; only the fuzz programs link libFuzzer's main.
    target_compile_options(${target} PRIVATE -fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer
                                             -fno-sanitize-recover=undefined)
    target_link_options(${target} PRIVATE -fsanitize=address,undefined)
  endif()
endfunction()

# orva_library(NAME DIR <folder with Public/ and Private/> LIBS <deps...>)
function(orva_library name)
  cmake_parse_arguments(ARG "" "DIR" "LIBS;SOURCES" ${ARGN})
  if(NOT ARG_SOURCES)
    file(GLOB_RECURSE ARG_SOURCES CONFIGURE_DEPENDS ${ARG_DIR}/Public/*.h ${ARG_DIR}/Private/*.h
         ${ARG_DIR}/Private/*.cpp)
  endif()
  add_library(${name} STATIC ${ARG_SOURCES})
  target_include_directories(${name} PUBLIC ${ARG_DIR}/Public PRIVATE ${ARG_DIR}/Private)
  target_link_libraries(${name} PUBLIC ${ARG_LIBS})
  orva_common_settings(${name})
endfunction()

# orva_program(NAME SOURCES ... LIBS ...)
function(orva_program name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS})
  orva_common_settings(${name})
endfunction()

# orva_test(NAME DIR <folder of *.cpp> LIBS ... [WIDGETS]): one GoogleTest executable per area.
# WIDGETS runs the tests under a widget application (offscreen).
function(orva_test name)
  cmake_parse_arguments(ARG "WIDGETS" "DIR" "LIBS" ${ARGN})
  file(GLOB ARG_SOURCES CONFIGURE_DEPENDS ${ARG_DIR}/*.cpp ${ARG_DIR}/*.h)
  add_executable(${name} ${ARG_SOURCES})
  if(ARG_WIDGETS)
    target_link_libraries(${name} PRIVATE OrvaTestMainWidgets)
  else()
    target_link_libraries(${name} PRIVATE OrvaTestMain)
  endif()
  target_link_libraries(${name} PRIVATE OrvaTestSupport ${ARG_LIBS} GTest::gtest)
  target_compile_definitions(${name} PRIVATE
    ORVA_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
    ORVA_SHARED_DIR="${PROJECT_SOURCE_DIR}/Tests/Data")
  orva_common_settings(${name})
  # One CTest test per test case, so that a failure names its case. The cases are listed when
  # CTest runs rather than after each build: a sanitizer build then never fails on the listing,
  # and a slow machine gets a minute to list.
  gtest_discover_tests(${name}
    DISCOVERY_MODE PRE_TEST
    DISCOVERY_TIMEOUT 60
    PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
endfunction()
