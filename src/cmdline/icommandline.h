// The process's one command line: switches and values separated by spaces.
#ifndef TARN_CMDLINE_ICOMMANDLINE_H
#define TARN_CMDLINE_ICOMMANDLINE_H

// Switches are found by plain, case-sensitive substring search, and only the
// space character separates a switch from its value; quotes are ordinary
// characters. The slot order of the operations is fixed.
class ICommandLine {
public:
    // Replaces the string with text, each "@file" token replaced by the
    // file's contents (newlines become spaces). Null text: empty string.
    virtual void CreateCmdLine(const char* text) = 0;
    // Joins the arguments with spaces, quoting those that hold a space,
    // then builds as above.
    virtual void CreateCmdLine(int argc, const char** argv) = 0;
    // The current string; null before it was first created.
    virtual const char* GetCmdLine() = 0;
    // Where name first occurs in the string, or null. When value is given
    // and the name is found, *value points at the word after the name's
    // token (empty when there is none), in a buffer that the next call
    // overwrites.
    virtual const char* CheckParm(const char* name, char** value) = 0;
    // Deletes every occurrence of name with what follows it up to the next
    // "-" or "+", then trailing spaces.
    virtual void RemoveParm(const char* name) = 0;
    // Removes name, then appends " name" (and " value" when not null).
    virtual void AppendParm(const char* name, const char* value) = 0;
    virtual void SetParm(const char* name, const char* value) = 0;
    virtual void SetParm(const char* name, int value) = 0;
    virtual ~ICommandLine() {}
};

extern ICommandLine* cmdline;

// The value word of the switch that CheckParm found at match, as it stands
// in the command line: where it begins, and its length in *length.
// CheckParm's copy holds only the first 127 characters of a longer word, so
// a caller for whom a cut value would mean something else (another file)
// compares the two lengths.
const char* CmdLine_ValueWord(const char* match, unsigned* length);

#endif
