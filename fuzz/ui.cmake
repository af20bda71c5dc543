# The crash windows' inputs: assistant form streams. Seeds: fuzz/corpus/form_stream (settings_compiler --form-binary).
skintool_fuzzer(fuzz_form_stream ${CMAKE_CURRENT_SOURCE_DIR}/fuzz_form_stream.cpp crash_ui)
# The request file a dialog process reads. Seeds: fuzz/corpus/dialog_request (request files as the
# waiting thread writes them).
skintool_fuzzer(fuzz_dialog_request ${CMAKE_CURRENT_SOURCE_DIR}/fuzz_dialog_request.cpp crash_ui)
