# Tests of this subsystem (see kivo_add_test in ../CMakeLists.txt).
