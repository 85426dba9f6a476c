// What the support tool needs of the console and of processes, without the system's headers:
// whether a standard stream is a console, the console's control events, the keys pressed, a
// line read meanwhile, the identity of processes and the local time.
#pragma once

#include <cstdint>
#include <memory>

namespace vpolv::win {

enum class Stream { Input, Output, Error };
bool isConsole(Stream stream);

// Ctrl+C or Ctrl+Break (Interrupt); a closed console window, a log-off or a shutdown (Close).
enum class ControlEvent { Interrupt, Close };
// Returns true when it dealt with the event: the handlers added before it, the runtime's and the
// system's (which ends the process) are then not asked.
using ControlHandler = bool (*)(ControlEvent event);
// Adds a handler, asked before the ones added earlier; removes it.
void addControlHandler(ControlHandler handler);
void removeControlHandler(ControlHandler handler);

// Waits up to milliseconds for a key on the console of standard input; true when Enter was
// pressed (what was typed is read and dropped).
bool waitForEnter(unsigned milliseconds);

// A line read from standard input that is not a console, on a thread of its own so that the
// caller goes on meanwhile. The thread ends with the line or the input's end; a thread still
// reading when the reader is destroyed has its read cancelled.
class LineReader {
  public:
    LineReader();
    ~LineReader();
    LineReader(const LineReader&) = delete;
    LineReader& operator=(const LineReader&) = delete;
    bool done() const;

  private:
    struct Thread;
    std::unique_ptr<Thread> thread_;
};

// A process's id and creation time (0 when it cannot be read); this process's by default.
unsigned long processId();
std::uint64_t processStarted();
// Whether the process of this id runs and was created at started (any time when 0): a process
// of another user's, which this one may not look at, counts as running.
bool processRunning(unsigned long id, std::uint64_t started);

struct LocalTime {
    unsigned year, month, day, hour, minute, second;
};
LocalTime localTime();

}  // namespace vpolv::win
