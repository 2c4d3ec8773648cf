#include "cElfCheck.h"

#include <elf.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace {

#if __SIZEOF_POINTER__ == 8
using Ehdr = Elf64_Ehdr;
using Phdr = Elf64_Phdr;
constexpr unsigned char kClass = ELFCLASS64;
#else
using Ehdr = Elf32_Ehdr;
using Phdr = Elf32_Phdr;
constexpr unsigned char kClass = ELFCLASS32;
#endif

#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
constexpr unsigned char kData = ELFDATA2LSB;
#else
constexpr unsigned char kData = ELFDATA2MSB;
#endif

#if defined(__x86_64__)
constexpr unsigned kMachine = EM_X86_64;
#elif defined(__i386__)
constexpr unsigned kMachine = EM_386;
#elif defined(__aarch64__)
constexpr unsigned kMachine = EM_AARCH64;
#elif defined(__arm__)
constexpr unsigned kMachine = EM_ARM;
#elif defined(__riscv)
constexpr unsigned kMachine = EM_RISCV;
#elif defined(__powerpc64__)
constexpr unsigned kMachine = EM_PPC64;
#else
constexpr unsigned kMachine = 0; // not checked: the loader refuses a foreign machine itself
#endif

// Reads exactly `size` bytes at `offset`; short reads of a regular file only happen at its end.
bool readAt(int fd, void* to, size_t size, off_t offset)
{
    char* p = static_cast<char*>(to);
    while (size > 0) {
        const ssize_t n = pread(fd, p, size, offset);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        p += n;
        offset += n;
        size -= size_t(n);
    }
    return true;
}

// `offset` + `length` <= `fileSize`, without the sum overflowing.
bool inside(uint64_t offset, uint64_t length, uint64_t fileSize)
{
    return offset <= fileSize && length <= fileSize - offset;
}

class Fd
{
public:
    explicit Fd(int f) : fd(f) {}
    ~Fd()
    {
        if (fd >= 0)
            ::close(fd);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int fd;
};

} // namespace

bool cElfCheck::check(const char* path, std::string& reason)
{
    const std::string p = path;
    Fd file(::open(path, O_RDONLY | O_CLOEXEC));
    struct stat st;
    if (file.fd < 0 || fstat(file.fd, &st) != 0 || !S_ISREG(st.st_mode))
        return true;
    const uint64_t size = uint64_t(st.st_size);

    Ehdr eh;
    if (size < sizeof(eh) || !readAt(file.fd, &eh, sizeof(eh), 0)) {
        reason = p + ": file too short (" + std::to_string(size) + " bytes) for an ELF header";
        return false;
    }
    if (memcmp(eh.e_ident, ELFMAG, SELFMAG) != 0) {
        reason = p + ": not an ELF file";
        return false;
    }
    if (eh.e_ident[EI_CLASS] != kClass || eh.e_ident[EI_DATA] != kData) {
        reason = p + ": ELF class or byte order does not match this program";
        return false;
    }
    if (eh.e_type != ET_DYN) {
        reason = p + ": not an ELF shared object";
        return false;
    }
    if (kMachine != 0 && eh.e_machine != kMachine) {
        reason = p + ": built for another machine (ELF machine " + std::to_string(eh.e_machine) + ")";
        return false;
    }
    if (eh.e_phnum == 0 || eh.e_phentsize != sizeof(Phdr)) {
        reason = p + ": no usable program header table";
        return false;
    }
    const uint64_t phSize = uint64_t(eh.e_phnum) * sizeof(Phdr);
    if (!inside(eh.e_phoff, phSize, size)) {
        reason = p + ": file too short (" + std::to_string(size) + " bytes): its program headers end at byte " +
                 std::to_string(uint64_t(eh.e_phoff) + phSize);
        return false;
    }
    std::vector<Phdr> ph(eh.e_phnum);
    if (!readAt(file.fd, ph.data(), phSize, off_t(eh.e_phoff))) {
        reason = p + ": cannot read its program headers";
        return false;
    }
    bool loadable = false;
    for (const Phdr& h : ph) {
        // Every segment the loader may read from the file, not only the mapped ones: the
        // dynamic section and notes are read through the mappings too.
        if (h.p_type == PT_NULL || h.p_filesz == 0)
            continue;
        loadable = loadable || h.p_type == PT_LOAD;
        if (!inside(h.p_offset, h.p_filesz, size)) {
            reason = p + ": file too short (" + std::to_string(size) + " bytes): a " +
                     (h.p_type == PT_LOAD ? "loadable segment" : "segment") + " ends at byte " +
                     std::to_string(uint64_t(h.p_offset) + uint64_t(h.p_filesz));
            return false;
        }
    }
    if (!loadable) {
        reason = p + ": no loadable segment";
        return false;
    }
    // The loader does not need the section headers, but they sit at the very end of a
    // linked file: a file cut anywhere after its segments is still not the file it was.
    if (eh.e_shoff != 0) {
        const uint64_t shSize = uint64_t(eh.e_shnum) * eh.e_shentsize;
        if (!inside(eh.e_shoff, shSize, size)) {
            reason = p + ": file too short (" + std::to_string(size) + " bytes): its section headers end at byte " +
                     std::to_string(uint64_t(eh.e_shoff) + shSize);
            return false;
        }
    }
    return true;
}
