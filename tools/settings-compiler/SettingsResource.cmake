# skintool_settings_resource(<target> <file.settings>)
# Links the settings written in <file.settings> into <target> as its settings resource; the build
# reruns the converter whenever the text changes.
include_guard(GLOBAL)

function(skintool_settings_resource target settings_file)
    get_filename_component(input ${settings_file} ABSOLUTE)
    set(output ${CMAKE_CURRENT_BINARY_DIR}/${target}_settings_resource.cpp)
    add_custom_command(OUTPUT ${output}
        COMMAND settings_compiler ${input} --source ${output}
        DEPENDS settings_compiler ${input}
        COMMENT "Compiling settings ${settings_file} for ${target}"
        VERBATIM)
    target_sources(${target} PRIVATE ${output})
endfunction()
