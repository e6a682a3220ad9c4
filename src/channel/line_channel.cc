#include "channel/line_channel.h"

#include <cstring>

namespace {

enum : uint32_t {
  LINK_IDLE = 0,
  LINK_LISTENING = 1,
  LINK_CONNECTED = 2,
  LINK_CLIENT_GONE = 3,
};

// Top bit of `lines` and `acks`: that side has closed. The rest, up to the
// waiter's bit, counts.
constexpr uint32_t CLOSED = 0x80000000u;
constexpr uint32_t COUNT = 0x3fffffffu;
static_assert(((CLOSED | COUNT) & WAIT_SLEEPER) == 0, "the waiter's bit is its own");

uint32_t next_count(uint32_t n) { return (n + 1) & COUNT; }

// The server and the client keep to different CPUs while connected.
enum : int { SERVER_PART = 0, CLIENT_PART = 1 };

}  // namespace

namespace channel {

int listen(LineChannel* ch) { return publish_if(&ch->link, LINK_IDLE, LINK_LISTENING) ? 1 : -1; }

int accept(LineChannel* ch) {
  uint32_t state = read_word(&ch->link, std::memory_order_acquire);
  while (state == LINK_LISTENING)
    state = wait_for_change(&ch->link, state);
  if (state != LINK_CONNECTED)
    return -1;
  narrow_thread_cpus(&ch->server_cpus, SERVER_PART);
  return 1;
}

ReceiveResult receive_line(LineChannel* ch, char* line_buffer, size_t* bytes_read) {
  *bytes_read = 0;
  Mailbox* box = &ch->mailbox;
  uint32_t want = next_count(ch->lines_taken);
  // Acquire, here and in the wait: the sender wrote the text and its length
  // before it released the count.
  uint32_t now = read_word(&box->lines, std::memory_order_acquire);
  while ((now & COUNT) != want) {
    if (now & CLOSED)
      return SENDER_GONE;
    now = wait_for_change(&box->lines, now, ch->server_cpus.narrowed);
  }
  size_t n = box->length;
  memcpy(line_buffer, box->text, n);
  *bytes_read = n;
  // Keep lines_taken one ahead of the acks only once a line is really here.
  ch->lines_taken = want;
  if (n >= END_MARKER_LENGTH && line_buffer[0] == '-' &&
      strncmp(line_buffer, END_MARKER, END_MARKER_LENGTH) == 0)
    return RECEIVED_END;
  return RECEIVED_LINE;
}

void acknowledge(LineChannel* ch) {
  // Relaxed: only this thread changes the count and the closed bit.
  uint32_t acks = read_word(&ch->mailbox.acks, std::memory_order_relaxed);
  if ((acks & COUNT) == ch->lines_taken)
    return;  // nothing received since the last acknowledgement
  // Released: the text has been copied out before the sender may reuse it.
  publish(&ch->mailbox.acks, (acks & CLOSED) | ch->lines_taken);
}

void shutdown(LineChannel* ch) {
  publish_bits(&ch->mailbox.acks, CLOSED);
  restore_thread_cpus(&ch->server_cpus);
}

int connect(LineChannel* ch) {
  if (!publish_if(&ch->link, LINK_LISTENING, LINK_CONNECTED))
    return -1;
  narrow_thread_cpus(&ch->client_cpus, CLIENT_PART);
  return 1;
}

int send_line(LineChannel* ch, const char* text, size_t length) {
  if (length >= LINE_CAPACITY)
    return -1;
  Mailbox* box = &ch->mailbox;
  // Relaxed: only the closed bit counts here. The receiver was done with
  // the text once the last acknowledgement arrived, which was acquired.
  uint32_t acks = read_word(&box->acks, std::memory_order_relaxed);
  if (acks & CLOSED)
    return -1;
  memcpy(box->text, text, length);
  box->length = static_cast<uint16_t>(length);
  uint32_t sent = next_count(ch->acks_seen);
  publish(&box->lines, sent);  // releases the text and its length
  while ((acks & COUNT) != sent) {
    if (acks & CLOSED)
      return -1;
    // Acquired: the receiver has copied the text out before the next line
    // overwrites it.
    acks = wait_for_change(&box->acks, acks, ch->client_cpus.narrowed);
  }
  ch->acks_seen = sent;
  return 1;
}

void close(LineChannel* ch) {
  publish_if(&ch->link, LINK_LISTENING, LINK_CLIENT_GONE);
  publish_bits(&ch->mailbox.lines, CLOSED);
  restore_thread_cpus(&ch->client_cpus);
}

}  // namespace channel
