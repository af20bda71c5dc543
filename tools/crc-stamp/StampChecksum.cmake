# skintool_stamp_checksum(<target>): after linking, store the executable's checksum in its note.
# Call it after every other step that rewrites the file after linking (the symbol resource).
include_guard(GLOBAL)
function(skintool_stamp_checksum target)
    add_dependencies(${target} crc_stamp)
    add_custom_command(TARGET ${target} POST_BUILD COMMAND crc_stamp $<TARGET_FILE:${target}>
                       COMMENT "Stamping the checksum of ${target}" VERBATIM)
endfunction()
