# The installation step's test programs: stand-ins for the system's tar.exe and
# powershell.exe, a child process with a chosen exit code, and two drivers that call the
# launcher's own RunHidden, UnpackPackage and CreateShortcuts. Included by CMakeLists.txt.

orvix_add_wine_tool(tar        fake_tar.c        CONSOLE shell32)
orvix_add_wine_tool(powershell fake_powershell.c CONSOLE shell32)
orvix_add_wine_tool(child      child.c           CONSOLE)

set(ORVIX_SRC_DIR ${PROJECT_SOURCE_DIR}/src)

orvix_add_wine_tool(runhidden_driver runhidden_driver.cpp CONSOLE orvix_logic shell32 user32 gdi32)
target_sources(winetool_runhidden_driver PRIVATE
  ${ORVIX_SRC_DIR}/install/run_hidden_win.cpp
  ${ORVIX_SRC_DIR}/progress/progress_win.cpp)

orvix_add_wine_tool(install_driver install_driver.cpp CONSOLE
  orvix_logic shell32 shlwapi ole32 uuid user32 gdi32)
target_sources(winetool_install_driver PRIVATE
  ${ORVIX_SRC_DIR}/install/run_hidden_win.cpp
  ${ORVIX_SRC_DIR}/install/unpack_win.cpp
  ${ORVIX_SRC_DIR}/install/shortcuts_win.cpp
  ${ORVIX_SRC_DIR}/core/product_win.cpp
  ${ORVIX_SRC_DIR}/progress/progress_win.cpp)

foreach(driver winetool_runhidden_driver winetool_install_driver)
  target_compile_definitions(${driver} PRIVATE WIN32_LEAN_AND_MEAN NOMINMAX)
endforeach()
