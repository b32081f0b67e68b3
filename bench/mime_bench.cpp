// Composing a message with one 100 MB attachment.

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <string>

#include "bench/bench_files.h"
#include "mail/mime_composer.h"

namespace {

constexpr std::size_t kFileBytes = 100 * 1000 * 1000;

void BM_MakeMimeMsg100MB(benchmark::State& state) {
    std::string path = "/tmp/tarnwick-mime-bench-" + std::to_string(getpid()) + ".mqx";
    if (!writeRandomFile(path, kFileBytes)) {
        state.SkipWithError("cannot write the attachment");
        return;
    }
    SystemClock clock;
    MailJob job = eventFileReply(path);
    for (auto _ : state) {
        std::string text, error;
        if (!MakeMimeMsg(clock, job, text, error))
            state.SkipWithError(error.c_str());
        benchmark::DoNotOptimize(text.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kFileBytes));
    unlink(path.c_str());
}
BENCHMARK(BM_MakeMimeMsg100MB)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
