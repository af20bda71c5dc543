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

# skintool_form_resource(<target> <file.form> <NAME>)
# Links the form written in <file.form> (nested "object Name: TClass ... end" blocks) into <target>
# as the form stream resource <NAME>.
function(skintool_form_resource target form_file resource_name)
    get_filename_component(input ${form_file} ABSOLUTE)
    set(output ${CMAKE_CURRENT_BINARY_DIR}/${target}_${resource_name}_form.cpp)
    add_custom_command(OUTPUT ${output}
        COMMAND settings_compiler ${input} --form-source ${output} ${resource_name}
        DEPENDS settings_compiler ${input}
        COMMENT "Compiling form ${form_file} for ${target}"
        VERBATIM)
    target_sources(${target} PRIVATE ${output})
endfunction()
