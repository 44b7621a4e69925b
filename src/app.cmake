# The Qt program: app/ (start-up services), windows/ and the executable.
set(CMAKE_AUTOMOC ON)
set(CMAKE_AUTORCC ON)
find_package(Qt6 REQUIRED COMPONENTS Widgets)

add_library(kq_app STATIC
  app/formrestrict.cpp app/instancelock.cpp app/session.cpp app/keyboardbridge.cpp app/filelocations.cpp)
target_link_libraries(kq_app PUBLIC kq_files kq_engine kq_platform_select Qt6::Widgets)

add_library(kq_windows STATIC
  windows/dialogs.cpp windows/frmmain.cpp windows/frmmultimacro.cpp windows/frmoptions.cpp
  windows/theme.cpp windows/programicon.cpp appearance/modtrans.cpp tray/frmpopup.cpp
  ${PROJECT_SOURCE_DIR}/data/keyquill.qrc)
target_link_libraries(kq_windows PUBLIC kq_app)

add_executable(keyquill main.cpp)
target_link_libraries(keyquill PRIVATE kq_windows)
include(install.cmake)
