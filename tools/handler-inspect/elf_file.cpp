#include "elf_file.h"

#include <elf.h>
#include <sys/stat.h>

#include <array>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <utility>

namespace handler_inspect {

namespace {

#if defined(__aarch64__)
constexpr unsigned host_machine = EM_AARCH64;
#elif defined(__x86_64__)
constexpr unsigned host_machine = EM_X86_64;
#else
#error "handler-inspect knows the ELF machine of aarch64 and x86_64 hosts only"
#endif

std::string machine_name(unsigned machine)
{
    switch (machine) {
    case EM_X86_64: return "x86-64";
    case EM_AARCH64: return "AArch64";
    case EM_386: return "x86";
    case EM_ARM: return "ARM";
    case EM_RISCV: return "RISC-V";
    case EM_PPC64: return "PowerPC64";
    case EM_S390: return "S/390";
    default: return "ELF machine " + std::to_string(machine);
    }
}

/// The file's bytes, with bounds-checked reads.
class Image {
public:
    explicit Image(const std::string& path)
    {
        std::ifstream file(path, std::ios::binary);
        if (!file) {
            throw std::runtime_error(std::strerror(errno));
        }
        bytes_.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
        if (file.bad()) {
            throw std::runtime_error("cannot read the file");
        }
    }

    std::uint64_t size() const noexcept { return bytes_.size(); }

    /// Whether `count` items of `each` bytes from `offset` lie inside the file.
    bool holds(std::uint64_t offset, std::uint64_t count, std::uint64_t each) const noexcept
    {
        if (offset > size()) {
            return false;
        }
        return each == 0 || count <= (size() - offset) / each;
    }

    template <class T>
    T at(std::uint64_t offset) const
    {
        if (!holds(offset, 1, sizeof(T))) {
            throw std::runtime_error("a table reaches past the end of the file");
        }
        T value{};
        std::memcpy(&value, bytes_.data() + offset, sizeof value);
        return value;
    }

    std::string string_at(std::uint64_t table, std::uint64_t table_size, std::uint64_t index) const
    {
        if (index >= table_size || !holds(table, table_size, 1)) {
            throw std::runtime_error("a symbol name lies outside its string table");
        }
        const char* begin = bytes_.data() + table + index;
        const auto* end = static_cast<const char*>(std::memchr(begin, '\0', table_size - index));
        if (end == nullptr) {
            throw std::runtime_error("a symbol name is not terminated");
        }
        return {begin, end};
    }

private:
    std::string bytes_;
};

std::string header_problem(const Image& image)
{
    if (image.size() < EI_NIDENT) {
        return "not an ELF file (" + std::to_string(image.size()) + " bytes)";
    }
    const auto ident = image.at<std::array<unsigned char, EI_NIDENT>>(0);
    if (std::memcmp(ident.data(), ELFMAG, SELFMAG) != 0) {
        return "not an ELF file";
    }
    if (ident[EI_CLASS] != ELFCLASS64) {
        return "a 32-bit ELF file, and this machine runs 64-bit code";
    }
    if (ident[EI_DATA] != ELFDATA2LSB) {
        return "a big-endian ELF file, and this machine is little-endian";
    }
    if (image.size() < sizeof(Elf64_Ehdr)) {
        return "truncated: " + std::to_string(image.size()) + " bytes, less than an ELF header";
    }
    const auto header = image.at<Elf64_Ehdr>(0);
    if (header.e_machine != host_machine) {
        return "built for " + machine_name(header.e_machine) + ", and this machine is " +
               machine_name(host_machine);
    }
    if (header.e_type != ET_DYN) {
        return "not a shared object (ELF type " + std::to_string(header.e_type) + ")";
    }
    if (header.e_phentsize != sizeof(Elf64_Phdr) || header.e_phnum == 0) {
        return "corrupt: no usable program header table";
    }
    if (!image.holds(header.e_phoff, header.e_phnum, sizeof(Elf64_Phdr))) {
        return "truncated: the program headers reach past the end of the file (" +
               std::to_string(image.size()) + " bytes)";
    }
    for (std::uint16_t i = 0; i < header.e_phnum; ++i) {
        const auto segment = image.at<Elf64_Phdr>(header.e_phoff + i * sizeof(Elf64_Phdr));
        if ((segment.p_type == PT_LOAD || segment.p_type == PT_DYNAMIC) &&
            !image.holds(segment.p_offset, segment.p_filesz, 1)) {
            return "truncated: segment " + std::to_string(i) +
                   " reaches past the end of the file (" + std::to_string(image.size()) + " bytes)";
        }
        if (segment.p_type == PT_LOAD && segment.p_filesz > segment.p_memsz) {
            return "corrupt: segment " + std::to_string(i) +
                   " is larger in the file than in memory";
        }
    }
    if (header.e_shoff != 0 && (header.e_shentsize != sizeof(Elf64_Shdr) ||
                                !image.holds(header.e_shoff, header.e_shnum, sizeof(Elf64_Shdr)))) {
        return "truncated: the section headers reach past the end of the file (" +
               std::to_string(image.size()) + " bytes)";
    }
    return "";
}

} // namespace

std::string elf_problem(const std::string& path)
{
    struct stat info {};
    if (stat(path.c_str(), &info) != 0) {
        return std::strerror(errno);
    }
    if (!S_ISREG(info.st_mode)) {
        return "not a regular file";
    }
    try {
        return header_problem(Image(path));
    } catch (const std::exception& error) {
        return error.what();
    }
}

Elf_Facts read_elf_facts(const std::string& path)
{
    const Image image(path);
    const auto header = image.at<Elf64_Ehdr>(0);
    Elf_Facts facts;

    for (std::uint16_t i = 0; i < header.e_phnum; ++i) {
        const auto segment = image.at<Elf64_Phdr>(header.e_phoff + i * sizeof(Elf64_Phdr));
        if (segment.p_type == PT_GNU_RELRO) {
            facts.relro = true;
        } else if (segment.p_type == PT_GNU_STACK) {
            facts.executable_stack = (segment.p_flags & PF_X) != 0;
        } else if (segment.p_type == PT_DYNAMIC) {
            for (std::uint64_t at = segment.p_offset;
                 at + sizeof(Elf64_Dyn) <= segment.p_offset + segment.p_filesz;
                 at += sizeof(Elf64_Dyn)) {
                const auto entry = image.at<Elf64_Dyn>(at);
                // NOLINTNEXTLINE(cppcoreguidelines-pro-type-union-access): the ELF layout
                const auto value = entry.d_un.d_val;
                if (entry.d_tag == DT_NULL) {
                    break;
                }
                if (entry.d_tag == DT_TEXTREL ||
                    (entry.d_tag == DT_FLAGS && (value & DF_TEXTREL) != 0)) {
                    facts.text_relocations = true;
                }
                if ((entry.d_tag == DT_FLAGS && (value & DF_BIND_NOW) != 0) ||
                    (entry.d_tag == DT_FLAGS_1 && (value & DF_1_NOW) != 0) ||
                    entry.d_tag == DT_BIND_NOW) {
                    facts.bind_now = true;
                }
            }
        }
    }

    for (std::uint16_t i = 0; header.e_shoff != 0 && i < header.e_shnum; ++i) {
        const auto section = image.at<Elf64_Shdr>(header.e_shoff + i * sizeof(Elf64_Shdr));
        if (section.sh_type != SHT_DYNSYM) {
            continue;
        }
        if (section.sh_entsize != sizeof(Elf64_Sym) || section.sh_link >= header.e_shnum) {
            throw std::runtime_error("corrupt dynamic symbol table");
        }
        const auto strings =
            image.at<Elf64_Shdr>(header.e_shoff + section.sh_link * sizeof(Elf64_Shdr));
        facts.has_dynamic_symbols = true;
        for (std::uint64_t at = section.sh_offset + sizeof(Elf64_Sym);
             at + sizeof(Elf64_Sym) <= section.sh_offset + section.sh_size;
             at += sizeof(Elf64_Sym)) {
            const auto symbol = image.at<Elf64_Sym>(at);
            const unsigned binding = ELF64_ST_BIND(symbol.st_info);
            if (symbol.st_shndx == SHN_UNDEF ||
                (binding != STB_GLOBAL && binding != STB_WEAK && binding != STB_GNU_UNIQUE) ||
                ELF64_ST_VISIBILITY(symbol.st_other) != STV_DEFAULT) {
                continue;
            }
            facts.exported.push_back(
                image.string_at(strings.sh_offset, strings.sh_size, symbol.st_name));
        }
    }
    return facts;
}

} // namespace handler_inspect
