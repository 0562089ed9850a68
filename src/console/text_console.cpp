#include "console/text_console.h"

#include "common/format_cut.h"
#include "common/object_list.h"
#include "console/base_system.h"
#include "output/sys_printf.h"

#include <cstdio>
#include <cstring>

namespace {

const char* const kNewline = "\n";
const char* const kCursorLeft = "\b";
const char* const kBlank = " ";
const char* const kEraseLeft = "\b \b";

// Length of text, reading at most limit bytes of it.
int BoundedLength(const char* text, int limit)
{
    int length = 0;
    while (length < limit && text[length])
        ++length;
    return length;
}

}  // namespace

// --- setup and messages ---------------------------------------------------------

bool CTextConsole::Init(IBaseSystem* system)
{
    Prepare(system);
    Sys_Printf("\n");
    Sys_Printf("Console initialized.\n");
    return true;
}

void CTextConsole::Prepare(IBaseSystem* system)
{
    completionProvider = system;
    std::memset(lineBuffer, 0, sizeof(lineBuffer));
    lineLength = 0;
    cursorPosition = 0;
    std::memset(savedLine, 0, sizeof(savedLine));
    savedLineLength = 0;
    std::memset(history, 0, sizeof(history));
    historyCount = 0;
    historyWriteIndex = 0;
    historyBrowseIndex = 0;
    visible = true;
}

// Erases the typed line, prints the message, and draws the line again after
// it, assuming the terminal cursor stood at the end of the line.
void CTextConsole::Print(const char* message)
{
    for (int i = 0; i < lineLength; ++i)
        PrintRaw(kEraseLeft, 0);
    PrintRaw(message, 0);
    if (lineLength != 0)
        PrintRaw(lineBuffer, lineLength);
    UpdateStatus();
}

void CTextConsole::EchoRepeated(const char* text, int times)
{
    for (int i = 0; i < times; ++i)
        Echo(text, 0);
}

// --- editing keys -----------------------------------------------------------------

void CTextConsole::ReceiveStandardChar(char ch)
{
    if (lineLength >= kMaxLineLength)
        return;
    std::memmove(lineBuffer + cursorPosition + 1, lineBuffer + cursorPosition,
                 lineLength - cursorPosition);
    lineBuffer[cursorPosition] = ch;
    Echo(lineBuffer + cursorPosition, lineLength - cursorPosition + 1);
    ++lineLength;
    ++cursorPosition;
    EchoRepeated(kCursorLeft, lineLength - cursorPosition);
    historyBrowseIndex = historyWriteIndex;
}

void CTextConsole::ReceiveBackspace()
{
    if (cursorPosition == 0)
        return;
    --cursorPosition;
    --lineLength;
    Echo(kCursorLeft, 0);
    for (int i = cursorPosition; i < lineLength; ++i) {
        lineBuffer[i] = lineBuffer[i + 1];
        Echo(lineBuffer + i, 1);
    }
    Echo(kBlank, 0);
    EchoRepeated(kCursorLeft, lineLength - cursorPosition + 1);
    historyBrowseIndex = historyWriteIndex;
}

void CTextConsole::ReceiveLeftArrow()
{
    if (cursorPosition == 0)
        return;
    Echo(kCursorLeft, 0);
    --cursorPosition;
}

void CTextConsole::ReceiveRightArrow()
{
    if (cursorPosition == lineLength)
        return;
    Echo(lineBuffer + cursorPosition, 1);
    ++cursorPosition;
}

// --- finishing a line and the history ----------------------------------------------

int CTextConsole::ReceiveNewline()
{
    Echo(kNewline, 0);
    if (lineLength == 0)
        return 0;
    lineBuffer[lineLength] = '\0';
    int length = lineLength;
    lineLength = 0;
    cursorPosition = 0;
    // Right after the ring wrapped there is no previous line to compare.
    bool repeated = historyWriteIndex != 0 &&
                    std::strcmp(history[historyWriteIndex - 1], lineBuffer) == 0;
    if (!repeated)
        StoreInHistory();
    historyBrowseIndex = historyWriteIndex;
    return length;
}

void CTextConsole::StoreInHistory()
{
    std::snprintf(history[historyWriteIndex], kLineSize, "%s", lineBuffer);
    ++historyWriteIndex;
    if (historyCount < historyWriteIndex)
        historyCount = historyWriteIndex;
    if (historyWriteIndex == kHistorySize)
        historyWriteIndex = 0;
}

// Replaces the line on screen (already erased) and in the buffer by text.
void CTextConsole::ShowLine(const char* text, int length)
{
    if (length > 0) {
        std::memmove(lineBuffer, text, length);
        Echo(lineBuffer, length);
    }
    lineLength = length;
    cursorPosition = length;
}

void CTextConsole::ReceiveUpArrow()
{
    // In a full history the oldest line, at the write index, is never
    // shown: that position stands for the typed line.
    int stop = historyWriteIndex + 1 >= historyCount ? 0 : historyWriteIndex + 1;
    if (historyBrowseIndex == stop)
        return;
    if (historyBrowseIndex == historyWriteIndex) {
        std::memcpy(savedLine, lineBuffer, lineLength);
        savedLineLength = lineLength;
    }
    if (--historyBrowseIndex < 0)
        historyBrowseIndex = historyCount - 1;
    EchoRepeated(kEraseLeft, lineLength);
    const char* entry = history[historyBrowseIndex];
    ShowLine(entry, BoundedLength(entry, kLineSize - 1));
}

void CTextConsole::ReceiveDownArrow()
{
    if (historyBrowseIndex == historyWriteIndex)
        return;
    if (++historyBrowseIndex == kHistorySize)
        historyBrowseIndex = 0;
    EchoRepeated(kEraseLeft, lineLength);
    if (historyBrowseIndex == historyWriteIndex) {
        ShowLine(savedLine, savedLineLength);
        return;
    }
    const char* entry = history[historyBrowseIndex];
    ShowLine(entry, BoundedLength(entry, kLineSize - 1));
}

// --- completion -------------------------------------------------------------------

void CTextConsole::ReceiveTab()
{
    ObjectList completions;
    if (!completionProvider)
        return;
    lineBuffer[lineLength] = '\0';
    completionProvider->CollectCompletions(lineBuffer, &completions);
    if (completions.IsEmpty())
        return;
    if (completions.CountElements() == 1) {
        if (!CompleteSingle(static_cast<const char*>(completions.GetFirst())))
            return;
    } else {
        ListCompletions(completions);
    }
    cursorPosition = lineLength;
    historyBrowseIndex = historyWriteIndex;
}

// Appends the completion's tail and a blank. False, with nothing changed,
// when the completion is shorter than the line (a provider's mistake) or the
// completed line would pass the longest line.
bool CTextConsole::CompleteSingle(const char* completion)
{
    if (!completion || BoundedLength(completion, lineLength) < lineLength)
        return false;
    const char* tail = completion + lineLength;
    int tailLength = BoundedLength(tail, kMaxLineLength);
    if (lineLength + tailLength + 1 > kMaxLineLength)
        return false;
    Echo(tail, tailLength);
    std::memcpy(lineBuffer + lineLength, tail, tailLength);
    lineLength += tailLength;
    Echo(kBlank, 0);
    lineBuffer[lineLength++] = ' ';
    lineBuffer[lineLength] = '\0';
    return true;
}

// Lists the completions in columns below the line, then draws the line again.
void CTextConsole::ListCompletions(ObjectList& completions)
{
    int width = 0;
    for (void* item = completions.GetFirst(); item; item = completions.GetNext()) {
        int length = BoundedLength(static_cast<const char*>(item), kLineSize);
        if (length > width)
            width = length;
    }
    int columns = (GetWidth() - 1) / (width + 1);
    Echo(kNewline, 0);
    int column = 0;
    char cell[kLineSize];
    for (void* item = completions.GetFirst(); item; item = completions.GetNext()) {
        if (++column > columns) {
            Echo(kNewline, 0);
            column = 1;
        }
        Format_Cut(cell, sizeof(cell), "%-*.*s ", width, kLineSize - 1,
                  static_cast<const char*>(item));
        Echo(cell, 0);
    }
    Echo(kNewline, 0);
    Echo(lineBuffer, 0);
}
