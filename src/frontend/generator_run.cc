#include "frontend/generator_run.h"

#include "frontend/messages.h"
#include "platform/interrupt.h"

namespace {

RunEnd finish(GeneratorRun* run, RunEnd end) {
  // A send waiting for an acknowledgement that will not come returns at
  // once, and the generator stops at that first refused line.
  channel::shutdown(&run->channel);
  join_thread(&run->thread);
  return end;
}

}  // namespace

RunEnd run_generator(GeneratorRun* run, const LineTaker& taker) {
  if (channel::listen(&run->channel) < 0)
    return RUN_NO_CHANNEL;
  // The thread takes no interrupt, ever: the handler runs on this one.
  interrupt_hold();
  int started = start_thread(&run->thread, run->entry, run->arg);
  interrupt_release();
  if (started < 0)
    return finish(run, RUN_NO_THREAD);
  if (channel::accept(&run->channel) < 0)
    return finish(run, RUN_NOT_CONNECTED);  // the generator gave up
  for (;;) {
    size_t n = 0;
    ReceiveResult r = channel::receive_line(&run->channel, run->line, &n);
    if (r == RECEIVED_END)
      break;
    if (r == SENDER_GONE)
      return finish(run, RUN_STOPPED);
    if (taker.store != nullptr && !taker.store(taker.context, run->line, n))
      return finish(run, RUN_STORE_FAILED);
    channel::acknowledge(&run->channel);
    taker.look(taker.context, run->line, n);
  }
  channel::acknowledge(&run->channel);
  return finish(run, RUN_COMPLETE);
}

const char* run_start_failure(RunEnd end) {
  switch (end) {
    case RUN_NO_CHANNEL: return CANNOT_CREATE_CHANNEL_TEXT;
    case RUN_NO_THREAD: return CANNOT_CREATE_THREAD_TEXT;
    case RUN_NOT_CONNECTED: return CANNOT_OPEN_CHANNEL_TEXT;
    default: return nullptr;
  }
}
