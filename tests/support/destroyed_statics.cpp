// Sanitizer builds only: every static object of the program that exit
// destroys is poisoned for AddressSanitizer as soon as its destructor has
// returned, so that a later read or write of it (a destructor run later in
// exit that reaches an object already destroyed) is reported as
// "use-after-poison", as a read of freed heap memory is. On its own the
// sanitizer sees nothing there: a destroyed static object keeps its storage.
// The daemon of the sanitizer build is linked with it, so every end-to-end
// test, which fails on any report of the daemon, checks its exit too.
//
// The program is linked with -Wl,--wrap=__cxa_atexit: each registration its
// own code makes (one per static object with a destructor, made when the
// object has been constructed) comes here, and the destructor is registered
// through a step that runs it and then poisons the object. The object's size
// is that of the data symbol at its address in the program's own symbol table
// (every static object, a function-local one too, has one); an object the
// table does not name is destroyed and left as it is.
#include <cstddef>
#include <cstdint>
#include <elf.h>
#include <fcntl.h>
#include <link.h>
#include <sanitizer/asan_interface.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

// The C library's registration, as the linker names it under --wrap.
// NOLINTNEXTLINE(bugprone-reserved-identifier)
extern "C" int __real___cxa_atexit(void (*destructor)(void*), void* object, void* dso);

namespace
{

// Nothing in this file has a destructor: it works until the end of exit.
struct Registration {
    void (*destructor)(void*);
    void* object;
};
// Far more than the daemon has; later ones are registered unchecked.
constexpr std::size_t kRegistrations = 4096;
Registration registrations[kRegistrations];
std::size_t registered = 0;

// The program's own ELF class (32 or 64 bits).
using FileHeader = ElfW(Ehdr);
using SectionHeader = ElfW(Shdr);
using Symbol = ElfW(Sym);

// The program's symbol table, mapped at the first look and kept until the end.
const Symbol* symbols = nullptr;
std::size_t symbolCount = 0;
std::uintptr_t loadBias = 0;
bool tableRead = false;

int take_program_bias(dl_phdr_info* info, std::size_t, void* bias)
{
    *static_cast<std::uintptr_t*>(bias) = info->dlpi_addr;
    return 1; // the program itself is the first object listed
}

void read_symbol_table()
{
    tableRead = true;
    const int fd = ::open("/proc/self/exe", O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return;
    struct stat file = {};
    void* image = MAP_FAILED;
    if (::fstat(fd, &file) == 0 && std::size_t(file.st_size) >= sizeof(FileHeader))
        image = ::mmap(nullptr, std::size_t(file.st_size), PROT_READ, MAP_PRIVATE, fd, 0);
    ::close(fd);
    if (image == MAP_FAILED)
        return;
    const auto* bytes = static_cast<const unsigned char*>(image);
    const std::size_t size = std::size_t(file.st_size);
    const auto* header = reinterpret_cast<const FileHeader*>(bytes);
    if (header->e_shoff + std::size_t(header->e_shnum) * sizeof(SectionHeader) > size)
        return;
    const auto* sections = reinterpret_cast<const SectionHeader*>(bytes + header->e_shoff);
    for (unsigned i = 0; i < header->e_shnum; ++i) {
        if (sections[i].sh_type == SHT_SYMTAB && sections[i].sh_offset + sections[i].sh_size <= size) {
            symbols = reinterpret_cast<const Symbol*>(bytes + sections[i].sh_offset);
            symbolCount = sections[i].sh_size / sizeof(Symbol);
        }
    }
    ::dl_iterate_phdr(take_program_bias, &loadBias);
}

// The size of the data symbol that starts at the object, 0 when none does.
std::size_t object_size(const void* object)
{
    if (!tableRead)
        read_symbol_table();
    const std::uintptr_t at = reinterpret_cast<std::uintptr_t>(object);
    for (std::size_t i = 0; i < symbolCount; ++i) {
        const Symbol& s = symbols[i];
        // The type is st_info's low four bits, in 32-bit and 64-bit tables alike.
        if ((s.st_info & 0xf) == STT_OBJECT && s.st_size != 0 && loadBias + s.st_value == at)
            return std::size_t(s.st_size);
    }
    return 0;
}

void destroy_and_poison(void* registration)
{
    const Registration& r = *static_cast<const Registration*>(registration);
    r.destructor(r.object);
    if (const std::size_t size = r.object ? object_size(r.object) : 0)
        __asan_poison_memory_region(r.object, size);
}

} // namespace

// Every registration of the program's own code, as the linker names it under --wrap.
// NOLINTNEXTLINE(bugprone-reserved-identifier)
extern "C" int __wrap___cxa_atexit(void (*destructor)(void*), void* object, void* dso)
{
    if (registered == kRegistrations)
        return __real___cxa_atexit(destructor, object, dso);
    registrations[registered] = Registration{destructor, object};
    return __real___cxa_atexit(destroy_and_poison, &registrations[registered++], dso);
}
