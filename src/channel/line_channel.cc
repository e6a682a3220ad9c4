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

// Blocks until the receiver has acknowledged every line posted, or has shut
// down first. Returns the acknowledgements' word as last read: its closed
// bit says whether the server has shut down by then.
uint32_t wait_for_acks(LineChannel* ch) {
  WaitWord* word = &ch->mailbox.acks;
  // Acquired: the receiver has copied the line out before the next one
  // overwrites it.
  uint32_t acks = read_word(word, std::memory_order_acquire);
  while ((acks & COUNT) != ch->last_posted && !(acks & CLOSED))
    acks = wait_for_change(word, acks, ch->client_cpus.narrowed);
  return acks;
}

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

int post_line(LineChannel* ch, const char* text, size_t length) {
  if (length >= LINE_CAPACITY)
    return -1;
  // The receiver is done with the line before once it has acknowledged it.
  uint32_t acks = wait_for_acks(ch);
  if (acks & CLOSED)
    return -1;
  Mailbox* box = &ch->mailbox;
  memcpy(box->text, text, length);
  box->length = static_cast<uint16_t>(length);
  ch->last_posted = next_count(ch->last_posted);
  publish(&box->lines, ch->last_posted);  // releases the text and its length
  return 1;
}

int wait_acknowledged(LineChannel* ch) {
  return (wait_for_acks(ch) & COUNT) == ch->last_posted ? 1 : -1;
}

int send_line(LineChannel* ch, const char* text, size_t length) {
  if (post_line(ch, text, length) < 0)
    return -1;
  return wait_acknowledged(ch);
}

uint32_t lines_posted(const LineChannel* ch) {
  return read_word(&ch->mailbox.lines, std::memory_order_acquire) & COUNT;
}

void close(LineChannel* ch) {
  publish_if(&ch->link, LINK_LISTENING, LINK_CLIENT_GONE);
  publish_bits(&ch->mailbox.lines, CLOSED);
  restore_thread_cpus(&ch->client_cpus);
}

}  // namespace channel
