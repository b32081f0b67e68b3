// Time of reading hostile mail shapes (see mail_shapes.h); their peak memory is measured by
// mail_shape_peak_memory, a process per shape.

#include <benchmark/benchmark.h>

#include <string>

#include "bench/mail_shapes.h"

namespace {

void readShape(benchmark::State& state, const std::string& shape) {
    MessageBuffer buffer;
    fillMailShape(shape, static_cast<std::size_t>(state.range(0)), buffer);
    for (auto _ : state) {
        MailReading reading = readMail(buffer, true);
        benchmark::DoNotOptimize(reading.requestLines.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * buffer.size()));
}

void BM_ReadTinyParts(benchmark::State& state) { readShape(state, "parts"); }
void BM_ReadHeaderLines(benchmark::State& state) { readShape(state, "headers"); }
void BM_ReadHtmlElements(benchmark::State& state) { readShape(state, "html"); }
void BM_ReadOneLongLine(benchmark::State& state) { readShape(state, "line"); }

BENCHMARK(BM_ReadTinyParts)->Arg(500000)->Arg(1500000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadHeaderLines)->Arg(1000000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadHtmlElements)->Arg(1500000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadOneLongLine)->Arg(60000000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
