# skintool_deliberate_faults(<sources...>)
# Sources that raise processor faults on purpose (a write through a null pointer, an integer
# division by zero) for the crash reporter to catch. The undefined-behaviour checker would stop
# the program before the fault happens, so it leaves those two checks out of these files; every
# other check stays.
function(skintool_deliberate_faults)
    if(SKINTOOL_SANITIZE MATCHES "undefined")
        set_source_files_properties(${ARGN} DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR}
                                    PROPERTIES COMPILE_OPTIONS "-fno-sanitize=null,integer-divide-by-zero")
    endif()
endfunction()
