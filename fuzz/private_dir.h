// A private working directory for a fuzz target that writes files which the
// code under test opens by relative name.
#ifndef TARN_FUZZ_PRIVATE_DIR_H
#define TARN_FUZZ_PRIVATE_DIR_H

// Creates the directory below $TMPDIR (or /tmp), empty, and remembers the
// directory the process started in. Also gives libFuzzer an absolute
// artifact prefix when it was given none, since a crash is written while the
// process stands in the private directory. For LLVMFuzzerInitialize.
void Fuzz_CreatePrivateDir(int* argc, char*** argv);

// Enters the private directory for one input and goes back to the starting
// directory when it ends, so that the paths libFuzzer was given (corpus
// directories, inputs) keep meaning what they meant.
class PrivateDirVisit {
public:
    PrivateDirVisit();
    ~PrivateDirVisit();
    PrivateDirVisit(const PrivateDirVisit&) = delete;
    PrivateDirVisit& operator=(const PrivateDirVisit&) = delete;
};

#endif
