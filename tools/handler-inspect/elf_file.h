// elf_file.h - what can be learnt of a library from its file alone, without
// loading it: whether its headers are whole and for this machine, the
// symbols it exports, and its hardening.
#ifndef HANDLER_INSPECT_ELF_FILE_H
#define HANDLER_INSPECT_ELF_FILE_H

#include <string>
#include <vector>

namespace handler_inspect {

struct Elf_Facts {
    std::vector<std::string> exported; ///< defined, default-visible dynamic symbols
    bool has_dynamic_symbols = false;  ///< the file has a .dynsym section to read
    bool relro = false;                ///< a PT_GNU_RELRO segment
    bool bind_now = false;             ///< DF_BIND_NOW or DF_1_NOW
    bool text_relocations = false;     ///< DT_TEXTREL or DF_TEXTREL
    bool executable_stack = true;      ///< no PT_GNU_STACK, or one marked executable
};

/// Why `path` cannot be a loadable library for this machine (not a regular
/// file, too short, not ELF, another class or machine, headers that reach
/// past the end of the file), or "" when nothing is wrong with its headers.
std::string elf_problem(const std::string& path);

/// Reads the facts of a file that elf_problem() accepted; throws
/// std::runtime_error when a table it reads is out of bounds.
Elf_Facts read_elf_facts(const std::string& path);

} // namespace handler_inspect

#endif // HANDLER_INSPECT_ELF_FILE_H
