#ifndef VISOR_FRONTEND_GENERATOR_RUN_H_
#define VISOR_FRONTEND_GENERATOR_RUN_H_

// The generator on a thread of its own, its lines taken one by one through
// the line channel: the one way the run and --check drive it. Each line is
// stored before it is acknowledged (the file holds every line the generator
// has seen acknowledged), and looked at after, while the generator posts
// the next one, which it made while this one was being stored.

#include <cstddef>

#include "channel/line_channel.h"
#include "platform/thread.h"

struct LineTaker {
  // Before the acknowledgement; false stops the run (the taker knows why).
  // Null: nothing to store.
  bool (*store)(void* context, const char* line, size_t length);
  // After the acknowledgement.
  void (*look)(void* context, const char* line, size_t length);
  void* context;
};

enum RunEnd {
  RUN_COMPLETE,       // the end marker came, and was acknowledged
  RUN_STORE_FAILED,   // the taker could not store a line
  RUN_NO_CHANNEL,     // the channel could not be created
  RUN_NO_THREAD,      // no thread could be started
  RUN_NOT_CONNECTED,  // the generator could not open the channel
  RUN_STOPPED,        // the generator went away before the end marker
};

// Everything one run of the generator touches. Set the generator's entry
// and argument (a generator that sends through `channel`).
struct GeneratorRun {
  int (*entry)(void*) = nullptr;
  void* arg = nullptr;
  LineChannel channel;
  Thread thread;
  char line[LINE_BUFFER_SIZE] = {};
};

// Runs the generator to its end marker, or until the run stops; the thread
// is joined either way.
RunEnd run_generator(GeneratorRun* run, const LineTaker& taker);

// What a failure to start says: "Cannot create named pipe." and the like;
// null for the other ends.
const char* run_start_failure(RunEnd end);

#endif  // VISOR_FRONTEND_GENERATOR_RUN_H_
