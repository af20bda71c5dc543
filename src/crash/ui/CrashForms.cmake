# crash_ui_forms(<target>)
# Links the three assistant forms into <target> (the executable) as form stream resources, the way
# the settings are carried.
include(${PROJECT_SOURCE_DIR}/tools/settings-compiler/SettingsResource.cmake)
function(crash_ui_forms target)
    foreach(form IN ITEMS ContactForm DetailsForm ScrShotForm)
        skintool_form_resource(${target} ${PROJECT_SOURCE_DIR}/src/crash/ui/forms/${form}.form ${form})
    endforeach()
endfunction()
