# The desktop program: the windows, the platform services that need Qt Gui
# or Widgets, and the executable Tarvel. Included when TARVEL_GUI is on.

include(GNUInstallDirs)

set(TARVEL_GUI_SOURCES
  about/AboutForm.cpp
  about/SplashForm.cpp
  about/Version.cpp
  mainwindow/AcquisitionHost.cpp
  mainwindow/DesktopApp.cpp
  mainwindow/InstanceLock.cpp
  mainwindow/TrendWindow.cpp
  mainwindow/Widgets.cpp
  mainwindow/MainForm.cpp
  mainwindow/DesktopPlatform.cpp
  mainwindow/DesktopProgram.cpp
  mainwindow/DeviceStatusWindow.cpp
  mainwindow/DeviceSearchWindow.cpp
  monitor/MonitorForm.cpp
  platform/qtgui/QtDesktopShell.cpp
  platform/qtgui/QtDialogs.cpp
  platform/qtgui/QtTranslation.cpp
  tray/TrayText.cpp
  tray/TrayIcona.cpp)
list(TRANSFORM TARVEL_GUI_SOURCES PREPEND ${CMAKE_CURRENT_SOURCE_DIR}/)
add_library(tarvel_gui STATIC ${TARVEL_GUI_SOURCES})
target_link_libraries(tarvel_gui PUBLIC tarvel_qtplatform tarvel_sqlite tarvel_mosquitto tarvel_httplib Qt6::Gui
                      Qt6::Widgets Qt6::Charts)
set_target_properties(tarvel_gui PROPERTIES AUTOMOC ON)

add_executable(Tarvel ${CMAKE_CURRENT_SOURCE_DIR}/mainwindow/main.cpp)
target_link_libraries(Tarvel PRIVATE tarvel_gui)

# Installed: the program, its launcher and its icon. The headless runner and
# the simulator install themselves from their own folders.
install(TARGETS Tarvel RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${CMAKE_CURRENT_SOURCE_DIR}/mainwindow/data/tarvel.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${CMAKE_CURRENT_SOURCE_DIR}/mainwindow/data/tarvel.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
