// symbol_resource: the crash reporter's symbol table of a linked program or library.
//
//   symbol_resource <elf> --note <out>   the table as an ELF note, for objcopy --add-section
//   symbol_resource <elf> --jdbg <out>   the table as a ".jdbg" file to lay beside a library

#include "SymbolTableBuilder.h"

#include <cstdio>
#include <cstring>
#include <fstream>

int main(int argc, char** argv)
{
    if (argc != 4 || (std::strcmp(argv[2], "--note") != 0 && std::strcmp(argv[2], "--jdbg") != 0)) {
        std::fprintf(stderr, "usage: symbol_resource <elf> (--note|--jdbg) <output>\n");
        return 2;
    }
    std::string error;
    const auto table = tools::BuildSymbolTable(argv[1], error);
    if (!table) {
        std::fprintf(stderr, "%s: %s\n", argv[1], error.c_str());
        return 1;
    }
    if (table->functions.empty())
        std::fprintf(stderr, "%s: no debug information, an empty symbol table is written\n", argv[1]);
    const std::vector<std::uint8_t> packed = table->Pack();
    if (packed.empty()) {
        std::fprintf(stderr, "%s: cannot pack the symbol table\n", argv[1]);
        return 1;
    }
    const std::vector<std::uint8_t> content =
        std::strcmp(argv[2], "--note") == 0 ? tools::SymbolNote(packed) : packed;
    std::ofstream out(argv[3], std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(content.data()), std::streamsize(content.size()));
    if (!out.flush()) {
        std::fprintf(stderr, "%s: cannot write\n", argv[3]);
        return 1;
    }
    return 0;
}
