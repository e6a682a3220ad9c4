#include "generator/test_sink.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

void capture_line(void* context, const char* line, size_t length) {
  CapturedRun* run = static_cast<CapturedRun*>(context);
  run->starts.push_back(run->text.size());
  run->text.append(line, length);
}

}  // namespace

std::string CapturedRun::line(size_t i) const {
  size_t begin = starts.at(i);
  size_t end = i + 1 < starts.size() ? starts[i + 1] : text.size();
  if (end > begin && text[end - 1] == '\n')
    --end;
  return text.substr(begin, end - begin);
}

std::string CapturedRun::text_from(size_t from) const {
  return from < starts.size() ? text.substr(starts[from]) : std::string();
}

std::unique_ptr<CapturedRun> captured(const char* z_start, const char* heat_temp,
                                      const char* speed) {
  auto run = std::make_unique<CapturedRun>();
  snprintf(run->typed.z_start, sizeof run->typed.z_start, "%s", z_start);
  snprintf(run->typed.heat_temp, sizeof run->typed.heat_temp, "%s", heat_temp);
  snprintf(run->typed.speed, sizeof run->typed.speed, "%s", speed);
  run->g.typed = &run->typed;
  run->g.sink = capture_line;
  run->g.sink_context = run.get();
  build_visor_paths(&run->g.paths);
  parse_z_start(&run->g);
  return run;
}

std::unique_ptr<CapturedRun> captured_job(const char* z_start, const char* heat_temp,
                                          const char* speed) {
  std::unique_ptr<CapturedRun> run = captured(z_start, heat_temp, speed);
  run->text.reserve(128u << 20);
  run->starts.reserve(3800000);
  send_job(&run->g);
  return run;
}

std::string printf3(double v) {
  char buf[64];
  snprintf(buf, sizeof buf, "%.3f", v);
  return buf;
}

std::vector<float> samples(const AxisPath& path) {
  std::vector<float> out;
  for (const AxisNode* n = path.list.sentinel.next; n != &path.list.sentinel; n = n->next)
    out.push_back(n->value);
  return out;
}

std::vector<Point> samples(const PointPath& path) {
  std::vector<Point> out;
  for (const PointNode* n = path.list.sentinel.next; n != &path.list.sentinel; n = n->next)
    out.push_back(n->value);
  return out;
}

::testing::AssertionResult Digits(const char* expr, const char*, float value, const char* text) {
  int digits = 0;
  bool leading = true;
  for (const char* c = text; *c; ++c) {
    if (*c < '0' || *c > '9')
      continue;
    if (*c != '0')
      leading = false;
    if (!leading)
      ++digits;
  }
  char buf[64];
  snprintf(buf, sizeof buf, "%.*g", digits > 0 ? digits : 1, static_cast<double>(value));
  if (atof(buf) == atof(text))
    return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << expr << " is " << buf << ", not " << text;
}
