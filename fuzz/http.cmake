# Answers of web servers and bug trackers.
skintool_fuzzer(fuzz_http_answer fuzz_http_answer.cpp crash_http)
