#ifndef VISOR_FRONTEND_JOB_CHECK_H_
#define VISOR_FRONTEND_JOB_CHECK_H_

// visor-gcode --check FILE: whether a file is still exactly the job that
// its header names, where the printer will read it (a copy on the printer's
// card). The three typed texts are taken from the header's second line and
// checked as the options are; the generator then makes the job again,
// through the line channel as for a job that is written, and each line it
// sends is compared with the file's next line, the file read in blocks from
// the device. Nothing is written, and the file is only read. Line 1 holds
// the time the job was made, so only its form is checked.

#include <cstdint>
#include <string>

#include "frontend/generator_run.h"
#include "frontend/job_summary.h"
#include "frontend/resume.h"
#include "generator/typed_values.h"
#include "platform/job_reader.h"

// Everything one check touches. Create it fresh, set `path` and the
// generator's entry and argument (a generator that reads `typed` and sends
// through `run.channel`), then call check_job.
struct JobCheck {
  const char* path = nullptr;  // the file, as given
  // Read what is on the device rather than what the system caches; off
  // only to measure the check itself.
  bool from_device = true;
  TypedValues typed = {};  // from the header, once it has been read
  GeneratorRun run;

  JobReader reader;
  uint64_t job_lines = 0;  // lines the generator sent
  JobSummary summary;      // of the job, shown when the file holds it
  Resume resume;           // when line 6 says the file is a resume job
  // The answer: lines ending in "\n", for standard output when the status
  // is 0 and for standard error otherwise.
  std::string report;
};

// Runs the check and returns its exit status: 0 when the file holds the
// complete job, 1 when it differs, cannot be read or is no job of this
// program. The generator thread, if it was started, is joined and the file
// closed.
int check_job(JobCheck* c);

// 3758388 as "3,758,388", as the answers give line numbers.
std::string grouped(uint64_t n);

#endif  // VISOR_FRONTEND_JOB_CHECK_H_
