#ifndef VISOR_CHANNEL_LINE_CHANNEL_H_
#define VISOR_CHANNEL_LINE_CHANNEL_H_

// The line channel between the generator (client) and the front end
// (server): one line in flight at a time, each acknowledged after the
// receiver has stored it, and "-EOT-" to end the stream. The sender may
// make its next line while one is in flight, but posts it only once that
// one is acknowledged (post_line). The transport is an in-process one-line
// mailbox whose counts, length and first bytes of text share one cache
// line, so that a line and its acknowledgement cross between the two CPUs
// once each way. While connected, each side keeps to its own part of the
// CPUs; a wait spins for a bounded time and then sleeps (WaitWord), so
// neither side makes a system call while the other answers at once, nor
// burns a CPU while the other cannot.

#include <cstddef>
#include <cstdint>

#include "platform/thread_cpus.h"
#include "platform/wait_word.h"

// Largest line the generator formats, its terminating NUL included. Every
// line up to LINE_CAPACITY - 1 bytes crosses whole and is acknowledged once.
inline constexpr size_t LINE_CAPACITY = 256;

// The receiver's line buffer: room for any line that crosses.
inline constexpr size_t LINE_BUFFER_SIZE = LINE_CAPACITY;

inline constexpr char END_MARKER[] = "-EOT-";
inline constexpr size_t END_MARKER_LENGTH = sizeof END_MARKER - 1;

// What crosses for each line. In the counts the top bit says that side has
// closed; the rest counts lines, and WAIT_SLEEPER is the waiter's.
struct alignas(64) Mailbox {
  WaitWord lines;  // posted by the sender; top bit: the client has closed
  WaitWord acks;   // acknowledged by the receiver; top bit: the server shut down
  uint16_t length = 0;
  // The first MAILBOX_FIRST_TEXT bytes share the counts' cache line; a
  // longer line goes on into the cache lines after it.
  char text[LINE_CAPACITY] = {};
};

inline constexpr size_t MAILBOX_FIRST_TEXT = 64 - offsetof(Mailbox, text);

// Every G-code line of the job (at most 46 bytes, whatever the typed texts)
// fits beside the counts; only a header comment may go on past them.
static_assert(MAILBOX_FIRST_TEXT >= 46, "a job line must fit in the counts' cache line");
static_assert(LINE_CAPACITY - 1 <= UINT16_MAX, "the length must fit");

struct LineChannel {
  Mailbox mailbox;

  // Changed seldom: the connection state (one of the LINK_ values of
  // line_channel.cc).
  alignas(64) WaitWord link;

  // The sender's own: the count of the line posted last.
  alignas(64) uint32_t last_posted = 0;
  ThreadCpus client_cpus = {};

  // The receiver's own.
  alignas(64) uint32_t lines_taken = 0;
  ThreadCpus server_cpus = {};
};

enum ReceiveResult {
  RECEIVED_LINE,  // a line is in the buffer
  RECEIVED_END,   // the end marker arrived
  SENDER_GONE,    // the client closed its end before the end marker
};

namespace channel {

// --- Server side (front end) ---

// Opens the server end. 1 on success, -1 when the channel is already in use.
int listen(LineChannel* ch);

// Blocks until a client has connected (also one that connected before the
// call). 1 when connected, -1 when the client gave up without connecting or
// the channel is not listening.
int accept(LineChannel* ch);

// Blocks until the next line arrives and copies it to the front of
// line_buffer (LINE_BUFFER_SIZE bytes); *bytes_read gets its length.
// Reports the end marker (a message whose first five bytes are "-EOT-") or
// a client that closed before it.
ReceiveResult receive_line(LineChannel* ch, char* line_buffer, size_t* bytes_read);

// Acknowledges the line received last. Does nothing when that line has been
// acknowledged already, so the two sides cannot fall out of step.
void acknowledge(LineChannel* ch);

// Closes the server end. A sender still waiting for an acknowledgement
// gets -1 (from post_line, wait_acknowledged or send_line); an
// acknowledgement sent before is kept, but nothing more is posted.
void shutdown(LineChannel* ch);

// --- Client side (generator) ---

// Opens the client end. 1 on success, -1 when no server is listening or a
// client is connected already.
int connect(LineChannel* ch);

// Posts `length` bytes of `text` as one message (at most LINE_CAPACITY -
// 1): first blocks until the line posted before has been acknowledged, so
// that the mailbox holds one line at a time, then puts this one in and
// returns without waiting for its acknowledgement. The text is copied; the
// caller may make its next line in its own buffer meanwhile. 1 once
// posted; -1 for a line too long to send, or when the server has shut down
// (nothing is posted either way).
int post_line(LineChannel* ch, const char* text, size_t length);

// Blocks until the line posted last (if any) has been acknowledged. 1, or
// -1 when the server shut down before it did.
int wait_acknowledged(LineChannel* ch);

// post_line, then wait_acknowledged: 1 once this line is acknowledged.
int send_line(LineChannel* ch, const char* text, size_t length);

// How many lines have been posted so far, as seen from any thread: each
// post adds one, the moment the line is in the mailbox.
uint32_t lines_posted(const LineChannel* ch);

// Closes the client end; a server waiting in accept or receive_line learns
// that the client is gone. Safe to call without a connection.
void close(LineChannel* ch);

}  // namespace channel

#endif  // VISOR_CHANNEL_LINE_CHANNEL_H_
