// A small fuzzing driver for targets written to libFuzzer's interface: the
// target file defines
//
//   extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);
//
// (and optionally LLVMFuzzerInitialize), and this file gives the program its
// main(). g++ has no libFuzzer, so the driver has no coverage feedback: it runs
// the seed inputs, then inputs made from them by random mutations, from a
// seeded generator, so that a run with the same seed makes the same inputs.
// The build adds AddressSanitizer and UndefinedBehaviorSanitizer; a target
// reports a wrong result by aborting. When an input crashes, it is written to
// crash-<target>-<run>.bin in the current folder before the process dies.
//
//   fuzz_<target> [-seed=N] [-runs=N] [-seconds=S] [-max_len=N] [FILE|DIR ...]
//
// FILE and DIR name seed inputs (every file of a DIR). With -runs=0 only the
// seed inputs run, which is how a saved crash is replayed.
#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

#if defined(__has_include)
#if __has_include(<sanitizer/common_interface_defs.h>)
#include <sanitizer/common_interface_defs.h>
#define VIDUZO_FUZZ_DEATH_CALLBACK 1
#endif
#endif

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);
extern "C" __attribute__((weak)) int LLVMFuzzerInitialize(int* argc, char*** argv);

namespace {

using Input = std::vector<uint8_t>;

// The input being run, for the crash handlers.
const Input* g_current = nullptr;
unsigned long long g_run = 0;
char g_crashPath[512] = "";

// splitmix64: small, fast and the same on every machine.
struct Random {
  uint64_t state;
  uint64_t Next() {
    uint64_t z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  size_t Below(size_t n) { return n ? static_cast<size_t>(Next() % n) : 0; }
};

// Writes the current input where the crash message says; only calls that are
// safe in a signal handler.
void SaveCurrentInput() {
  if (!g_current || !g_crashPath[0]) return;
  int fd = open(g_crashPath, O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd >= 0) {
    if (!g_current->empty()) {
      ssize_t ignored = write(fd, g_current->data(), g_current->size());
      (void)ignored;
    }
    close(fd);
  }
  const char note[] = "\nfuzz: the crashing input is saved in ";
  ssize_t ignored = write(2, note, sizeof note - 1);
  ignored = write(2, g_crashPath, std::strlen(g_crashPath));
  ignored = write(2, "\n", 1);
  (void)ignored;
  g_current = nullptr;
}

void OnSignal(int signal) {
  SaveCurrentInput();
  std::signal(signal, SIG_DFL);
  std::raise(signal);
}

void Mutate(Input& in, Random& rng, size_t maxLength, const std::vector<Input>& corpus) {
  static const uint8_t kInteresting[] = {0x00, 0x01, 0x7F, 0x80, 0xFF, 0x5C, 0x2C, 0x81, 0x9F};
  switch (rng.Below(8)) {
    case 0:  // flip a bit
      if (!in.empty()) in[rng.Below(in.size())] ^= static_cast<uint8_t>(1u << rng.Below(8));
      break;
    case 1:  // a random byte
      if (!in.empty()) in[rng.Below(in.size())] = static_cast<uint8_t>(rng.Next());
      break;
    case 2:  // an interesting byte
      if (!in.empty()) in[rng.Below(in.size())] = kInteresting[rng.Below(sizeof kInteresting)];
      break;
    case 3: {  // insert random bytes
      size_t count = 1 + rng.Below(8);
      size_t at = rng.Below(in.size() + 1);
      for (size_t i = 0; i < count; ++i)
        in.insert(in.begin() + static_cast<long>(at), static_cast<uint8_t>(rng.Next()));
      break;
    }
    case 4: {  // erase a range
      if (in.empty()) break;
      size_t at = rng.Below(in.size());
      size_t count = 1 + rng.Below(in.size() - at);
      in.erase(in.begin() + static_cast<long>(at), in.begin() + static_cast<long>(at + count));
      break;
    }
    case 5: {  // repeat a range
      if (in.empty()) break;
      size_t at = rng.Below(in.size());
      size_t count = 1 + rng.Below(std::min<size_t>(in.size() - at, 64));
      Input chunk(in.begin() + static_cast<long>(at), in.begin() + static_cast<long>(at + count));
      size_t times = 1 + rng.Below(16);
      for (size_t i = 0; i < times; ++i) in.insert(in.end(), chunk.begin(), chunk.end());
      break;
    }
    case 6: {  // splice with another input
      if (corpus.empty()) break;
      const Input& other = corpus[rng.Below(corpus.size())];
      size_t keep = rng.Below(in.size() + 1);
      size_t from = rng.Below(other.size() + 1);
      in.resize(keep);
      in.insert(in.end(), other.begin() + static_cast<long>(from), other.end());
      break;
    }
    default:  // cut the end
      if (!in.empty()) in.resize(rng.Below(in.size()));
      break;
  }
  if (in.size() > maxLength) in.resize(maxLength);
}

bool ReadInput(const std::filesystem::path& path, std::vector<Input>* seeds) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return false;
  seeds->emplace_back(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
  return true;
}

void Run(const Input& in) {
  g_current = &in;
  ++g_run;
  // A fresh copy of exactly the input's size, so that a read past its end is
  // caught by the address sanitizer.
  uint8_t* copy = static_cast<uint8_t*>(std::malloc(in.size() ? in.size() : 1));
  if (!in.empty()) std::memcpy(copy, in.data(), in.size());
  LLVMFuzzerTestOneInput(copy, in.size());
  std::free(copy);
  g_current = nullptr;
}

}  // namespace

int main(int argc, char** argv) {
  if (LLVMFuzzerInitialize) LLVMFuzzerInitialize(&argc, &argv);
  uint64_t seed = 1;
  unsigned long long runs = 100000;
  double seconds = 10;
  size_t maxLength = 4096;
  std::vector<Input> corpus;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    auto value = [&](const char* name) -> const char* {
      size_t n = std::strlen(name);
      return arg.compare(0, n, name) == 0 ? arg.c_str() + n : nullptr;
    };
    if (const char* v = value("-seed=")) {
      seed = std::strtoull(v, nullptr, 10);
    } else if (const char* v = value("-runs=")) {
      runs = std::strtoull(v, nullptr, 10);
    } else if (const char* v = value("-seconds=")) {
      seconds = std::strtod(v, nullptr);
    } else if (const char* v = value("-max_len=")) {
      maxLength = std::strtoull(v, nullptr, 10);
    } else if (std::filesystem::is_directory(arg)) {
      for (const auto& entry : std::filesystem::directory_iterator(arg))
        if (entry.is_regular_file()) ReadInput(entry.path(), &corpus);
    } else if (!ReadInput(arg, &corpus)) {
      std::fprintf(stderr, "fuzz: cannot read %s\n", arg.c_str());
      return 2;
    }
  }
  // Directory order differs between file systems: the seeds are sorted so that
  // a seed number makes the same inputs everywhere.
  std::sort(corpus.begin(), corpus.end());
  if (corpus.empty()) corpus.emplace_back();

  std::string target = std::filesystem::path(argv[0]).filename().string();
  for (int s : {SIGABRT, SIGSEGV, SIGFPE, SIGILL, SIGBUS}) std::signal(s, OnSignal);
#ifdef VIDUZO_FUZZ_DEATH_CALLBACK
  __sanitizer_set_death_callback(SaveCurrentInput);
#endif

  auto started = std::chrono::steady_clock::now();
  auto elapsed = [&] {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  };
  auto name = [&] {
    std::snprintf(g_crashPath, sizeof g_crashPath, "crash-%s-%llu.bin", target.c_str(), g_run);
  };
  for (const Input& in : corpus) {
    name();
    Run(in);
  }
  Random rng{seed};
  // Recent inputs are mutated further, so that mutations stack up.
  std::vector<Input> recent = corpus;
  unsigned long long made = 0;
  while (made < runs && elapsed() < seconds) {
    Input in = recent[rng.Below(recent.size())];
    size_t rounds = 1 + rng.Below(5);
    for (size_t i = 0; i < rounds; ++i) Mutate(in, rng, maxLength, corpus);
    name();
    Run(in);
    ++made;
    if (recent.size() < 256)
      recent.push_back(in);
    else
      recent[rng.Below(recent.size())] = in;
  }
  std::printf("fuzz: %s ran %zu seed inputs and %llu mutated inputs in %.1f s (seed %llu)\n",
              target.c_str(), corpus.size(), made, elapsed(),
              static_cast<unsigned long long>(seed));
  return 0;
}
