#include "datagen.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <map>
#include <thread>
#include <vector>

#include "platform/platform.h"

namespace train {

namespace {

constexpr uint64_t kStopIndex = ~uint64_t{0};  // sent to a worker: no more games
constexpr uint32_t kChunkGames = 64;           // a chunk is written at the latest after this many games
constexpr int kWorkerNoMemory = 3;

volatile sig_atomic_t stopSignal = 0;
void onStopSignal(int) { stopSignal = 1; }

// A finished game as a worker sends it, followed by its records.
struct GameMessage {
  uint64_t index;
  uint32_t records;
  uint16_t plies;
  uint8_t result;
  uint8_t reserved;
};

struct Worker {
  pid_t pid = -1;
  int toWorker = -1;
  int fromWorker = -1;
  bool busy = false;
};

// This run's games as they are written, for the progress lines.
struct Tally {
  uint64_t games = 0, positions = 0, plies = 0;
  uint64_t results[3] = {0, 0, 0};  // by GameResult
};

// Moves all of the bytes with io(done) (a read or a write of what is left),
// going on after interruptions; false on an error or an early end.
template <typename Io>
bool transferAll(size_t bytes, Io io) {
  size_t done = 0;
  while (done < bytes) {
    const ssize_t n = io(done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

bool readFull(int fd, void* data, size_t bytes) {
  auto* p = static_cast<char*>(data);
  return transferAll(bytes, [&](size_t done) { return read(fd, p + done, bytes - done); });
}

bool writeFull(int fd, const void* data, size_t bytes) {
  const auto* p = static_cast<const char*>(data);
  return transferAll(bytes, [&](size_t done) { return write(fd, p + done, bytes - done); });
}

uint32_t fileCrc(const std::string& path, bool& ok) {
  ok = false;
  FILE* f = fopen(path.c_str(), "rb");
  if (!f) return 0;
  uint32_t crc = 0;
  char buffer[65536];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, f)) > 0) crc = crc32(buffer, n, crc);
  ok = !ferror(f);
  fclose(f);
  return crc;
}

// ---------------------------------------------------------------- the output file

// The settings a file was made with must be the ones a run goes on with;
// empty when they are, else what differs.
std::string settingsMismatch(const DataHeader& file, const DataHeader& wanted, bool seedGiven) {
  std::string why;
  if (seedGiven && file.seed != wanted.seed) why += " seed";
  if (file.softNodes != wanted.softNodes) why += " soft_nodes";
  if (file.hardNodes != wanted.hardNodes) why += " hard_nodes";
  if (file.hashMb != wanted.hashMb) why += " hash";
  if (file.randomMovePermille != wanted.randomMovePermille) why += " random_moves";
  if (file.evalSource != wanted.evalSource) why += " evaluation";
  else if (file.networkCrc != wanted.networkCrc) why += " network file";
  return why;
}

void printHeaderSettings(const DataHeader& h) {
  printf("  the file was made with: seed %llu, soft_nodes %u, hard_nodes %u, hash %u, random_moves %.3f, %s\n",
         static_cast<unsigned long long>(h.seed), h.softNodes, h.hardNodes, h.hashMb, h.randomMovePermille / 1000.0,
         h.evalSource == kSourceNetwork ? "a network" : "the hand-crafted evaluation");
}

// Opens the output for appending: a new file gets its header, an old one
// is checked against the settings and cut back to its last whole chunk.
// Returns the open file or null after saying why.
FILE* openOutput(const DatagenOptions& o, DataHeader wanted, DataScan& scan, DataHeader& used) {
  const int status = readDataFile(o.outFile, scan, nullptr);
  if (status == kDataMissing || status == kDataEmpty) {
    FILE* f = fopen(o.outFile.c_str(), "wb");
    if (!f || writeDataHeader(f, wanted) != 0) {
      printf("error: cannot write %s\n", o.outFile.c_str());
      if (f) fclose(f);
      return nullptr;
    }
    used = wanted;
    scan = DataScan{};
    return f;
  }
  if (status != kDataOk) {
    printf("error: %s %s; it is left as it is\n", o.outFile.c_str(), dataStatusText(status));
    return nullptr;
  }
  if (!o.seedGiven) wanted.seed = scan.header.seed;
  const std::string mismatch = settingsMismatch(scan.header, wanted, o.seedGiven);
  if (!mismatch.empty()) {
    printf("error: %s was made with other settings (%s); it is left as it is\n", o.outFile.c_str(),
           mismatch.c_str() + 1);
    printHeaderSettings(scan.header);
    return nullptr;
  }
  for (const std::string& n : scan.notes) printf("note: %s\n", n.c_str());
  FILE* f = fopen(o.outFile.c_str(), "r+b");
  if (!f) {
    printf("error: cannot open %s for writing\n", o.outFile.c_str());
    return nullptr;
  }
  if (scan.fileBytes > scan.completeBytes) {
    printf("note: dropping %llu bytes of a chunk cut short at the end of %s\n",
           static_cast<unsigned long long>(scan.fileBytes - scan.completeBytes), o.outFile.c_str());
    if (ftruncate(fileno(f), static_cast<off_t>(scan.completeBytes)) != 0) {
      printf("error: cannot cut %s back to its last whole chunk\n", o.outFile.c_str());
      fclose(f);
      return nullptr;
    }
  }
  fseek(f, 0, SEEK_END);
  used = scan.header;
  return f;
}

// ---------------------------------------------------------------- workers

[[noreturn]] void workerMain(const DatagenOptions& o, const SelfPlaySettings& play, int in, int out) {
  signal(SIGINT, SIG_IGN);  // the parent decides when to stop
  signal(SIGTERM, SIG_DFL);
  signal(SIGPIPE, SIG_IGN);
  prctl(PR_SET_PDEATHSIG, SIGTERM);
  const int devNull = open("/dev/null", O_WRONLY);
  if (devNull >= 0) dup2(devNull, 1);  // the engine's own lines are not ours to print
  if (!allocateSearchTable(o.play.hashMb)) _exit(kWorkerNoMemory);
  PlayedGame game;
  for (;;) {
    uint64_t index;
    if (!readFull(in, &index, sizeof index) || index == kStopIndex) _exit(0);
    playGame(play, index, game);
    GameMessage m{index, static_cast<uint32_t>(game.records.size()), static_cast<uint16_t>(game.plies), game.result, 0};
    if (!writeFull(out, &m, sizeof m) ||
        !writeFull(out, game.records.data(), game.records.size() * sizeof(PackedRecord)))
      _exit(1);
  }
}

bool startWorker(const DatagenOptions& o, const SelfPlaySettings& play, const std::vector<Worker>& others, Worker& w) {
  int down[2], up[2];
  if (pipe2(down, O_CLOEXEC) != 0) return false;
  if (pipe2(up, O_CLOEXEC) != 0) {
    close(down[0]);
    close(down[1]);
    return false;
  }
  fflush(stdout);
  const pid_t pid = fork();
  if (pid < 0) {
    for (int fd : {down[0], down[1], up[0], up[1]}) close(fd);
    return false;
  }
  if (pid == 0) {
    // Only our own pipe ends: a worker holding another's ends would keep
    // that one from seeing the parent go.
    for (const Worker& other : others) {
      close(other.toWorker);
      close(other.fromWorker);
    }
    close(down[1]);
    close(up[0]);
    workerMain(o, play, down[0], up[1]);
  }
  close(down[0]);
  close(up[1]);
  w.pid = pid;
  w.toWorker = down[1];
  w.fromWorker = up[0];
  return true;
}

void stopWorkers(std::vector<Worker>& workers, bool now) {
  for (Worker& w : workers) {
    if (now) kill(w.pid, SIGTERM);
    else writeFull(w.toWorker, &kStopIndex, sizeof kStopIndex);
    close(w.toWorker);
    close(w.fromWorker);
  }
  for (Worker& w : workers) waitpid(w.pid, nullptr, 0);
  workers.clear();
}

bool receiveGame(const Worker& w, uint64_t& index, PlayedGame& game) {
  GameMessage m;
  if (!readFull(w.fromWorker, &m, sizeof m)) return false;
  game.records.resize(m.records);
  if (!readFull(w.fromWorker, game.records.data(), m.records * sizeof(PackedRecord))) return false;
  index = m.index;
  game.plies = m.plies;
  game.result = m.result;
  return true;
}

// ---------------------------------------------------------------- the run

struct Run {
  const DatagenOptions& o;
  FILE* file;
  uint64_t nextAssign, nextWrite;
  uint64_t filePositions;               // in the file before this run
  uint64_t receivedPositions = 0;       // this run, written or waiting
  std::map<uint64_t, PlayedGame> waiting{};  // finished ahead of their turn
  std::vector<PackedRecord> chunk{};
  uint64_t chunkFirst = 0;
  uint32_t chunkGames = 0;
  Tally tally{};
  bool failed = false;
};

bool wantMoreGames(const Run& r) {
  if (stopSignal) return false;
  if (r.o.games && r.nextAssign >= r.o.games) return false;
  return !(r.o.positions && r.filePositions + r.receivedPositions >= r.o.positions);
}

void assignGame(Run& r, Worker& w) {
  if (!wantMoreGames(r)) return;
  if (!writeFull(w.toWorker, &r.nextAssign, sizeof r.nextAssign)) {
    r.failed = true;
    return;
  }
  ++r.nextAssign;
  w.busy = true;
}

void flushChunk(Run& r) {
  if (r.chunkGames == 0) return;
  if (writeChunk(r.file, r.chunkFirst, r.chunkGames, r.chunk.data(), r.chunk.size()) != 0) {
    printf("error: writing %s failed\n", r.o.outFile.c_str());
    r.failed = true;
  }
  r.chunk.clear();
  r.chunkGames = 0;
}

// Moves the games whose turn has come into the chunk.
void writeInOrder(Run& r) {
  for (auto it = r.waiting.find(r.nextWrite); it != r.waiting.end(); it = r.waiting.find(r.nextWrite)) {
    const PlayedGame& g = it->second;
    if (r.chunkGames == 0) r.chunkFirst = r.nextWrite;
    r.chunk.insert(r.chunk.end(), g.records.begin(), g.records.end());
    ++r.chunkGames;
    ++r.tally.games;
    r.tally.positions += g.records.size();
    r.tally.plies += static_cast<uint64_t>(g.plies);
    ++r.tally.results[g.result <= kWhiteWins ? g.result : uint8_t{kDraw}];
    r.waiting.erase(it);
    ++r.nextWrite;
    if (r.chunkGames >= kChunkGames) flushChunk(r);
  }
}

void printProgress(const Run& r, double seconds) {
  const Tally& t = r.tally;
  printf("positions %llu  %.0f pos/s  games %llu  mean length %.1f plies  W/D/L %llu/%llu/%llu  (file: %llu games)\n",
         static_cast<unsigned long long>(t.positions), seconds > 0 ? t.positions / seconds : 0.0,
         static_cast<unsigned long long>(t.games), t.games ? static_cast<double>(t.plies) / t.games : 0.0,
         static_cast<unsigned long long>(t.results[kWhiteWins]), static_cast<unsigned long long>(t.results[kDraw]),
         static_cast<unsigned long long>(t.results[kBlackWins]), static_cast<unsigned long long>(r.nextWrite));
  fflush(stdout);
}

// Waits for finished games and hands out new ones until the targets are
// met, a signal asks to stop or a worker fails.
void collectGames(Run& r, std::vector<Worker>& workers) {
  const double start = platform::nowSeconds();
  double nextReport = start + r.o.progressSeconds;
  PlayedGame game;
  for (;;) {
    std::vector<pollfd> fds;
    std::vector<Worker*> owners;
    for (Worker& w : workers)
      if (w.busy) {
        fds.push_back({w.fromWorker, POLLIN, 0});
        owners.push_back(&w);
      }
    if (fds.empty() || stopSignal || r.failed) break;
    const int waitMs = static_cast<int>(std::max(1.0, (nextReport - platform::nowSeconds()) * 1000));
    const int ready = poll(fds.data(), fds.size(), waitMs);
    if (ready < 0 && errno != EINTR) break;
    for (size_t i = 0; ready > 0 && i < fds.size(); ++i) {
      if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      Worker& w = *owners[i];
      uint64_t index;
      if (!receiveGame(w, index, game)) {
        printf("error: worker %d stopped unexpectedly\n", static_cast<int>(w.pid));
        r.failed = true;
        break;
      }
      w.busy = false;
      r.receivedPositions += game.records.size();
      r.waiting[index] = std::move(game);
      game = PlayedGame{};
      writeInOrder(r);
      assignGame(r, w);
    }
    if (platform::nowSeconds() >= nextReport) {
      flushChunk(r);  // a kill loses at most one report's worth of games
      printProgress(r, platform::nowSeconds() - start);
      nextReport += r.o.progressSeconds;
    }
  }
  flushChunk(r);
  printProgress(r, platform::nowSeconds() - start);
}

}  // namespace

int runDatagen(const DatagenOptions& o) {
  std::string why;
  if (setUpEngine(o.networkFile, why) != 0) {
    printf("error: %s: %s\n", o.networkFile.c_str(), why.c_str());
    return 1;
  }
  bool crcOk = true;
  const uint32_t netCrc = o.networkFile.empty() ? 0 : fileCrc(o.networkFile, crcOk);
  const uint64_t seed = o.seedGiven ? o.play.seed
                                    : static_cast<uint64_t>(std::chrono::system_clock::now().time_since_epoch().count());
  DataHeader wanted =
      makeDataHeader(seed, static_cast<uint32_t>(o.play.softNodes), static_cast<uint32_t>(hardNodeCap(o.play)),
                     o.play.hashMb, o.networkFile.empty() ? kSourceHandCrafted : kSourceNetwork, netCrc);
  wanted.randomMovePermille = static_cast<uint16_t>(o.play.randomMovePermille);
  DataScan scan;
  DataHeader used;
  FILE* file = openOutput(o, wanted, scan, used);
  if (!file) return 1;
  SelfPlaySettings play = o.play;
  play.seed = used.seed;

  const int workerCount = o.workers > 0 ? o.workers : std::max(1, static_cast<int>(std::thread::hardware_concurrency()));
  printf("datagen: %s, seed %llu, soft_nodes %llu, hard_nodes %llu, %d worker processes, labels from %s\n",
         o.outFile.c_str(), static_cast<unsigned long long>(play.seed), static_cast<unsigned long long>(play.softNodes),
         static_cast<unsigned long long>(hardNodeCap(play)), workerCount,
         o.networkFile.empty() ? "the hand-crafted evaluation" : o.networkFile.c_str());
  if (scan.nextGame)
    printf("going on after game %llu (%llu positions in the file)\n", static_cast<unsigned long long>(scan.nextGame),
           static_cast<unsigned long long>(scan.records));
  fflush(stdout);

  stopSignal = 0;
  struct sigaction action{};
  action.sa_handler = onStopSignal;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  signal(SIGPIPE, SIG_IGN);

  Run r{.o = o, .file = file, .nextAssign = scan.nextGame, .nextWrite = scan.nextGame, .filePositions = scan.records};
  std::vector<Worker> workers;
  for (int i = 0; i < workerCount && wantMoreGames(r); ++i) {
    Worker w;
    if (!startWorker(o, play, workers, w)) {
      printf("error: cannot start worker process %d\n", i);
      r.failed = true;
      break;
    }
    workers.push_back(w);
    assignGame(r, workers.back());
  }
  collectGames(r, workers);
  stopWorkers(workers, stopSignal || r.failed);
  const bool closed = fclose(file) == 0;
  if (stopSignal) printf("stopped: %llu games in %s; the same command goes on from there\n",
                         static_cast<unsigned long long>(r.nextWrite), o.outFile.c_str());
  return r.failed || !closed ? 1 : 0;
}

}  // namespace train
