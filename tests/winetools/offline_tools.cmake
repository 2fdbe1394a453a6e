# Test programs for the launchers that carry the suite package: a file holder that blocks the
# temporary package file, a tap in front of the tar.exe stand-in that keeps a copy of the
# archive it is given, and the copy benchmark that calls the launcher's own
# ExtractEmbeddedPackage. Included by CMakeLists.txt.

orvix_add_wine_tool(hold_file hold_file.c CONSOLE shell32)
orvix_add_wine_tool(tar_tap   tar_tap.c   CONSOLE shell32)

orvix_add_wine_tool(bench_embedded bench_embedded.cpp CONSOLE orvix_logic shell32 ole32 uuid)
target_sources(winetool_bench_embedded PRIVATE
  ${PROJECT_SOURCE_DIR}/src/package/embedded_win.cpp
  ${PROJECT_SOURCE_DIR}/src/core/product_win.cpp)
target_compile_definitions(winetool_bench_embedded PRIVATE WIN32_LEAN_AND_MEAN NOMINMAX)
