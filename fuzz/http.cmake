# Answers of web servers and bug trackers.
skintool_fuzzer(fuzz_http_answer fuzz_http_answer.cpp crash_http)
# An answer's head and body as the transfer hands them over, within the answer limit.
skintool_fuzzer(fuzz_http_head fuzz_http_head.cpp crash_http)
# The values the tracker uploads take from the trackers' answers.
skintool_fuzzer(fuzz_tracker_values fuzz_tracker_values.cpp crash_http)
