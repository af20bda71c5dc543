# Registry reads on a hive as large as the one a real wineboot makes (about 1.7 MB).
add_executable(bench_registry ${CMAKE_CURRENT_LIST_DIR}/bench_registry.cpp)
target_link_libraries(bench_registry PRIVATE platform benchmark::benchmark Qt6::Core)
