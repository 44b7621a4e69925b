# Widget tests (offscreen Qt) and the end-to-end tests of the real program.
find_package(Qt6 REQUIRED COMPONENTS Test)
file(GLOB KQ_WIDGET_TESTS CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/widgets/test_*.cpp)
add_executable(kq_widget_tests widgets/widget_main.cpp widgets/widget_support.cpp ${KQ_WIDGET_TESTS})
target_include_directories(kq_widget_tests PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/widgets)
target_link_libraries(kq_widget_tests PRIVATE kq_windows kq_platform_fake Qt6::Test GTest::gtest)
set_target_properties(kq_widget_tests PROPERTIES AUTOMOC ON)
# Every program under test reads and writes its settings beside the test executable, so the widget
# tests take turns among themselves; they still run beside the unit and end-to-end tests.
gtest_discover_tests(kq_widget_tests DISCOVERY_MODE PRE_TEST
  PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen" TIMEOUT 120 RESOURCE_LOCK kq_program_folder)
