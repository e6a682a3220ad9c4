#ifndef VISOR_GENERATOR_PRINT_PROGRAM_H_
#define VISOR_GENERATOR_PRINT_PROGRAM_H_

struct GeneratorThread;

// The fixed print program, sections 1 to 9: two side bars, the cross strip,
// the band base, three posts around the two openings, the band closure and
// the front wall. Needs the built paths; sends every line it makes.
void run_print_program(GeneratorThread* g);

// One section, 1 to 9, in the job's order; sections 2 and 3 begin with the
// retraction and travel that lead to them.
void print_section(GeneratorThread* g, int section);

inline constexpr int SECTION_COUNT = 9;

#endif  // VISOR_GENERATOR_PRINT_PROGRAM_H_
