# The container's plain code: time conversions, the cipher, the heap's
# growing blocks and the listing of a closed archive (CRC-32 is already in
# the list), with its tests, shared with the Wine build; the listing and the
# blocks take their heap from the test stand-in.
list(APPEND KIVO_NATIVE_SOURCES
  ${KIVO_ROOT}/src/zip/zip_heap.cpp
  ${KIVO_ROOT}/src/zip/zip_time.cpp
  ${KIVO_ROOT}/src/zip/zip_crypt.cpp
  ${KIVO_ROOT}/src/zip/zip_listing.cpp
)
# The inflater and the archive verifier, with their tests on archives that
# Python's zipfile writes at build time (tests/native/zip_fixtures.py).
list(APPEND KIVO_NATIVE_SOURCES
  ${KIVO_ROOT}/src/zip/inflate.cpp
  ${KIVO_ROOT}/src/zip/zip_verify.cpp
)
set(ZIP_FIXTURES ${CMAKE_BINARY_DIR}/zip_fixtures)
add_custom_command(OUTPUT ${ZIP_FIXTURES}/forced.zip
  COMMAND python3 ${KIVO_ROOT}/tests/native/zip_fixtures.py ${ZIP_FIXTURES}
  DEPENDS ${KIVO_ROOT}/tests/native/zip_fixtures.py)
add_custom_target(zip_fixtures DEPENDS ${ZIP_FIXTURES}/forced.zip)
kivo_native_test(NAME zip_verify_native SOURCES
  ${KIVO_ROOT}/tests/native/inflate_test.cpp
  ${KIVO_ROOT}/tests/native/zip_verify_test.cpp)
target_link_libraries(zip_verify_native PRIVATE kivo_native_memzip)
target_compile_definitions(zip_verify_native PRIVATE ZIP_FIXTURES="${ZIP_FIXTURES}")
add_dependencies(zip_verify_native zip_fixtures)
# Hostile streams for the inflater (zlib's inflate as the oracle) and hostile
# archives for the verifier (its heap from the memory stand-ins).
if(KIVO_FUZZING)
  add_executable(inflate_fuzz ${KIVO_ROOT}/tests/native/inflate_fuzz.cpp)
  add_executable(zip_verify_fuzz ${KIVO_ROOT}/tests/native/zip_verify_fuzz.cpp ${KIVO_ROOT}/tests/native/memory_zip.cpp)
  foreach(fuzz inflate_fuzz zip_verify_fuzz)
    target_compile_options(${fuzz} PRIVATE -fsanitize=fuzzer)
    target_link_options(${fuzz} PRIVATE -fsanitize=fuzzer)
    target_link_libraries(${fuzz} PRIVATE kivo_native ZLIB::ZLIB)
  endforeach()
endif()
# The container's own tests.
kivo_native_test(NAME zip_pure_native SOURCES ${KIVO_ROOT}/tests/zip/zip_pure_test.cpp)
target_link_libraries(zip_pure_native PRIVATE kivo_native_memzip)
# The parallel writer's schedule on the standard library's threads; the
# ThreadSanitizer build runs it too.
list(APPEND KIVO_NATIVE_SOURCES ${KIVO_ROOT}/src/zip/zip_parallel.cpp)
kivo_native_test(NAME zip_parallel_native SOURCES
  ${KIVO_ROOT}/tests/native/zip_parallel_test.cpp
  ${KIVO_ROOT}/tests/native/std_threads.cpp)
target_link_libraries(zip_parallel_native PRIVATE kivo_native_memzip)
