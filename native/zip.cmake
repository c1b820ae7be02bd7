# The container's plain code: time conversions and the cipher (CRC-32 is
# already in the list), with its tests, shared with the Wine build.
list(APPEND KIVO_NATIVE_SOURCES
  ${KIVO_ROOT}/src/zip/zip_time.cpp
  ${KIVO_ROOT}/src/zip/zip_crypt.cpp
)
kivo_native_test(NAME zip_pure_native SOURCES ${KIVO_ROOT}/tests/zip/zip_pure_test.cpp)
