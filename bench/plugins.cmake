# The three report plugins against ps + lspci + cat doing the same listing (plain program, prints
# the ratio). Starts 500 sleeping processes of its own and always ends them.
add_executable(bench_plugins ${CMAKE_CURRENT_LIST_DIR}/bench_plugins.cpp)
target_link_libraries(bench_plugins PRIVATE crash_plugins)
