// The key-value example service under load: requests per second for 1, 4 and 16 clients, each
// on its own connection, doing 90 % gets and 10 % puts of 100-byte STR values over 1000 keys.
// The server runs in this process, on a thread of its own, on a free loopback port named in a
// services file (the tests' helper); its log is written as in the real server (records reach
// the system at once, the disk once a second).
//
// The work is spread over client and server threads, so the figure is items per second of
// real time (UseRealTime), not CPU time.

#include <cstdint>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <thread>

#include <benchmark/benchmark.h>

#include <wygl/qmgl_timer.h>

#include "kv_client.h"
#include "kv_server.h"
#include "kv_service.h"
#include "support/loopback_services.h"

namespace {

constexpr int key_count = 1000;

std::string key_of(unsigned n) {
  return "key" + std::to_string(n % key_count);
}

// The service on a free loopback port named in a services file, served on a thread.
class bench_server {
 public:
  bench_server()
      : _folder(std::filesystem::temp_directory_path() /
                ("wygl-kv-bench-" + std::to_string(std::random_device{}()))),
        _service(_folder.string()),
        _name(_services.add("kv-bench")) {
    std::filesystem::create_directories(_folder);
    _service.open();
    qmgl_timer::create();
    _service.start_timers(kv_periods{});
    _server = std::make_unique<kv_server>(_service, _name);
    _runner = std::thread([this] { _server->run(); });
    kv_client kv(_name.c_str(), "127.0.0.1");
    std::string const value(100, 'v');
    for (unsigned n = 0; n < key_count; ++n)
      kv.call({"put", key_of(n).c_str(), value.c_str()});
  }

  ~bench_server() {
    _server->stop();
    _runner.join();
    _server.reset();
    _service.close();
    qmgl_timer::destroy();
    std::error_code ignored;
    std::filesystem::remove_all(_folder, ignored);
  }

  std::string const& name() const { return _name; }

 private:
  std::filesystem::path _folder;
  kv_service _service;
  loopback_services _services;
  std::string const _name;
  std::unique_ptr<kv_server> _server;
  std::thread _runner;
};

bench_server& server() {
  static bench_server running;
  return running;
}

void BM_KvMixed(benchmark::State& state) {
  kv_client kv(server().name().c_str(), "127.0.0.1");
  std::minstd_rand pick(static_cast<unsigned>(state.thread_index()) + 1);
  std::string const value(100, 'w');
  for (auto _ : state) {
    unsigned const r = pick();
    if (r % 10 == 0)
      benchmark::DoNotOptimize(kv.call({"put", key_of(r / 10).c_str(), value.c_str()}));
    else
      benchmark::DoNotOptimize(kv.call({"get", key_of(r / 10).c_str()}));
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_KvMixed)->Threads(1)->Threads(4)->Threads(16)->UseRealTime();

}  // namespace
