# bench_trace: capture, unwind and symbolise 22 threads (chains 12 deep over 20 files), cold and
# warm, against eu-stack on the same process.
set(trace_chain_sources)
foreach(n RANGE 0 19)
    math(EXPR next "(${n} + 1) % 20")
    set(N ${n})
    set(NEXT ${next})
    configure_file(${CMAKE_CURRENT_SOURCE_DIR}/trace/TraceChain.cpp.in ${CMAKE_CURRENT_BINARY_DIR}/trace/TraceChain${n}.cpp
                   @ONLY)
    list(APPEND trace_chain_sources ${CMAKE_CURRENT_BINARY_DIR}/trace/TraceChain${n}.cpp)
endforeach()
add_executable(bench_trace bench_trace.cpp trace/TraceChains.h ${trace_chain_sources})
target_include_directories(bench_trace PRIVATE ${CMAKE_CURRENT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR}/trace)
target_compile_options(bench_trace PRIVATE -g)
target_link_libraries(bench_trace PRIVATE crash_stack Qt6::Core)
include(${PROJECT_SOURCE_DIR}/tools/symbol-resource/SymbolResource.cmake)
skintool_symbol_resource(bench_trace)
