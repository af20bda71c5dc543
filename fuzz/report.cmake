# The report file merge with any existing file content.
skintool_fuzzer(fuzz_report_file_merge ${CMAKE_CURRENT_LIST_DIR}/fuzz_report_file_merge.cpp crash_report)
