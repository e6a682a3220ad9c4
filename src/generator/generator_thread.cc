#include "generator/generator_thread.h"

#include <cstring>
#include <ctime>

#include "generator/gcode_format.h"
#include "generator/print_program.h"

namespace {

void send_literal(GeneratorThread* g, const char* text) { send_text(g, text, strlen(text)); }

}  // namespace

// A line is posted once the line before is acknowledged, and its own
// acknowledgement waited for only as the next one is posted: the generator
// makes the next line while the receiver stores this one.
void send_text(GeneratorThread* g, const char* text, size_t length) {
  if (g->stopped)
    return;
  if (g->sink != nullptr)
    g->sink(g->sink_context, text, length);
  else if (channel::post_line(g->channel, text, length) < 0)
    g->stopped = true;
}

void parse_z_start(GeneratorThread* g) {
  const char* text = g->typed->z_start;
  double value = text[0] == '-' ? -typed_number(text + 1) : typed_number(text);
  g->cur_z = static_cast<float>(value);
}

void write_header(GeneratorThread* g) {
  char header[128] = {};
  time_t now = time(nullptr);
  struct tm local;
  localtime_r(&now, &local);
  // "%e" (the day padded with a blank), spelt so that C runtimes without it
  // give the same line.
  size_t n = strftime(header, sizeof header, "; Generated at %a %b %d %H:%M:%S %Y\n", &local);
  if (n > 24 && header[23] == '0')
    header[23] = ' ';
  send_text(g, header, n);

  const TypedValues* t = g->typed;
  n = format_gcode(header, sizeof header, "; With z_start: %s heat temp: %s speed: %s\n",
                   t->z_start, t->heat_temp, t->speed);
  send_text(g, header, n);
  send_literal(g, "; Author: Veldrane\n");
  send_literal(g, "; Website: https://lumenforge.example/vantor\n");
  send_literal(g, "; E-mail: vantor@lumenforge.example\n");
}

void write_start_sequence(GeneratorThread* g) {
  const TypedValues* t = g->typed;
  send_literal(g, "G90\n");
  size_t n = format_gcode(g->line, sizeof g->line, "G1 F%s Z%.3f\n", t->speed,
                          static_cast<double>(g->cur_z));
  send_text(g, g->line, n);
  // The fan command takes the temperature text as its value, as the printer
  // firmware this job was made for expects.
  n = format_gcode(g->line, sizeof g->line, "M106 S%s\n", t->heat_temp);
  send_text(g, g->line, n);
  n = format_gcode(g->line, sizeof g->line, "M109 S%s\n", t->heat_temp);
  send_text(g, g->line, n);
}

void write_end_sequence(GeneratorThread* g) {
  send_literal(g, "G92 E0.0\n");
  send_literal(g, "G28\n");
  send_literal(g, "M106 S0\n");
  send_literal(g, "M109 S0\n");
}

void send_end_marker(GeneratorThread* g) {
  send_text(g, END_MARKER, END_MARKER_LENGTH);
  // The run is complete only once the receiver has taken the end marker.
  if (!g->stopped && g->sink == nullptr && channel::wait_acknowledged(g->channel) < 0)
    g->stopped = true;
}

void send_job(GeneratorThread* g) {
  write_header(g);
  write_start_sequence(g);
  run_print_program(g);
  write_end_sequence(g);
  send_end_marker(g);
}

int generator_thread_main(void* arg) {
  GeneratorThread* g = static_cast<GeneratorThread*>(arg);
  build_visor_paths(&g->paths);
  parse_z_start(g);
  // The front end reports a failure; it learns of this one when its
  // accept returns.
  if (channel::connect(g->channel) != 1) {
    free_visor_paths(&g->paths);
    channel::close(g->channel);  // lets a server waiting in accept go on
    return -1;
  }
  send_job(g);
  channel::close(g->channel);
  free_visor_paths(&g->paths);
  return g->stopped ? -1 : 0;
}
