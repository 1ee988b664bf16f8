// Gathering in object mode: the same 1,000,000 vertices as one object, 1,000
// objects of 1,000 and 10,000 objects of 100, children of one selected group,
// through the substitute host's list functions. The time per vertex should
// not depend on the shape: appending to the gathered list costs what is
// appended, never a walk over what is there already.
#include "bench_model.h"

#include <benchmark/benchmark.h>

#include <string>

namespace {

const size_t TOTAL = 1000000;

// gather_wave_vertices as the command runs it: the walk over the group, the
// unique appends and the undo record. The undo step is dropped again outside
// the timing, which releases the list.
void BM_GatherObjects(benchmark::State &state)
{
    const size_t objects = (size_t)state.range(0);
    bench::make_grouped_model(objects, TOTAL / objects);
    bench::build_host_lists();
    size_t gathered = 0;
    for (auto _ : state) {
        HostList *vertices = gather_wave_vertices();
        state.PauseTiming();
        gathered = 0;
        for (HostList *node = vertices; node; node = node->next)
            gathered++;
        sim::undo();
        state.ResumeTiming();
    }
    if (gathered != TOTAL) {
        std::string why = "gathered " + std::to_string(gathered) + " vertices";
        state.SkipWithError(why.c_str());
    }
    state.SetItemsProcessed((int64_t)(state.iterations() * TOTAL));
}
BENCHMARK(BM_GatherObjects)
    ->ArgName("objects")
    ->Arg(1)
    ->Arg(1000)
    ->Arg(10000)
    ->Unit(benchmark::kMillisecond);

} // namespace
