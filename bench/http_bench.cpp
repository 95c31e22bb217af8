// Downloads one large body from a loopback server into a file, with the agent's download
// client (plain, and checked against a signed size and SHA-256 as it streams) and with
// `curl -o`, and prints the times, their ratios to curl, the agent's peak memory and, as the
// floor of a checked download on one core, the time SHA-256 alone takes over the body.
//
//   http_bench [megabytes [directory [megabytes-per-second]]]
//
// By default 256 MB in the temporary directory, as fast as loopback carries it; a rate paces
// the server as a slower link would.
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "agent/http/block_file_sink.h"
#include "agent/http/checked_body_sink.h"
#include "agent/http/http_downloader.h"
#include "platform/crypto.h"
#include "platform/files.h"
#include "platform/text.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

pid_t Spawn(std::vector<std::string> args) {
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  pid_t pid = -1;
  if (posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return -1;
  return pid;
}

int Wait(pid_t pid) {
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

long long FileSize(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0 ? static_cast<long long>(info.st_size) : -1;
}

// Waits for the server to write its port; "" when it does not within ten seconds.
std::string WaitForPort(const std::string& portFile) {
  for (int i = 0; i < 200; ++i) {
    std::ifstream in(portFile);
    std::string port;
    if (in >> port) return port;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return "";
}

// Wall time and processor time (user + system) of one download; wall < 0 when it failed.
struct Timing {
  double wall = -1;
  double cpu = 0;
};

double CpuSeconds(int who) {
  rusage usage{};
  getrusage(who, &usage);
  const auto seconds = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

template <typename Download>
Timing Measure(int who, Download download) {
  const double cpu = CpuSeconds(who);
  const auto start = Clock::now();
  const bool ok = download();
  Timing timing;
  timing.wall = ok ? std::chrono::duration<double>(Clock::now() - start).count() : -1;
  timing.cpu = CpuSeconds(who) - cpu;
  return timing;
}

Timing AgentDownload(const std::string& url, const std::string& path) {
  return Measure(RUSAGE_SELF, [&] {
    return CHttpDownloader().DownloadToFile(platform::FromUtf8(url), platform::FromUtf8(path)) == 1;
  });
}

Timing VerifiedDownload(const std::string& url, const std::string& path,
                        const ExpectedFile& expected) {
  return Measure(RUSAGE_SELF, [&] {
    BlockFileSink file(platform::FromUtf8(path));
    CheckedBodySink checked(file, UINT64_MAX, expected);
    return CHttpDownloader().Fetch(platform::FromUtf8(url), checked, TransferLimits::File()).stored;
  });
}

// The size and hash of the body the loopback server makes: its fill repeated, anew in
// every block of 1 MiB.
ExpectedFile ServedBody(long long bytes) {
  constexpr long long kBlock = 1 << 20;
  std::string block;
  while (static_cast<long long>(block.size()) < kBlock) block += "0123456789";
  platform::Sha256 hash;
  for (long long left = bytes; left > 0; left -= kBlock) {
    hash.Update(block.data(), static_cast<std::size_t>(left < kBlock ? left : kBlock));
  }
  return ExpectedFile{static_cast<std::uint64_t>(bytes), hash.Finish()};
}

// curl is a child process: its processor time shows among the waited-for children.
Timing CurlDownload(const std::string& url, const std::string& path) {
  return Measure(RUSAGE_CHILDREN, [&] {
    return Wait(Spawn({"curl", "-s", "--noproxy", "*", "-o", path, url})) == 0;
  });
}

void KeepBest(Timing& best, const Timing& next) {
  if (best.wall < 0 || (next.wall >= 0 && next.wall < best.wall)) best = next;
}

}  // namespace

int main(int argc, char** argv) {
  const long long megabytes = argc > 1 ? std::atoll(argv[1]) : 256;
  const long long bytes = megabytes << 20;
  const std::string parent =
      argc > 2 ? std::string(argv[2]) + "/" : platform::ToUtf8(platform::TempDirectory());
  std::string dir = parent + "kivo-http-bench-XXXXXX";
  if (mkdtemp(dir.data()) == nullptr) return 1;
  const long long rate = argc > 3 ? std::atoll(argv[3]) << 20 : 0;
  std::ofstream(dir + "/script.json") << R"({"routes": {"*/package.rar": [{"body_size": )" << bytes
                                      << R"(, "bytes_per_second": )" << rate << "}]}}";
  const pid_t server = Spawn({KIVO_PYTHON, KIVO_HTTP_SERVER, "--script", dir + "/script.json",
                              "--port-file", dir + "/port"});
  const std::string port = WaitForPort(dir + "/port");
  unsetenv("http_proxy");  // loopback, straight to the server
  const std::string url = "http://127.0.0.1:" + port + "/package.rar";
  constexpr int kRounds = 3;
  const auto hashStart = Clock::now();
  const ExpectedFile expected = ServedBody(bytes);
  const double hashSeconds = std::chrono::duration<double>(Clock::now() - hashStart).count();
  Timing agent;
  Timing verified;
  Timing curl;
  for (int round = 0; round < kRounds && !port.empty(); ++round) {
    // Each goes first in turn: the write-back of the last big file slows the next download.
    for (const char* name : {"/agent.rar", "/verified.rar", "/curl.rar"}) {
      std::remove((dir + name).c_str());
    }
    if (round % 2 == 1) KeepBest(curl, CurlDownload(url, dir + "/curl.rar"));
    KeepBest(agent, AgentDownload(url, dir + "/agent.rar"));
    KeepBest(verified, VerifiedDownload(url, dir + "/verified.rar", expected));
    if (round % 2 == 0) KeepBest(curl, CurlDownload(url, dir + "/curl.rar"));
    if (FileSize(dir + "/agent.rar") != bytes || FileSize(dir + "/curl.rar") != bytes ||
        verified.wall < 0) {
      agent.wall = -1;
      break;
    }
  }
  if (server > 0) {
    kill(server, SIGTERM);
    Wait(server);
  }
  for (const char* name : {"/agent.rar", "/verified.rar", "/curl.rar", "/script.json", "/port"}) {
    std::remove((dir + name).c_str());
  }
  rmdir(dir.c_str());
  if (agent.wall <= 0 || curl.wall <= 0) {
    std::printf("http_bench: a download failed (server port \"%s\")\n", port.c_str());
    return 1;
  }
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  std::printf("body %lld MB, best of %d rounds        wall      processor\n", megabytes, kRounds);
  if (rate > 0) std::printf("server paced at %lld MB/s\n", rate >> 20);
  std::printf("DownloadToFile                     %7.3f s  %7.3f s  (%.0f MB/s)\n", agent.wall,
              agent.cpu, megabytes / agent.wall);
  std::printf("Fetch, signed size and SHA-256     %7.3f s  %7.3f s  (%.0f MB/s)\n", verified.wall,
              verified.cpu, megabytes / verified.wall);
  std::printf("curl -o                            %7.3f s  %7.3f s  (%.0f MB/s)\n", curl.wall,
              curl.cpu, megabytes / curl.wall);
  std::printf("SHA-256 of the body alone           %7.3f s\n", hashSeconds);
  std::printf("ratio agent/curl                   %7.2f    %7.2f\n", agent.wall / curl.wall,
              agent.cpu / curl.cpu);
  std::printf("ratio signed/curl                  %7.2f    %7.2f\n", verified.wall / curl.wall,
              verified.cpu / curl.cpu);
  std::printf("agent peak memory (ru_maxrss)      %.1f MB\n", usage.ru_maxrss / 1024.0);
  return 0;
}
