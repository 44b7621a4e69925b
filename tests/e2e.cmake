# End-to-end tests: real X clients on a private Xvfb that each test program starts itself.
add_executable(kq_e2e_target e2e/target.cpp)
target_link_libraries(kq_e2e_target PRIVATE PkgConfig::X11DEPS)

add_library(kq_e2e_support STATIC e2e/xvfb.cpp e2e/keyboard_world.cpp)
target_include_directories(kq_e2e_support PUBLIC ${CMAKE_CURRENT_SOURCE_DIR}/e2e)
target_link_libraries(kq_e2e_support PUBLIC kq_platform_x11 GTest::gtest)
target_compile_definitions(kq_e2e_support PUBLIC KQ_E2E_TARGET="$<TARGET_FILE:kq_e2e_target>")

add_executable(kq_e2e_keyboard e2e/test_keyboard_e2e.cpp)
target_link_libraries(kq_e2e_keyboard PRIVATE kq_e2e_support GTest::gtest_main)
add_dependencies(kq_e2e_keyboard kq_e2e_target)
add_test(NAME e2e_keyboard COMMAND kq_e2e_keyboard)
set_tests_properties(e2e_keyboard PROPERTIES TIMEOUT 600 LABELS e2e)
