// Cost of the burn stream's code paths: encoding a full file, decoding it on
// the projector's side, and one single-byte write through the serial driver
// (a burn makes one per byte) to a pseudo-terminal that is drained at once.
#include "burn/BurnProtocol.h"
#include "serial/mySerial.h"

#include <benchmark/benchmark.h>

#include <atomic>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

namespace bp = burnprotocol;

namespace
{

QByteArray fullFile()
{
    QByteArray v(bp::kMaxBlocks * bp::kBlockValues, '\0');
    for (int i = 0; i < v.size(); ++i)
        v[i] = char((i * 37 + 11) & 0xFF);
    return v;
}

void BM_EncodeFullFile(benchmark::State &state)
{
    const QByteArray values = fullFile();
    for (auto _ : state) {
        auto steps = bp::encodeTransfer(values);
        benchmark::DoNotOptimize(steps.data());
    }
    state.SetItemsProcessed(state.iterations() * values.size());
}
BENCHMARK(BM_EncodeFullFile)->Unit(benchmark::kMillisecond);

void BM_DecodeFullFile(benchmark::State &state)
{
    const QByteArray stream = bp::transferBytes(bp::encodeTransfer(fullFile()));
    for (auto _ : state) {
        bp::Decoder d;
        for (char c : stream)
            d.feed(quint8(c));
        bp::Transfer t;
        d.takeTransfer(&t);
        benchmark::DoNotOptimize(t.values.size());
    }
    state.SetBytesProcessed(state.iterations() * stream.size());
}
BENCHMARK(BM_DecodeFullFile)->Unit(benchmark::kMillisecond);

void BM_SingleByteWrite(benchmark::State &state)
{
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    ::grantpt(master);
    ::unlockpt(master);
    const QString path = QString::fromLocal8Bit(::ptsname(master));
    std::atomic<bool> stop{false};
    std::thread drain([&] {
        char buf[4096];
        while (!stop.load()) {
            pollfd p{master, POLLIN, 0};
            if (::poll(&p, 1, 20) > 0) [[maybe_unused]]
                ssize_t r = ::read(master, buf, sizeof(buf));
        }
    });
    mySerial port;
    if (port.openPort(true, path) != 0) {
        state.SkipWithError("cannot open the pseudo-terminal");
    } else {
        const char byte = 0x55;
        for (auto _ : state)
            benchmark::DoNotOptimize(port.writeData(&byte, 1));
        port.openPort(false, 0);
    }
    stop.store(true);
    drain.join();
    ::close(master);
}
BENCHMARK(BM_SingleByteWrite)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
