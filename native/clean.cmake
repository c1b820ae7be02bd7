# The cleaning operations' plain code: the batch-file line editor and the
# path texts of the deletions, with their tests.
list(APPEND KIVO_NATIVE_SOURCES
  ${KIVO_ROOT}/src/clean/autoexec_edit.cpp
  ${KIVO_ROOT}/src/clean/path_text.cpp
)
kivo_native_test(NAME clean_text_native SOURCES ${KIVO_ROOT}/tests/native/clean_text_test.cpp)
