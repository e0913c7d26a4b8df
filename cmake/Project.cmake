# Warnings and sanitizers for every target of the project.
set(KV_WARNINGS -Wall -Wextra -Wpedantic -Werror)
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
  # GCC 12 reports impossible overlaps inside std::string's own assignment
  # when optimising (its bug 105329); the warning says nothing about our code.
  list(APPEND KV_WARNINGS -Wno-restrict)
endif()

if(WIN32)
  # The system's texts are byte strings of the ANSI code page, which is 932
  # on the machines the Windows programs run on: messages, captions and the
  # window's font name are compiled into it. TRANSLIT because the C++
  # library's own headers hold a character that code page lacks (the micro
  # sign of <chrono>), which would otherwise stop the compiler.
  add_compile_options(-fexec-charset=CP932//TRANSLIT)
endif()

if(KV_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=address,undefined)
endif()
if(KV_TSAN)
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
endif()

# The operating system's own layer: posix/ today, win32/ for the native
# Windows programs.
if(WIN32)
  set(KV_NATIVE win32)
else()
  set(KV_NATIVE posix)
endif()

# kv_library(NAME DEPS...) builds src/NAME into the static library kv_NAME from
# every source file in the folder (and, for platform, its native subfolder).
function(kv_library name)
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  if(name STREQUAL "platform")
    file(GLOB native CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${KV_NATIVE}/*.cpp)
    list(APPEND sources ${native})
  endif()
  if(NOT sources)
    # A layer that has no units yet still carries its place in the chain.
    add_library(kv_${name} INTERFACE)
    target_include_directories(kv_${name} INTERFACE ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(kv_${name} INTERFACE ${ARGN})
    return()
  endif()
  add_library(kv_${name} STATIC ${sources})
  target_include_directories(kv_${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
  target_compile_options(kv_${name} PRIVATE ${KV_WARNINGS})
  target_link_libraries(kv_${name} PUBLIC ${ARGN})
endfunction()

# kv_test_environment(TARGET) gives a test program its environment defaults
# (tests/support/TestEnvironment.cpp).
function(kv_test_environment target)
  target_sources(${target} PRIVATE ${PROJECT_SOURCE_DIR}/tests/support/TestEnvironment.cpp)
  target_compile_definitions(${target} PRIVATE KV_TEST_BIN_DIR="${CMAKE_BINARY_DIR}/bin"
                                               KV_TEST_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
endfunction()

# kv_tests(NAME DEPS...) builds tests/NAME/*.cpp into one GoogleTest program.
function(kv_tests name)
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  if(NOT sources)
    return()
  endif()
  add_executable(test_${name} ${sources})
  kv_test_environment(test_${name})
  target_compile_options(test_${name} PRIVATE ${KV_WARNINGS})
  target_include_directories(test_${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
  target_link_libraries(test_${name} PRIVATE ${ARGN} kv_testsupport GTest::gtest GTest::gtest_main)
  # Labelled by their layer, so that one suite runs alone: ctest -L csv.
  set(properties ENVIRONMENT "KV_BIN_DIR=${CMAKE_BINARY_DIR}/bin" LABELS ${name})
  if(WIN32 AND name IN_LIST KV_SESSION_TEST_LAYERS)
    list(APPEND properties RESOURCE_LOCK windows_session)
  endif()
  kv_discover_tests(test_${name} PROPERTIES ${properties})
endfunction()

# On Windows the windows and the registry belong to the session, shared by
# every test program (POSIX tests get private ones): the tests of the layers
# that start the dispatcher, find windows or name it in the registry run one
# at a time.
set(KV_SESSION_TEST_LAYERS platform diagnostics common config app app_win32)

# kv_discover_tests(TARGET ARGS...) registers a test program's tests. A cross
# build lists them when ctest runs, so that building never starts the emulator.
function(kv_discover_tests target)
  if(CMAKE_CROSSCOMPILING)
    gtest_discover_tests(${target} DISCOVERY_TIMEOUT 120 DISCOVERY_MODE PRE_TEST ${ARGN})
  else()
    gtest_discover_tests(${target} DISCOVERY_TIMEOUT 60 ${ARGN})
  endif()
endfunction()

# kv_program(TARGET SOURCES...) builds a program whose entry is ProgramMain
# (platform/ProgramEntry.h).
function(kv_program target)
  add_executable(${target} ${ARGN})
  target_compile_options(${target} PRIVATE ${KV_WARNINGS})
  target_link_libraries(${target} PRIVATE kv_entry)
endfunction()
