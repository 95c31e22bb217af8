// Benchmark of the launcher on Linux; prints figures, asserts nothing.
//
//   launcher_bench [files=2000] [megabytes=200] [runs=50] [rounds=3]
//
// Kivo9 and recorder are taken from the directory of this program. It measures:
// 1. the launcher's whole run with no pending update (the user waits for it at every start),
//    as wall time and as the CPU time of the process (which load on the machine disturbs less);
// 2. the pause of the wait switch ("-wkivo 1");
// 3. the install of an update tree of the given size: the launcher's whole run with the
//    tree pending (into an installation without those files, over the same tree again, and
//    with Resource/files.lst, whose hashes it checks), beside `cp -a` of the update tree into the
//    data directory plus `rm -rf` of the update tree on the same disk, and the tree copy and tree
//    removal of CDiskObject on their own beside `cp -a` and `rm -rf`. Each starts from a freshly
//    staged update tree (cached, synced); the copies write new files.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "disk_object/disk_object.h"
#include "platform/crypto.h"
#include "platform/process.h"
#include "platform/text.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

struct Timing {
  double wallMs = 0;
  double cpuMs = 0;
};

double Milliseconds(Clock::duration d) {
  return std::chrono::duration<double, std::milli>(d).count();
}

// Runs a program to its end; wall time and the CPU time of the process itself.
Timing Run(const std::vector<std::string>& command) {
  std::vector<char*> argv;
  for (const auto& a : command) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  const auto start = Clock::now();
  const pid_t pid = fork();
  if (pid == 0) {
    execv(argv[0], argv.data());
    _exit(127);
  }
  int status = 0;
  struct rusage usage {};
  wait4(pid, &status, 0, &usage);
  Timing t;
  t.wallMs = Milliseconds(Clock::now() - start);
  t.cpuMs = (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 +
            (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::fprintf(stderr, "%s failed\n", command[0].c_str());
    std::exit(1);
  }
  return t;
}

double Shell(const std::string& command) { return Run({"/bin/sh", "-c", command}).wallMs; }

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

void WriteFile(const fs::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

// files files in 40 x 7 directories, sizes spread around the mean, megabytes in all.
void MakeUpdateTree(const fs::path& root, int files, int megabytes, const fs::path& browser) {
  const std::size_t total = static_cast<std::size_t>(megabytes) << 20;
  const std::size_t mean = total / files;
  std::mt19937 random(9);
  std::string block(2 * mean, '\0');
  for (char& c : block) c = static_cast<char>(random());
  std::size_t written = 0;
  for (int i = 0; i < files; ++i) {
    const fs::path dir = root / ("dir" + std::to_string(i % 40)) / ("sub" + std::to_string(i % 7));
    fs::create_directories(dir);
    std::size_t size = mean / 2 + (static_cast<std::size_t>(i) * 7919) % mean;
    if (i == files - 1) size = total > written ? std::min(total - written, 2 * mean) : 0;
    WriteFile(dir / ("file" + std::to_string(i) + ".dat"), block.substr(0, size));
    written += size;
  }
  fs::copy_file(browser, root / "Kivo9.exe");
}

// The same tree with Resource/files.lst, as the publisher writes it ("sha256 size path").
void AddFileList(const fs::path& root) {
  std::string list;
  std::vector<char> buffer(1 << 16);
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    if (!entry.is_regular_file()) continue;
    std::ifstream in(entry.path(), std::ios::binary);
    platform::Sha256 hash;
    std::uint64_t size = 0;
    while (in.read(buffer.data(), static_cast<std::streamsize>(buffer.size())) || in.gcount()) {
      hash.Update(buffer.data(), static_cast<std::size_t>(in.gcount()));
      size += static_cast<std::uint64_t>(in.gcount());
    }
    list += platform::HexDigest(hash.Finish()) + " " + std::to_string(size) + " " +
            entry.path().lexically_relative(root).generic_string() + "\n";
  }
  fs::create_directories(root / "Resource");
  WriteFile(root / "Resource" / "files.lst", list);
}

void Sync() { sync(); }

struct Bench {
  fs::path bin;
  fs::path work;
  fs::path install;
  fs::path data;
  fs::path launcher;
  std::size_t starts = 0;  // browsers started so far

  Timing Launch(const std::vector<std::string>& arguments) {
    std::vector<std::string> command{launcher.string()};
    command.insert(command.end(), arguments.begin(), arguments.end());
    ++starts;
    return Run(command);
  }

  void Setup() {
    fs::create_directories(data);
    fs::copy_file(bin / "Kivo9", launcher);
    fs::copy_file(bin / "recorder", data / "Kivo9.exe");
  }

  // Waits until the browsers started so far have written their records and left, so that
  // none holds its file when the next install replaces it.
  void SettleBrowsers() {
    for (int i = 0; i < 2000; ++i) {
      std::ifstream in(data / "Kivo9.exe.record");
      std::size_t ends = 0;
      for (std::string line; std::getline(in, line);) ends += line == "end";
      if (ends >= starts) break;
      platform::SleepMilliseconds(5);
    }
    platform::SleepMilliseconds(20);
  }

  void PlainStart(int runs) {
    std::vector<double> wall, cpu;
    for (int i = 0; i < runs; ++i) {
      const Timing t = Launch({"page.htm"});
      wall.push_back(t.wallMs);
      cpu.push_back(t.cpuMs);
    }
    SettleBrowsers();
    std::printf(
        "launcher run, no pending update (%d runs): wall median %.2f ms (min %.2f), "
        "CPU median %.2f ms\n",
        runs, Median(wall), *std::min_element(wall.begin(), wall.end()), Median(cpu));
    // For scale: a process that starts, writes a small file and ends.
    std::vector<double> baseWall, baseCpu;
    for (int i = 0; i < runs; ++i) {
      const Timing t = Run({(data / "Kivo9.exe").string(), "page.htm"});
      baseWall.push_back(t.wallMs);
      baseCpu.push_back(t.cpuMs);
    }
    std::printf("  for scale, the recorder alone: wall median %.2f ms, CPU median %.2f ms\n",
                Median(baseWall), Median(baseCpu));
    const Timing wait = Launch({"-wkivo", "1"});
    SettleBrowsers();
    std::printf("launcher run with \"-wkivo 1\": %.0f ms (a pause of 1000 ms expected)\n",
                wait.wallMs);
  }

  void ClearInstalledTree() {
    for (const auto& entry : fs::directory_iterator(data)) {
      if (entry.path().filename().string().rfind("dir", 0) == 0) fs::remove_all(entry.path());
    }
  }

  // Puts a fresh update tree in place and lets the disk settle, so that every measured step
  // starts from the same state: source cached, nothing left to write.
  void StageUpdate(const fs::path& master, const fs::path& update) {
    Shell("cp -a '" + master.string() + "' '" + update.string() + "'");
    Sync();
  }

  // Each step does what the install does: copy from the update tree into the data
  // directory, then remove the update tree, with no sync in between.
  double InstallOnce(const fs::path& tree, const fs::path& update) {
    StageUpdate(tree, update);
    const double ms = Launch({}).wallMs;
    if (fs::exists(update)) {
      std::fprintf(stderr, "the install did not complete\n");
      std::exit(1);
    }
    SettleBrowsers();
    return ms;
  }

  void Install(const fs::path& master, const fs::path& listedMaster, int rounds, int files,
               int megabytes) {
    const fs::path update = data / "update";
    const std::string quotedUpdate = "'" + update.string() + "'";
    std::vector<double> whole, replacing, listed, cpRm, cp, rm, treeCopy, treeDelete;
    for (int round = 0; round < rounds; ++round) {
      whole.push_back(InstallOnce(master, update));      // every file new
      replacing.push_back(InstallOnce(master, update));  // every file replaced
      ClearInstalledTree();
      listed.push_back(InstallOnce(listedMaster, update));  // checked against its list
      ClearInstalledTree();

      StageUpdate(master, update);
      cp.push_back(Shell("cp -a " + quotedUpdate + "/. '" + data.string() + "'"));
      rm.push_back(Shell("rm -rf " + quotedUpdate));
      cpRm.push_back(cp.back() + rm.back());
      ClearInstalledTree();

      StageUpdate(master, update);  // the tree utility alone, in this process
      CDiskObject disk;
      const std::wstring from = platform::FromUtf8(update.string());
      auto start = Clock::now();
      disk.CopyFolderTree(from, platform::FromUtf8(data.string()), true);
      treeCopy.push_back(Milliseconds(Clock::now() - start));
      start = Clock::now();
      disk.DeleteFolderTree(from);
      treeDelete.push_back(Milliseconds(Clock::now() - start));
      ClearInstalledTree();
    }
    // The disk's own state (write-back, discard) makes single rounds vary; all are shown.
    for (std::size_t i = 0; i < whole.size(); ++i) {
      std::printf(
          "  round %zu: install %.0f (over the same tree %.0f, with files.lst %.0f), "
          "cp -a %.0f + rm -rf %.0f, CopyFolderTree %.0f, DeleteFolderTree %.0f ms\n",
          i + 1, whole[i], replacing[i], listed[i], cp[i], rm[i], treeCopy[i], treeDelete[i]);
    }
    std::printf("update tree: %d files, %d MB; medians of %d rounds\n", files, megabytes, rounds);
    std::printf("  install (whole launcher run) %.0f ms vs cp -a + rm -rf %.0f ms: ratio %.2f\n",
                Median(whole), Median(cpRm), Median(whole) / Median(cpRm));
    std::printf("  install over the same tree (every file replaced) %.0f ms: ratio %.2f\n",
                Median(replacing), Median(replacing) / Median(cpRm));
    std::printf("  install checked against files.lst (SHA-256 of every file) %.0f ms: ratio %.2f\n",
                Median(listed), Median(listed) / Median(cpRm));
    std::printf("  CopyFolderTree %.0f ms vs cp -a %.0f ms: ratio %.2f\n", Median(treeCopy),
                Median(cp), Median(treeCopy) / Median(cp));
    std::printf("  DeleteFolderTree %.0f ms vs rm -rf %.0f ms: ratio %.2f\n", Median(treeDelete),
                Median(rm), Median(treeDelete) / Median(rm));
  }
};

int Argument(int argc, char** argv, int index, int fallback) {
  return argc > index ? std::atoi(argv[index]) : fallback;
}

}  // namespace

int main(int argc, char** argv) {
  const int files = Argument(argc, argv, 1, 2000);
  const int megabytes = Argument(argc, argv, 2, 200);
  const int runs = Argument(argc, argv, 3, 50);
  const int rounds = Argument(argc, argv, 4, 3);

  Bench bench;
  bench.bin = fs::path(platform::ToUtf8(platform::OwnExecutablePath())).parent_path();
  const char* tmp = std::getenv("TMPDIR");
  const std::string base = (tmp != nullptr && *tmp != '\0') ? tmp : "/tmp";
  std::string dir = base + "/kivo-bench-XXXXXX";
  if (mkdtemp(dir.data()) == nullptr) return 1;
  bench.work = dir;
  bench.install = bench.work / "install";
  bench.data = bench.install / "Kivo9Data";
  bench.launcher = bench.install / "Kivo9";
  bench.Setup();

  bench.PlainStart(runs);
  const fs::path master = bench.work / "master";
  MakeUpdateTree(master, files, megabytes, bench.bin / "recorder");
  const fs::path listedMaster = bench.work / "listed";
  MakeUpdateTree(listedMaster, files, megabytes, bench.bin / "recorder");
  AddFileList(listedMaster);
  bench.Install(master, listedMaster, rounds, files, megabytes);
  fs::remove_all(bench.work);
  return 0;
}
