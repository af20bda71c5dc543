# Mailing a 5 MB report attachment with the built-in SMTP client against curl (needs aiosmtpd, curl).
find_package(Qt6 REQUIRED COMPONENTS Network)
add_executable(bench_smtp bench_smtp.cpp)
target_link_libraries(bench_smtp PRIVATE crash_send Qt6::Network)
target_compile_definitions(bench_smtp PRIVATE SKINTOOL_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
