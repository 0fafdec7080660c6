#pragma once

#include <atomic>

namespace devsim {

// Faults a test can switch on for the file services' data connections ("dir", "copy", "getfile").
// Read on the device thread, set from any thread; -1 / 0 / false means off.
struct FileFaults {
    std::atomic<long long> silenceAfterBytes{-1};  // stop sending and answering after this many bytes
    std::atomic<long long> closeAfterBytes{-1};    // close the data connection after this many bytes
    std::atomic<long long> shellErrorAfterBytes{
        -1};                                // report "error" on the shell after this many, then go silent
    std::atomic<bool> answerExists{false};  // "copy" answers "exists" even for a new file
    std::atomic<bool> answerError{false};   // "copy" and "getfile" answer "error"
    std::atomic<int> doneAfterBlocks{-1};   // "copy" answers "done" after this many blocks
    std::atomic<int> slowReaderMs{0};       // every piece the device receives waits this long
};

}  // namespace devsim
