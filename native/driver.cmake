# The driver's plain code: the relaunch argument with its path texts, and the
# message catalogue with the language choice.
list(APPEND KIVO_NATIVE_SOURCES
  ${KIVO_ROOT}/src/driver/relaunch_argument.cpp
  ${KIVO_ROOT}/src/driver/catalogue.cpp
  ${KIVO_ROOT}/src/driver/switches.cpp
  ${KIVO_ROOT}/src/driver/exit_codes.cpp
)
kivo_native_test(NAME driver_native SOURCES
  ${KIVO_ROOT}/tests/driver/relaunch_argument_test.cpp
  ${KIVO_ROOT}/tests/driver/catalogue_test.cpp
  ${KIVO_ROOT}/tests/driver/switches_test.cpp)

if(KIVO_FUZZING)
  add_executable(relaunch_fuzz ${KIVO_ROOT}/tests/driver/relaunch_fuzz.cpp)
  target_compile_options(relaunch_fuzz PRIVATE -fsanitize=fuzzer)
  target_link_options(relaunch_fuzz PRIVATE -fsanitize=fuzzer)
  target_link_libraries(relaunch_fuzz PRIVATE kivo_native)
  add_executable(switches_fuzz ${KIVO_ROOT}/tests/driver/switches_fuzz.cpp)
  target_compile_options(switches_fuzz PRIVATE -fsanitize=fuzzer)
  target_link_options(switches_fuzz PRIVATE -fsanitize=fuzzer)
  target_link_libraries(switches_fuzz PRIVATE kivo_native)
endif()
# The sequence's and the self-deletion's texts.
list(APPEND KIVO_NATIVE_SOURCES
  ${KIVO_ROOT}/src/driver/archive_name.cpp
  ${KIVO_ROOT}/src/driver/delete_command.cpp
)
kivo_native_test(NAME stage_texts_native SOURCES ${KIVO_ROOT}/tests/driver/stage_texts_test.cpp)
