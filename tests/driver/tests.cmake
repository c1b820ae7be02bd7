# Tests of this subsystem (see kivo_add_test in ../CMakeLists.txt).
kivo_add_test(NAME driver_argument_test SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/relaunch_argument_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/catalogue_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/switches_test.cpp)
kivo_add_test(NAME driver_stage_texts_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/stage_texts_test.cpp)
kivo_add_test(NAME driver_second_stage_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/second_stage_test.cpp)
kivo_add_test(NAME driver_second_stage_test_win98 TARGET driver_second_stage_test ENV KIVO_WINVER=win98
  ARGS --gtest_filter=SystemChecks.*:DeleteOwnCopyTest.*)
# C:\Links\Moved leads to the Windows folder, C:\Links\Linked to C:\Real\KIVO.
set(DRIVER_LINKS "mkdir -p \"$KIVO_PREFIX_DIR/drive_c/Links\" \"$KIVO_PREFIX_DIR/drive_c/Real/KIVO\" && \
ln -s ../windows \"$KIVO_PREFIX_DIR/drive_c/Links/Moved\" && ln -s ../Real/KIVO \"$KIVO_PREFIX_DIR/drive_c/Links/Linked\"")
kivo_add_test(NAME driver_win32_test SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/message_box_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/find_paths_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/folder_safety_test.cpp
  ENV "KIVO_PRERUN=${DRIVER_LINKS}")
kivo_add_test(NAME driver_win32_fr_test TARGET driver_win32_test ARGS --gtest_filter=ChooseLanguage.*
  ENV KIVO_LANG=fr_FR.UTF-8)
kivo_add_test(NAME driver_win32_es_test TARGET driver_win32_test ARGS --gtest_filter=ChooseLanguage.*
  ENV KIVO_LANG=es_MX.UTF-8)
# C:\LogLink leads to the installation folder of the tests, C:\LogHop\mid elsewhere.
set(LOG_LINK "KIVO_PRERUN=${CMAKE_CURRENT_LIST_DIR}/../bench/links.sh LogLink=Apps/KIVO LogHop/mid=Elsewhere")
kivo_add_test(NAME driver_first_stage_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/first_stage_test.cpp
  DEPENDS_PROGRAM ENV "${LOG_LINK}")
kivo_add_test(NAME driver_first_stage_fr_test TARGET driver_first_stage_test ENV KIVO_LANG=fr_FR.UTF-8
  "${LOG_LINK}")
kivo_add_test(NAME driver_first_stage_es_test TARGET driver_first_stage_test ENV KIVO_LANG=es_MX.UTF-8
  "${LOG_LINK}")
kivo_add_test(NAME driver_sequence_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/sequence_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/../zip/zip_test_support.cpp
  ENV "KIVO_PRERUN=${CMAKE_CURRENT_LIST_DIR}/../bench/links.sh Linked/KIVO/Data/out=Outside Linked/KIVO/loop=Linked/KIVO Moved/KIVO=Real/KIVO && mkdir -p -m 700 $KIVO_PREFIX_DIR/drive_c/Private/KIVO && ${CMAKE_CURRENT_LIST_DIR}/../bench/swapper.sh")
