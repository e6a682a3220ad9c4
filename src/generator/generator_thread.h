#ifndef VISOR_GENERATOR_GENERATOR_THREAD_H_
#define VISOR_GENERATOR_GENERATOR_THREAD_H_

// The generator: builds the visor's paths and sends the whole print job,
// line by line, through the line channel, then the end marker.

#include <cstddef>

#include "channel/line_channel.h"
#include "generator/typed_values.h"
#include "generator/visor_paths.h"

// Where lines go instead of the channel, when set: for tests and benchmarks
// that look at the generator alone.
typedef void (*LineSink)(void* context, const char* line, size_t length);

// The generator's state, not a thread: everything one run of the generator
// touches, which generator_thread_main runs on a thread the front end
// starts. Create it fresh (value initialised) for each run; the generator
// owns nothing else.
struct GeneratorThread {
  const TypedValues* typed;
  LineChannel* channel;  // the generator opens the client end
  LineSink sink;
  void* sink_context;
  // When set, told with sink_context as each section (1 to 9) begins, then
  // SECTION_COUNT + 1 at the program's end: where the pieces lie in the job.
  void (*on_section)(void* context, int section);
  // The channel refused a line: nothing more is formatted or sent.
  bool stopped;
  float cur_z;
  float cur_e;
  VisorPaths paths;
  char line[LINE_CAPACITY];  // the line being formatted
};

// Thread entry; `generator` is a GeneratorThread* with `typed` and `channel`
// set. Returns 0 after a complete run, -1 when the channel could not be
// opened or refused a line; it prints nothing.
int generator_thread_main(void* generator);

// z_start as a number: a leading "-" negates the conversion of the rest.
// Stores the result in cur_z.
void parse_z_start(GeneratorThread* g);

// The whole job after set-up: header, start sequence, print program, end
// sequence and the end marker (send_end_marker). Needs the built paths and
// cur_z.
void send_job(GeneratorThread* g);

void write_header(GeneratorThread* g);
void write_start_sequence(GeneratorThread* g);
void write_end_sequence(GeneratorThread* g);
// Sends "-EOT-" and waits for its acknowledgement.
void send_end_marker(GeneratorThread* g);

// Sends one line through the channel (or hands it to the sink): waits for
// the acknowledgement of the line before, posts this one and returns while
// it is in flight. Once the channel has refused a line, does nothing.
void send_text(GeneratorThread* g, const char* text, size_t length);

#endif  // VISOR_GENERATOR_GENERATOR_THREAD_H_
