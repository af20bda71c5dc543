# Report delivery: DNS answers and SMTP replies come from the network and are read defensively.
#   build-fuzz/bin/fuzz_dns_reply -max_total_time=60 fuzz/corpus/dns_reply
#   build-fuzz/bin/fuzz_smtp_reply -max_total_time=60 fuzz/corpus/smtp_reply
skintool_fuzzer(fuzz_dns_reply fuzz_dns_reply.cpp crash_send)
skintool_fuzzer(fuzz_smtp_reply fuzz_smtp_reply.cpp crash_send)
# The desktop entry of the mail handler: its Exec line becomes the command that gets the link.
skintool_fuzzer(fuzz_desktop_entry fuzz_desktop_entry.cpp crash_send)
