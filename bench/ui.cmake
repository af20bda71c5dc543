# The crash windows: screenshot capture and compact PNG against pngquant, dialog latency.
# Run: bash scripts/with-xvfb.sh 1280x1024 build-bench/bin/bench_screenshot
find_package(Qt6 REQUIRED COMPONENTS Test)
add_executable(bench_screenshot ${CMAKE_CURRENT_SOURCE_DIR}/bench_screenshot.cpp)
target_link_libraries(bench_screenshot PRIVATE crash_ui imaging app demoprefix Qt6::Test)
include(${PROJECT_SOURCE_DIR}/tools/settings-compiler/SettingsResource.cmake)
skintool_settings_resource(bench_screenshot ${PROJECT_SOURCE_DIR}/src/crash/core/settings/Halvorn.settings)
