# The crash windows' inputs: assistant form streams. Seeds: fuzz/corpus/form_stream (settings_compiler --form-binary).
skintool_fuzzer(fuzz_form_stream ${CMAKE_CURRENT_SOURCE_DIR}/fuzz_form_stream.cpp crash_ui)
