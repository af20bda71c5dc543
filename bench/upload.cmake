# A form upload against curl -F to the same local server (plain program, prints a ratio).
add_executable(bench_upload bench_upload.cpp)
target_link_libraries(bench_upload PRIVATE crash_http)
target_compile_definitions(bench_upload PRIVATE SKINTOOL_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
