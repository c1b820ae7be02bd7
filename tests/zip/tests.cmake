# Tests of this subsystem (see kivo_add_test in ../CMakeLists.txt).
# Every archive that the Wine tests write is checked afterwards, on the Linux
# side, by zipfile, zlib, unzip and 7z (check_archives.py).
kivo_add_test(NAME zip_pure_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/zip_pure_test.cpp)
# Archives that today's writer made of fixed inputs, compared byte for byte.
file(GLOB ZIP_GOLDEN ${CMAKE_CURRENT_LIST_DIR}/golden/*.zip)
string(REPLACE ";" " " ZIP_GOLDEN "${ZIP_GOLDEN}")
kivo_add_test(NAME zip_container_test SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/zip_verify_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/zip_container_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/zip_test_support.cpp
  ARGS --gtest_filter=-*FourGibibyte*
  ENV "KIVO_POSTCHECK=python3 ${CMAKE_CURRENT_LIST_DIR}/check_archives.py"
  "KIVO_COPY_IN=${ZIP_GOLDEN}")
# The verifier on Windows 9x's ANSI path.
kivo_add_test(NAME zip_verify_test_win98 TARGET zip_container_test ARGS --gtest_filter=ZipVerifyFile.*
  ENV KIVO_WINVER=win98)
# Archives a file of 4 GiB (about two minutes): a ctest entry of its own,
# labelled slow, so that it runs beside the others and can be left out.
kivo_add_test(NAME zip_limits_test TARGET zip_container_test
  ARGS --gtest_filter=*FourGibibyte*
  LABELS slow TIMEOUT 600
  ENV "KIVO_POSTCHECK=python3 ${CMAKE_CURRENT_LIST_DIR}/check_archives.py")
kivo_add_test(NAME zip_folder_test SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/zip_folder_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/zip_test_support.cpp
  ENV "KIVO_POSTCHECK=python3 ${CMAKE_CURRENT_LIST_DIR}/check_archives.py"
  "KIVO_PRERUN=${CMAKE_CURRENT_LIST_DIR}/../bench/links.sh ziptest/LINKED/sub/out=outside ziptest/LINKED/loop=ziptest/LINKED ziptest/MOVED=ziptest/LINKED && ${CMAKE_CURRENT_LIST_DIR}/../bench/swapper.sh")
