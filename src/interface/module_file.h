// A check of a module file before the dynamic loader maps it.
#ifndef TARN_INTERFACE_MODULE_FILE_H
#define TARN_INTERFACE_MODULE_FILE_H

// False when path is an ELF file cut short: one of its loadable segments
// reaches past the end of the file. The loader maps such a file without
// looking and then faults on the missing pages, ending the whole process,
// so a cut module must be refused before it is loaded. Any other file,
// whole or unreadable or no ELF file at all, passes: the loader judges it
// and says why.
bool Module_FileIsWhole(const char* path);

#endif
