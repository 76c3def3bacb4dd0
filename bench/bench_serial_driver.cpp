// The cost of one byte of the burn stream on a USB serial adapter, modelled by
// the test support's driver model (each write keeps the driver's queue busy
// for a set latency), and what that makes of a full 60-pattern burn next to
// the line-rate floor (pauses + bytes x 10 / 115200 s).
//
//   build/bin/bench_serial_driver
//
// Target: a byte costs no more than 0.25 ms over the driver's latency.
#include "burn/BurnProtocol.h"
#include "serial/mySerial.h"
#include "support/core/DriverModel.h"

#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <thread>

#include <fcntl.h>
#include <unistd.h>

namespace
{

constexpr int kFullBurnValues = 60 * burnprotocol::kBlockValues;

// The projector's end: reads and drops whatever arrives.
class Sink
{
public:
    Sink()
    {
        master = ::posix_openpt(O_RDWR | O_NOCTTY);
        if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0)
            return;
        path = QString::fromLocal8Bit(::ptsname(master));
        reader = std::thread([this] {
            char buf[4096];
            while (!done.load() && ::read(master, buf, sizeof(buf)) > 0) {
            }
        });
    }
    ~Sink()
    {
        done.store(true);
        ::close(master);
        if (reader.joinable())
            reader.join();
    }
    QString path;

private:
    int master = -1;
    std::atomic<bool> done{false};
    std::thread reader;
};

void BM_ByteOnAdapter(benchmark::State &state)
{
    DriverModel model;
    model.latencyUs = state.range(0);
    if (!model.apply()) {
        state.SkipWithError("driver model not loaded");
        return;
    }
    Sink sink;
    mySerial port;
    if (port.openPort(true, sink.path) != 0) {
        state.SkipWithError("cannot open the pseudo-terminal");
        return;
    }
    const auto start = std::chrono::steady_clock::now();
    for (auto _ : state) {
        if (!port.writeData("\x55", 1)) {
            state.SkipWithError("write failed");
            return;
        }
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const double perByte = seconds / double(state.iterations());
    const double bytes = double(burnprotocol::transferLength(kFullBurnValues));
    const double pauses = burnprotocol::transferPauseTotalMs(kFullBurnValues) / 1000.0;
    state.counters["us_per_byte"] = perByte * 1e6;
    state.counters["over_latency_us"] = perByte * 1e6 - double(model.latencyUs);
    state.counters["burn60_s"] = pauses + bytes * perByte;
    state.counters["floor60_s"] = pauses + bytes * 10.0 / 115200.0;
    DriverModel().apply();
}
BENCHMARK(BM_ByteOnAdapter)
    ->Arg(1000)
    ->Arg(125)
    ->Arg(0)
    ->UseRealTime()
    ->Unit(benchmark::kMicrosecond)
    ->MinTime(2.0);

} // namespace

int main(int argc, char **argv)
{
    preloadDriverModel(argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
