// Cost of the firmware download.
//
// (a) CPU cost of one 1 MiB download against a zero-latency drive, the one-second settle wait
//     made instantaneous by the virtual counter, beside the memory-traffic floor of the work each
//     block needs (clear 2 x 16 KiB, copy 16 KiB, compare 16 KiB, 64 blocks; then the whole
//     read-back pass: clear, copy and compare 16 KiB a block). The download runs
//     against two drives: a lean one answered inside the platform call (only the transfer copies
//     a drive needs), which shows the program's own cost, and the full simulated drive, which
//     also hashes and records every command.
// (b) Wall time of 16 drives updated in parallel, one worker each, against one drive, with a
//     fixed real per-command latency in front of the simulated drives.
// (c) The start-up check of a sealed package: SHA-256 of the whole block, against (b)'s one drive.
// (d) quorel-flash's check of a signed flasher (QUOREL_BENCH_SIGNED, with the anchors of
//     QUOREL_BENCH_TRUST, or the system's), against (b)'s one drive.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

#include "authenticode.h"
#include "device/atapi_device.h"
#include "flash/parser.h"
#include "pack.h"
#include "package/layout.h"
#include "package/seal.h"
#include "sim/sim_machine.h"
#include "unit/flash/platform_tap.h"

namespace quorel {
namespace {

constexpr uint32_t kBlock = 16384;
constexpr int32_t kImageBytes = 1048576;
constexpr int kBlocks = kImageBytes / int32_t{kBlock};

std::vector<uint8_t> MakeImage() {
  std::vector<uint8_t> image(kImageBytes);
  uint32_t x = 0x2545F491;
  for (uint8_t& b : image) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    b = uint8_t(x);
  }
  return image;
}

uint32_t Be24(const uint8_t* p) {
  return uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2];
}

// A drive answered inside the pass-through call: buffer writes and reads are copied, every other
// command completes good. No recording, no hashing, no latency.
class LeanDrive {
 public:
  LeanDrive() : memory_(16u << 20) { flashId_[0] = 0xBF, flashId_[1] = 0xD8, flashId_[3] = 0x05; }

  std::optional<bool> Answer(const test::IoctlCall& call) {
    if (call.code != win::kIoctlScsiPassThroughDirect) return std::nullopt;
    auto& request = *static_cast<ScsiPassThroughDirect*>(call.in);
    const uint8_t* cdb = request.Cdb;
    auto* data = static_cast<uint8_t*>(request.DataBuffer);
    const uint32_t offset = Be24(cdb + 3), length = Be24(cdb + 6);
    if (cdb[0] == 0x3B && cdb[9] == 0x00 && length == kBlock) {
      std::memcpy(memory_.data() + offset, data, length);
    } else if (cdb[0] == 0x3C) {
      std::memcpy(data, memory_.data() + offset, length);
    } else if (cdb[0] == 0xDF) {
      std::memcpy(data, flashId_, sizeof flashId_);
    }
    return true;
  }

 private:
  std::vector<uint8_t> memory_;
  uint8_t flashId_[128] = {};
};

// The memory traffic the download procedure itself must cause per block: the write-and-verify
// pass, then the whole read-back pass (copy the block to compare against, prepare the in-buffer,
// compare).
void BM_MemoryFloor(benchmark::State& state) {
  const std::vector<uint8_t> image = MakeImage();
  std::vector<uint8_t> out(65536), in(65536);
  for (auto _ : state) {
    for (int pass = 0; pass < 2; ++pass) {
      for (int n = 0; n < kBlocks; ++n) {
        const uint8_t* block = image.data() + size_t(n) * kBlock;
        if (pass == 0) std::memset(out.data(), 0, kBlock);
        std::memset(in.data(), 0, kBlock);
        std::memcpy(out.data(), block, kBlock);
        benchmark::ClobberMemory();
        int same = std::memcmp(out.data(), block, kBlock);
        benchmark::DoNotOptimize(same);
      }
    }
  }
  state.SetBytesProcessed(state.iterations() * kImageBytes);
}
BENCHMARK(BM_MemoryFloor)->Unit(benchmark::kMicrosecond);

// One engine addressing drive E: of a simulated machine whose counter jumps a whole second per
// read, so that the settle wait takes two reads.
struct DownloadSetup {
  sim::SimMachine machine;
  std::shared_ptr<sim::SimDrive> drive;
  std::unique_ptr<test::PlatformTap> tap;
  std::unique_ptr<AtapiDevice> engine;

  DownloadSetup() {
    machine.ticksPerCounterRead = machine.counterFrequency;
    drive = machine.AddLetterDrive('E', 1);
    tap = std::make_unique<test::PlatformTap>(machine);
    engine = std::make_unique<AtapiDevice>();
    engine->SelectDevice(0);
  }
};

void BM_DownloadLeanDrive(benchmark::State& state) {
  const std::vector<uint8_t> image = MakeImage();
  DownloadSetup setup;
  LeanDrive lean;
  setup.tap->beforeIoctl = [&](const test::IoctlCall& call) { return lean.Answer(call); };
  for (auto _ : state) {
    if (!setup.engine->DownloadFirmware(image.data(), kImageBytes, 0)) {
      state.SkipWithError("download failed");
      break;
    }
  }
  state.SetBytesProcessed(state.iterations() * kImageBytes);
}
BENCHMARK(BM_DownloadLeanDrive)->Unit(benchmark::kMicrosecond);

void BM_WriteAndVerifyLeanDrive(benchmark::State& state) {
  const std::vector<uint8_t> image = MakeImage();
  DownloadSetup setup;
  LeanDrive lean;
  setup.tap->beforeIoctl = [&](const test::IoctlCall& call) { return lean.Answer(call); };
  setup.engine->SetRetry(true);
  for (auto _ : state) {
    if (!setup.engine->WriteAndVerify(image.data(), kImageBytes)) {
      state.SkipWithError("write and verify failed");
      break;
    }
  }
  state.SetBytesProcessed(state.iterations() * kImageBytes);
}
BENCHMARK(BM_WriteAndVerifyLeanDrive)->Unit(benchmark::kMicrosecond);

void BM_DownloadSimDrive(benchmark::State& state) {
  const std::vector<uint8_t> image = MakeImage();
  DownloadSetup setup;
  for (auto _ : state) {
    setup.drive->ResetRecord();
    if (!setup.engine->DownloadFirmware(image.data(), kImageBytes, 0)) {
      state.SkipWithError("download failed");
      break;
    }
  }
  state.SetBytesProcessed(state.iterations() * kImageBytes);
}
BENCHMARK(BM_DownloadSimDrive)->Unit(benchmark::kMicrosecond);

// (b) range(0) drives at once, each command delayed by range(1) microseconds of real time.
void BM_ParallelDrives(benchmark::State& state) {
  const int drives = int(state.range(0));
  const auto latency = std::chrono::microseconds(state.range(1));
  const std::vector<uint8_t> image = MakeImage();

  sim::SimMachine machine;
  machine.ticksPerCounterRead = machine.counterFrequency / 10;
  std::vector<std::shared_ptr<sim::SimDrive>> simDrives;
  for (int i = 0; i < drives; ++i) {
    simDrives.push_back(machine.AddLetterDrive(char('E' + i), uint8_t(1 + i)));
  }
  test::PlatformTap tap(machine);
  tap.beforeIoctl = [&](const test::IoctlCall& call) -> std::optional<bool> {
    // Outside the simulated machine's lock, so the drives' latencies overlap as real ones do.
    if (call.code == win::kIoctlScsiPassThroughDirect) std::this_thread::sleep_for(latency);
    return std::nullopt;
  };
  AtapiDevice list;
  std::vector<std::unique_ptr<AtapiDevice>> engines;
  for (int i = 0; i < drives; ++i) {
    engines.push_back(std::make_unique<AtapiDevice>(false));
    list.CopyInto(engines.back().get());
    engines.back()->SelectDevice(int16_t(i));
  }

  for (auto _ : state) {
    int finished = 0;
    for (auto& engine : engines) {
      FlashJob job;
      job.engine = engine.get();
      job.image = image.data();
      job.size = kImageBytes;
      new Parser(job, [&finished](Parser*) { ++finished; });
    }
    machine.dispatcher().PumpUntil([&] { return finished == drives && Parser::Running() == 0; },
                                   600.0);
    state.PauseTiming();
    for (auto& engine : engines) {
      if (engine->FlashResult != 0) state.SkipWithError("a download failed");
    }
    for (auto& drive : simDrives) drive->ResetRecord();
    state.ResumeTiming();
  }
}
BENCHMARK(BM_ParallelDrives)
    ->ArgNames({"drives", "latency_us"})
    ->Args({1, 2000})
    ->Args({16, 2000})
    ->Iterations(3)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

// (c) The seal check at start-up of a sealed package with an intact block.
void BM_SealCheck(benchmark::State& state) {
  std::vector<uint8_t> block = MakeImage();
  block.resize(layout::kBlockBytes, 0x5A);
  std::vector<uint8_t> record(seal::kRecordBytes);
  seal::Write(record.data(), block.data());
  for (auto _ : state) {
    if (seal::Check(record.data(), block.data()) != seal::State::Verified) {
      state.SkipWithError("seal not verified");
      break;
    }
  }
  state.SetBytesProcessed(state.iterations() * int64_t{layout::kBlockBytes});
}
BENCHMARK(BM_SealCheck)->Unit(benchmark::kMillisecond);

// (d) The signature check of a signed flasher read from its file: the anchors loaded (the
// system's bundle when QUOREL_BENCH_TRUST is not set) and the whole check, as quorel-flash does it.
void BM_SignatureCheck(benchmark::State& state) {
  const char* flasher = std::getenv("QUOREL_BENCH_SIGNED");
  if (flasher == nullptr) {
    state.SkipWithError("QUOREL_BENCH_SIGNED names no signed flasher (see bench/README.md)");
    return;
  }
  const std::vector<uint8_t> file = pack::ReadWholeFile(flasher);
  const char* trust = std::getenv("QUOREL_BENCH_TRUST");
  for (auto _ : state) {
    const signature::TrustAnchors anchors = trust != nullptr
                                                ? signature::TrustAnchors::FromFiles({trust})
                                                : signature::TrustAnchors::System();
    // The whole check runs whether or not the chain ends at these anchors.
    const signature::State checked = signature::Check(file, &anchors).state;
    if (checked != signature::State::Trusted && checked != signature::State::Untrusted) {
      state.SkipWithError("QUOREL_BENCH_SIGNED is not a signed flasher whose digest matches");
      break;
    }
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(file.size()));
}
BENCHMARK(BM_SignatureCheck)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace quorel

BENCHMARK_MAIN();
