#include "interface/module_file.h"

#include <elf.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// More program headers than any module has; a larger count is no module.
constexpr unsigned kMaxProgramHeaders = 4096;

bool ReadAt(int fd, void* buffer, size_t size, off_t offset)
{
    return pread(fd, buffer, size, offset) == static_cast<ssize_t>(size);
}

// Checks the loadable segments of an ELF file of one class.
template <typename Header, typename ProgramHeader>
bool SegmentsInside(int fd, unsigned long long fileSize)
{
    Header header;
    if (!ReadAt(fd, &header, sizeof(header), 0))
        return false;  // shorter than its own header
    if (header.e_phentsize != sizeof(ProgramHeader) || header.e_phnum > kMaxProgramHeaders)
        return true;   // not a layout this check understands
    for (unsigned i = 0; i < header.e_phnum; ++i) {
        ProgramHeader segment;
        if (!ReadAt(fd, &segment, sizeof(segment), header.e_phoff + i * sizeof(segment)))
            return false;
        unsigned long long end =
            static_cast<unsigned long long>(segment.p_offset) + segment.p_filesz;
        if (segment.p_type == PT_LOAD && end > fileSize)
            return false;
    }
    return true;
}

bool Whole(int fd)
{
    struct stat status;
    unsigned char ident[EI_NIDENT];
    if (fstat(fd, &status) != 0 || !S_ISREG(status.st_mode) ||
        !ReadAt(fd, ident, sizeof(ident), 0))
        return true;
    bool elf = ident[EI_MAG0] == ELFMAG0 && ident[EI_MAG1] == ELFMAG1 &&
               ident[EI_MAG2] == ELFMAG2 && ident[EI_MAG3] == ELFMAG3 &&
               ident[EI_DATA] == ELFDATA2LSB;
    if (!elf)
        return true;
    unsigned long long size = static_cast<unsigned long long>(status.st_size);
    if (ident[EI_CLASS] == ELFCLASS32)
        return SegmentsInside<Elf32_Ehdr, Elf32_Phdr>(fd, size);
    if (ident[EI_CLASS] == ELFCLASS64)
        return SegmentsInside<Elf64_Ehdr, Elf64_Phdr>(fd, size);
    return true;
}

}  // namespace

bool Module_FileIsWhole(const char* path)
{
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return true;
    bool whole = Whole(fd);
    close(fd);
    return whole;
}
