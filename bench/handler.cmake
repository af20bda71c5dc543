# bench_report: a fault in a 20-thread process to the complete report saved, against eu-stack -p on
# the same process; and what the reporter's start-up adds to a program's start (time, resident memory).
#   build-bench/bin/bench_report
add_executable(bench_report ${CMAKE_CURRENT_LIST_DIR}/bench_report.cpp)
target_link_libraries(bench_report PRIVATE crash_core settings_text Qt6::Widgets)
include(${PROJECT_SOURCE_DIR}/tools/settings-compiler/SettingsResource.cmake)
skintool_settings_resource(bench_report ${PROJECT_SOURCE_DIR}/src/crash/core/settings/Halvorn.settings)
target_compile_definitions(bench_report PRIVATE
    HALVORN_PROGRAM_SETTINGS="${PROJECT_SOURCE_DIR}/src/crash/core/settings/Halvorn.settings")
