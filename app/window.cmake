# The main window and the program's entry, included from this folder's CMakeLists.txt.
#
# cb_window holds every class of the window, so tests can build whole windows; the executable
# adds only main(). The build lays the program out as a bundle:
#   <build>/Cellarbright.app/Contents/MacOS/cellarbright
#   <build>/Cellarbright.app/Contents/Info.plist
#   <build>/Cellarbright.app/Contents/Resources/{VoviduService-Info.plist,main_logo.png}
add_library(cb_window STATIC
  AppDelegate.cpp
  ApplicationActivation.cpp
  CardShadow.cpp
  CellarbrightApp.cpp
  ContentView.cpp
  DialogOverlay.cpp
  DiskMapView.cpp
  Divider.cpp
  MainQueueBridge.cpp
  ModePicker.cpp
  ProcessEnd.cpp
  QtTranslations.cpp
  ScreenshotHook.cpp
  TopBar.cpp
  WindowAlerts.cpp
  WindowBackground.cpp)
set_target_properties(cb_window PROPERTIES AUTOMOC ON)
target_include_directories(cb_window PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(cb_window
  PUBLIC Qt6::Widgets cb_appstate cb_views cb_uninstaller_views cb_localization cb_ads cb_adbar sdk_core sdk_analytics
    sdk_installations
    cb_platform_app
  PRIVATE cb_platform_dispatch cb_platform_bundle)

set(CB_BUNDLE_DIR ${CMAKE_BINARY_DIR}/Cellarbright.app/Contents)
configure_file(bundle/Info.plist.in ${CB_BUNDLE_DIR}/Info.plist @ONLY)
configure_file(bundle/VoviduService-Info.plist ${CB_BUNDLE_DIR}/Resources/VoviduService-Info.plist
  COPYONLY)

add_executable(cb_make_logo bundle/MakeLogo.cpp)
target_link_libraries(cb_make_logo PRIVATE Qt6::Gui)
# A build tool, not a program under test: built without sanitizers, which would stop the build
# on reports from inside Qt's painting threads.
set(cb_make_logo_options -Wall -Wextra)
if(CB_WERROR)
  list(APPEND cb_make_logo_options -Werror)
endif()
set_target_properties(cb_make_logo PROPERTIES COMPILE_OPTIONS "${cb_make_logo_options}" LINK_OPTIONS "")
add_custom_command(
  OUTPUT ${CB_BUNDLE_DIR}/Resources/main_logo.png
  COMMAND cb_make_logo ${CB_BUNDLE_DIR}/Resources/main_logo.png
  DEPENDS cb_make_logo
  COMMENT "Drawing main_logo.png")
add_custom_target(cb_bundle_logo ALL DEPENDS ${CB_BUNDLE_DIR}/Resources/main_logo.png)

add_executable(cellarbright main.cpp)
target_link_libraries(cellarbright PRIVATE cb_window)
set_target_properties(cellarbright PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CB_BUNDLE_DIR}/MacOS)
add_dependencies(cellarbright cb_bundle_logo)
