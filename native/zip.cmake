# The container's plain code: time conversions, the cipher and the listing of
# a closed archive (CRC-32 is already in the list), with its tests, shared
# with the Wine build; the listing takes its heap from the test stand-in.
list(APPEND KIVO_NATIVE_SOURCES
  ${KIVO_ROOT}/src/zip/zip_time.cpp
  ${KIVO_ROOT}/src/zip/zip_crypt.cpp
  ${KIVO_ROOT}/src/zip/zip_listing.cpp
)
kivo_native_test(NAME zip_pure_native SOURCES ${KIVO_ROOT}/tests/zip/zip_pure_test.cpp)
target_link_libraries(zip_pure_native PRIVATE kivo_native_memzip)
