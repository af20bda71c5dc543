# skintool_symbol_resource(<target>)
#   After each link, writes the crash reporter's symbol table (functions, units, lines, inlined
#   calls) into <target> as the ELF note ".note.EXCEPT", so a copy stripped of its debug
#   information still names function, unit and line in call stacks.
# skintool_symbol_file(<target>)
#   For a library: writes the same table beside it as <file>.jdbg.
include_guard(GLOBAL)

function(skintool_symbol_resource target)
    set(note ${CMAKE_CURRENT_BINARY_DIR}/${target}.symbols.note)
    add_custom_command(TARGET ${target} POST_BUILD
        COMMAND symbol_resource $<TARGET_FILE:${target}> --note ${note}
        COMMAND ${CMAKE_OBJCOPY} --remove-section .note.EXCEPT --add-section .note.EXCEPT=${note}
                $<TARGET_FILE:${target}>
        COMMENT "Writing the symbol resource into ${target}"
        VERBATIM)
    add_dependencies(${target} symbol_resource)
endfunction()

function(skintool_symbol_file target)
    add_custom_command(TARGET ${target} POST_BUILD
        COMMAND symbol_resource $<TARGET_FILE:${target}> --jdbg $<TARGET_FILE:${target}>.jdbg
        COMMENT "Writing the symbol file beside ${target}"
        VERBATIM)
    add_dependencies(${target} symbol_resource)
endfunction()
