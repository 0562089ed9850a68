// The operator's line editor: the line being typed, its cursor, a history
// of finished lines and tab completion. It owns no terminal: a back end
// decodes the input into one key operation per key and supplies the
// primitives the editor writes through.
#ifndef TARN_CONSOLE_TEXT_CONSOLE_H
#define TARN_CONSOLE_TEXT_CONSOLE_H

#include "common/limits.h"

#include <cstdint>

class IBaseSystem;

class CTextConsole {
public:
    static constexpr int kLineSize = 256;
    // Kept for compatibility: a longer typed line is cut, which engines
    // and operators' scripts expect.
    static constexpr int kMaxLineLength = kMaxConsoleLine;  // characters a typed line may hold
    static constexpr int kHistorySize = 30;

    virtual ~CTextConsole() {}

    // Readies the editor as Prepare does and announces the console. Always
    // true.
    virtual bool Init(IBaseSystem* system);
    virtual void ShutDown() {}
    // Prints a message over the line being typed, then draws the line again.
    virtual void Print(const char* message);
    virtual void SetTitle(const char*) {}
    virtual void SetStatusLine(const char*) {}
    virtual void UpdateStatus() {}

    // Length convention of the two primitives: 0 writes the NUL-terminated
    // text whole, a positive length exactly that many bytes, a negative
    // length nothing.
    virtual void PrintRaw(const char* text, int length) = 0;  // the program's output
    virtual void Echo(const char* text, int length) = 0;      // the echo channel
    // A finished line, or null; never waits.
    virtual char* GetLine() = 0;
    virtual int GetWidth() = 0;

    virtual void SetVisible(bool visibility) { visible = visibility; }
    virtual bool IsVisible() { return visible; }

    // One per decoded key. ReceiveNewline returns the length of the finished
    // line, which then stands NUL-terminated in lineBuffer, or 0 for an
    // empty line.
    int ReceiveNewline();
    void ReceiveBackspace();
    void ReceiveTab();
    void ReceiveStandardChar(char ch);
    void ReceiveUpArrow();
    void ReceiveDownArrow();
    void ReceiveLeftArrow();
    void ReceiveRightArrow();

protected:
    // Takes the completion provider (may be null), empties the line and the
    // history, and shows the console.
    void Prepare(IBaseSystem* system);

    char lineBuffer[kLineSize];
    int32_t lineLength;      // characters in the line, at most kMaxLineLength when typed
    int32_t cursorPosition;  // insertion point, 0 to lineLength
    char savedLine[kLineSize];  // the typed line, kept while browsing the history
    int32_t savedLineLength;
    char history[kHistorySize][kLineSize];  // ring of finished lines, NUL-terminated
    int32_t historyWriteIndex;   // slot of the next stored line
    int32_t historyBrowseIndex;  // slot shown; historyWriteIndex when not browsing
    int32_t historyCount;        // slots filled, up to kHistorySize
    bool visible;
    IBaseSystem* completionProvider;  // not owned; may be null

private:
    void EchoRepeated(const char* text, int times);
    void StoreInHistory();
    void ShowLine(const char* text, int length);
    bool CompleteSingle(const char* completion);
    void ListCompletions(class ObjectList& completions);
};

#endif
