# Call-stack tracing: the packed symbol table, the linker map reader, the call-instruction check,
# the chain choice over any code and stack.
skintool_fuzzer(fuzz_symbol_table fuzz_symbol_table.cpp crash_stack)
skintool_fuzzer(fuzz_linker_map fuzz_linker_map.cpp crash_stack)
skintool_fuzzer(fuzz_call_instruction fuzz_call_instruction.cpp crash_stack)
skintool_fuzzer(fuzz_stack_chain fuzz_stack_chain.cpp crash_stack)
