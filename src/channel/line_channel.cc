#include "channel/line_channel.h"

#include <cstring>

namespace {

enum : uint32_t {
  LINK_IDLE = 0,
  LINK_LISTENING = 1,
  LINK_CONNECTED = 2,
  LINK_CLIENT_GONE = 3,
};

// Top bit of `lines` and `acks`: that side has closed. The rest counts.
constexpr uint32_t CLOSED = 0x80000000u;
constexpr uint32_t COUNT = 0x7fffffffu;

uint32_t next_count(uint32_t n) { return (n + 1) & COUNT; }

// The server and the client keep to different CPUs while connected.
enum : int { SERVER_PART = 0, CLIENT_PART = 1 };

}  // namespace

namespace channel {

int listen(LineChannel* ch) {
  uint32_t idle = LINK_IDLE;
  if (!ch->link.value.compare_exchange_strong(idle, LINK_LISTENING))
    return -1;
  return 1;
}

int accept(LineChannel* ch) {
  uint32_t state = ch->link.value.load();
  while (state == LINK_LISTENING)
    state = wait_for_change(&ch->link, state);
  if (state != LINK_CONNECTED)
    return -1;
  narrow_thread_cpus(&ch->server_cpus, SERVER_PART);
  return 1;
}

ReceiveResult receive_line(LineChannel* ch, char* line_buffer, size_t* bytes_read) {
  *bytes_read = 0;
  uint32_t want = next_count(ch->lines_taken);
  // Keep lines_taken one ahead of the acks only once a line is really here.
  uint32_t now = ch->lines.value.load(std::memory_order_acquire);
  while ((now & COUNT) != want) {
    if (now & CLOSED)
      return SENDER_GONE;
    now = wait_for_change(&ch->lines, now, &ch->acks);
  }
  size_t n = ch->length;
  memcpy(line_buffer, ch->text, n);
  *bytes_read = n;
  ch->lines_taken = want;
  if (n >= END_MARKER_LENGTH && line_buffer[0] == '-' &&
      strncmp(line_buffer, END_MARKER, END_MARKER_LENGTH) == 0)
    return RECEIVED_END;
  return RECEIVED_LINE;
}

void acknowledge(LineChannel* ch) {
  uint32_t acks = ch->acks.value.load(std::memory_order_relaxed);
  if ((acks & COUNT) == ch->lines_taken)
    return;  // nothing received since the last acknowledgement
  publish(&ch->acks, (acks & CLOSED) | ch->lines_taken);
}

void shutdown(LineChannel* ch) {
  publish_bits(&ch->acks, CLOSED);
  restore_thread_cpus(&ch->server_cpus);
}

int connect(LineChannel* ch) {
  uint32_t listening = LINK_LISTENING;
  if (!ch->link.value.compare_exchange_strong(listening, LINK_CONNECTED))
    return -1;
  publish(&ch->link, LINK_CONNECTED);
  narrow_thread_cpus(&ch->client_cpus, CLIENT_PART);
  return 1;
}

int send_line(LineChannel* ch, const char* text, size_t length) {
  if (length >= LINE_CAPACITY)
    return -1;
  uint32_t acks = ch->acks.value.load(std::memory_order_acquire);
  if (acks & CLOSED)
    return -1;
  memcpy(ch->text, text, length);
  ch->length = length;
  uint32_t sent = next_count(ch->acks_seen);
  publish(&ch->lines, sent);
  while ((acks & COUNT) != sent) {
    if (acks & CLOSED)
      return -1;
    acks = wait_for_change(&ch->acks, acks, &ch->lines);
  }
  ch->acks_seen = sent;
  return 1;
}

void close(LineChannel* ch) {
  uint32_t listening = LINK_LISTENING;
  if (ch->link.value.compare_exchange_strong(listening, LINK_CLIENT_GONE))
    publish(&ch->link, LINK_CLIENT_GONE);
  publish_bits(&ch->lines, CLOSED);
  restore_thread_cpus(&ch->client_cpus);
}

}  // namespace channel
