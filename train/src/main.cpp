// vesk-train: self-play data generation, training and export of networks
// in the engine's file format.
//   vesk-train datagen -out FILE [flags]
//   vesk-train train -data FILE [-data FILE ...] -out nn.bin [flags]
//   vesk-train export -checkpoint FILE -out nn.bin
//   vesk-train loss -net nn.bin -data FILE [...]
//   vesk-train tune -data FILE | -epd FILE [...] -out params.txt [flags]
//   vesk-train wdl -data FILE [...] [-plot wdl.png] [flags]
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "datagen.h"
#include "trainer.h"
#include "tuner.h"
#include "wdlfit.h"

namespace train {

namespace {

bool readU64(const char* text, uint64_t& out) {
  char* end = nullptr;
  errno = 0;
  const unsigned long long v = strtoull(text, &end, 10);
  if (end == text || *end || errno == ERANGE || text[0] == '-') return false;
  out = v;
  return true;
}

// Node limits are kept as 32-bit numbers in the data file's header.
bool readNodes(const char* text, uint64_t& out) {
  uint64_t v;
  if (!readU64(text, v) || v > UINT32_MAX) return false;
  out = v;
  return true;
}

bool readInt(const char* text, int lo, int hi, int& out) {
  uint64_t v;
  if (!readU64(text, v) || v < static_cast<uint64_t>(lo) || v > static_cast<uint64_t>(hi)) return false;
  out = static_cast<int>(v);
  return true;
}

bool readFloat(const char* text, float lo, float hi, float& out) {
  char* end = nullptr;
  errno = 0;
  const float v = strtof(text, &end);
  if (end == text || *end || errno == ERANGE || !std::isfinite(v) || v < lo || v > hi) return false;
  out = v;
  return true;
}

bool readLoss(const char* text, LossKind& out) {
  if (strcmp(text, "mse") == 0) out = kSquaredError;
  else if (strcmp(text, "ce") == 0) out = kCrossEntropy;
  else return false;
  return true;
}

constexpr int kMaxThreadsAsked = 1024;
constexpr int kMaxHashMb = 4096;
constexpr int kMaxBatch = 1 << 22;
constexpr int kMaxEpochs = 100000;

// One flag of a subcommand: its name, whether a value follows, and what it sets.
template <typename Options>
struct Flag {
  const char* name;
  const char* value;  // shown in the usage; null: no value
  bool (*apply)(Options&, const char* value);
  const char* help;
};

const Flag<DatagenOptions> kDatagenFlags[] = {
    {"-out", "FILE", [](DatagenOptions& o, const char* v) { o.outFile = v; return true; },
     "data file, created or extended (required)"},
    {"-threads", "N", [](DatagenOptions& o, const char* v) { return readInt(v, 1, kMaxThreadsAsked, o.workers); },
     "worker processes, each playing its own game (default: all cores)"},
    {"-games", "N", [](DatagenOptions& o, const char* v) { return readU64(v, o.games); },
     "stop when the file holds N games (default: no limit)"},
    {"-positions", "N", [](DatagenOptions& o, const char* v) { return readU64(v, o.positions); },
     "stop when the file holds N positions (default: no limit)"},
    {"-soft_nodes", "N", [](DatagenOptions& o, const char* v) { return readNodes(v, o.play.softNodes) && o.play.softNodes; },
     "no new iteration past N nodes (default 5000)"},
    {"-hard_nodes", "N", [](DatagenOptions& o, const char* v) { return readNodes(v, o.play.hardNodes); },
     "a search stops at N nodes (default 4 x soft_nodes)"},
    {"-hash", "MB", [](DatagenOptions& o, const char* v) { return readInt(v, 1, kMaxHashMb, o.play.hashMb); },
     "search table per worker (default 16)"},
    {"-random_moves", "X",
     [](DatagenOptions& o, const char* v) {
       float share;
       if (!readFloat(v, 0, 0.5f, share)) return false;
       o.play.randomMovePermille = static_cast<int>(std::lround(share * 1000));
       return true;
     },
     "share of moves after the opening played at random instead of searched, 0 to 0.5 (default 0)"},
    {"-seed", "N", [](DatagenOptions& o, const char* v) {
       o.seedGiven = readU64(v, o.play.seed);
       return o.seedGiven;
     },
     "the series of games (default: the clock for a new file, the file's own otherwise)"},
    {"-net", "FILE", [](DatagenOptions& o, const char* v) { o.networkFile = v; return true; },
     "label with this network"},
    {"-use_hce", nullptr, [](DatagenOptions& o, const char*) { o.networkFile.clear(); return true; },
     "label with the hand-crafted evaluation (the default)"},
};

const Flag<TrainOptions> kTrainFlags[] = {
    {"-data", "FILE", [](TrainOptions& o, const char* v) { o.dataFiles.push_back(v); return true; },
     "data file (repeatable; at least one)"},
    {"-out", "FILE", [](TrainOptions& o, const char* v) { o.outFile = v; return true; },
     "network file written after every epoch (default nn.bin)"},
    {"-checkpoint", "FILE", [](TrainOptions& o, const char* v) { o.checkpointFile = v; return true; },
     "trainer state written after every epoch (default OUT.ckpt)"},
    {"-csv", "FILE", [](TrainOptions& o, const char* v) { o.csvFile = v; return true; },
     "losses per epoch (default OUT.csv)"},
    {"-resume", "FILE", [](TrainOptions& o, const char* v) { o.resumeFile = v; return true; },
     "go on from a checkpoint, or start from a network file's weights"},
    {"-inputs", "G", [](TrainOptions& o, const char* v) { return readInt(v, 0, 65535, o.top.G); },
     "piece-square inputs: 896 or 1792 (default 896)"},
    {"-extra", "X", [](TrainOptions& o, const char* v) { return readInt(v, 0, 65535, o.top.X); },
     "extra inputs, at least 42 (default 42)"},
    {"-hidden1", "N", [](TrainOptions& o, const char* v) { return readInt(v, 0, 65535, o.top.H1); },
     "first layer, 1..256 (default 128)"},
    {"-hidden2", "N", [](TrainOptions& o, const char* v) { return readInt(v, 0, 65535, o.top.H2); },
     "second layer (default 32)"},
    {"-outputs", "L", [](TrainOptions& o, const char* v) { return readInt(v, 0, 65535, o.top.L); },
     "1, or 2 blended by the phase (default 2)"},
    {"-epochs", "N", [](TrainOptions& o, const char* v) { return readInt(v, 1, kMaxEpochs, o.epochs); },
     "epochs in all, resumed ones counted (default 10)"},
    {"-epoch_positions", "N", [](TrainOptions& o, const char* v) { return readU64(v, o.epochPositions); },
     "positions per epoch (default: the whole training share)"},
    {"-batch", "N", [](TrainOptions& o, const char* v) { return readInt(v, 1, kMaxBatch, o.batchSize); },
     "positions per step (default 16384)"},
    {"-threads", "N", [](TrainOptions& o, const char* v) { return readInt(v, 1, kMaxThreadsAsked, o.threads); },
     "threads (default: all cores)"},
    {"-lr", "X", [](TrainOptions& o, const char* v) { return readFloat(v, 0, 1, o.adam.lr); },
     "learning rate (default 0.001)"},
    {"-lr_drop", "X", [](TrainOptions& o, const char* v) { return readFloat(v, 0, 1, o.lrDrop); },
     "learning-rate factor (default 0.3)..."},
    {"-lr_drop_every", "N", [](TrainOptions& o, const char* v) { return readInt(v, 1, kMaxEpochs, o.lrDropEvery); },
     "...applied every N epochs (default 4)"},
    {"-wd", "X", [](TrainOptions& o, const char* v) { return readFloat(v, 0, 1, o.adam.weightDecay); },
     "decoupled weight decay (AdamW; default 0)"},
    {"-clip", "X", [](TrainOptions& o, const char* v) { return readFloat(v, 1e-3f, 1e6f, o.adam.clip); },
     "weights stay within +-X (default 4)"},
    {"-loss", "mse|ce", [](TrainOptions& o, const char* v) { return readLoss(v, o.loss); },
     "what the gradient descends: squared error (default) or cross-entropy; losses shown are squared error"},
    {"-keep_best", nullptr, [](TrainOptions& o, const char*) { return o.keepBest = true; },
     "write the network only after an epoch that lowers the validation loss (the checkpoint every epoch)"},
    {"-lambda", "X", [](TrainOptions& o, const char* v) { return readFloat(v, 0, 1, o.lambda); },
     "weight of the game result in the target (default 0.5)"},
    {"-validation", "X", [](TrainOptions& o, const char* v) { return readFloat(v, 0, 0.9f, o.validationShare); },
     "share of the positions held out (default 0.05)"},
    {"-seed", "N", [](TrainOptions& o, const char* v) { return readU64(v, o.seed); },
     "initial weights, split and shuffles (default 1)"},
    {"-min_ply", "N", [](TrainOptions& o, const char* v) { return readInt(v, 0, 65535, o.filter.minPly); },
     "skip positions before this ply (default 16)"},
    {"-walks", "K", [](TrainOptions& o, const char* v) { return readInt(v, 0, 64, o.walks.perPosition); },
     "add K positions 1 to -walk_plies random plies from each kept one, scored by the hand-crafted evaluation "
     "(default 0)"},
    {"-walk_plies", "N", [](TrainOptions& o, const char* v) { return readInt(v, 1, 16, o.walks.maxPlies); },
     "longest random walk (default 4)"},
    {"-hce_labels", nullptr, [](TrainOptions& o, const char*) { return o.hceLabels = true; },
     "score every position by the hand-crafted evaluation's static score in place of its search score"},
    {"-keep_all", nullptr,
     [](TrainOptions& o, const char*) {
       o.filter = RecordFilter{false, false, false, 0};
       return true;
     },
     "no filter (in check, captures and promotions, mate scores, early plies)"},
};

bool readDouble(const char* text, double lo, double hi, double& out) {
  float v;
  if (!readFloat(text, static_cast<float>(lo), static_cast<float>(hi), v)) return false;
  out = v;
  return true;
}

const Flag<TuneOptions> kTuneFlags[] = {
    {"-data", "FILE", [](TuneOptions& o, const char* v) { o.dataFiles.push_back(v); return true; },
     "data file of the network pipeline (repeatable)"},
    {"-epd", "FILE", [](TuneOptions& o, const char* v) { o.epdFiles.push_back(v); return true; },
     "EPD lines with \"gr\", the side to move's result (repeatable)"},
    {"-out", "FILE", [](TuneOptions& o, const char* v) { o.outFile = v; return true; },
     "params file of the best epoch on the held-out games (default params.txt)"},
    {"-start", "FILE", [](TuneOptions& o, const char* v) { o.startFile = v; return true; },
     "params file to start from (default: the built-in weights)"},
    {"-free_pst", nullptr, [](TuneOptions& o, const char*) { o.selection = kTuneFreePst; return true; },
     "fit only the piece-square values without a fixed default"},
    {"-epochs", "N", [](TuneOptions& o, const char* v) { return readInt(v, 0, kMaxEpochs, o.epochs); },
     "passes over the training positions (default 8)"},
    {"-batch", "N", [](TuneOptions& o, const char* v) { return readInt(v, 1, kMaxBatch, o.batchSize); },
     "positions per step (default 16384)"},
    {"-lr", "X", [](TuneOptions& o, const char* v) { return readDouble(v, 0, 1000, o.adam.lr); },
     "step size in centipawns (default 0.3)"},
    {"-lr_drop", "X", [](TuneOptions& o, const char* v) { return readDouble(v, 0, 1, o.lrDrop); },
     "step-size factor (default 0.5)..."},
    {"-lr_drop_every", "N", [](TuneOptions& o, const char* v) { return readInt(v, 1, kMaxEpochs, o.lrDropEvery); },
     "...applied every N epochs (default 8)"},
    {"-pull", "X", [](TuneOptions& o, const char* v) { return readDouble(v, 0, 1, o.pull); },
     "L2 pull toward the starting weights (default 3e-7)"},
    {"-threads", "N", [](TuneOptions& o, const char* v) { return readInt(v, 1, kMaxThreadsAsked, o.threads); },
     "threads (default: all cores)"},
    {"-validation", "X", [](TuneOptions& o, const char* v) { return readDouble(v, 0, 0.9, o.validationShare); },
     "share of the games held out (default 0.1)"},
    {"-positions", "N", [](TuneOptions& o, const char* v) { return readU64(v, o.maxPositions); },
     "use at most the first N positions (default: all)"},
    {"-seed", "N", [](TuneOptions& o, const char* v) { return readU64(v, o.seed); },
     "split and shuffles (default 1)"},
    {"-min_ply", "N", [](TuneOptions& o, const char* v) { return readInt(v, 0, 65535, o.filter.minPly); },
     "skip data-file positions before this ply (default 16)"},
};

constexpr int kMaxWdlIterations = 1000000;
constexpr int kMaxWdlScore = 4000;

const Flag<WdlFitOptions> kWdlFlags[] = {
    {"-data", "FILE", [](WdlFitOptions& o, const char* v) { o.dataFiles.push_back(v); return true; },
     "self-play data file (repeatable; required)"},
    {"-holdout", "N", [](WdlFitOptions& o, const char* v) { return readInt(v, 0, 1000, o.holdoutEvery); },
     "every N-th game is held out for the calibration (default 5; 0: none)"},
    {"-iterations", "N", [](WdlFitOptions& o, const char* v) { return readInt(v, 1, kMaxWdlIterations, o.iterations); },
     "Newton steps at most (default 100)"},
    {"-max_score", "CP", [](WdlFitOptions& o, const char* v) { return readInt(v, 100, kMaxWdlScore, o.maxScore); },
     "positions scored beyond are not fitted (default 2000)"},
    {"-plot", "FILE", [](WdlFitOptions& o, const char* v) { o.plotFile = v; return true; },
     "calibration plot, PNG (default wdl.png)"},
};

struct ExportOptions {
  std::string checkpointFile, outFile = "nn.bin";
};

const Flag<ExportOptions> kExportFlags[] = {
    {"-checkpoint", "FILE", [](ExportOptions& o, const char* v) { o.checkpointFile = v; return true; },
     "trainer checkpoint (required)"},
    {"-out", "FILE", [](ExportOptions& o, const char* v) { o.outFile = v; return true; },
     "network file to write (default nn.bin)"},
};

const Flag<LossReportOptions> kLossFlags[] = {
    {"-net", "FILE", [](LossReportOptions& o, const char* v) { o.networkFile = v; return true; },
     "network file to measure (this or -use_hce is required)"},
    {"-use_hce", nullptr, [](LossReportOptions& o, const char*) { return o.useHce = true; },
     "measure the hand-crafted evaluation's static score instead"},
    {"-data", "FILE", [](LossReportOptions& o, const char* v) { o.dataFiles.push_back(v); return true; },
     "data file (repeatable; required)"},
    {"-lambda", "X", [](LossReportOptions& o, const char* v) { return readFloat(v, 0, 1, o.lambda); },
     "weight of the game result in the target (default 0.5)"},
    {"-threads", "N", [](LossReportOptions& o, const char* v) { return readInt(v, 1, kMaxThreadsAsked, o.threads); },
     "threads (default: one per core)"},
    {"-min_ply", "N", [](LossReportOptions& o, const char* v) { return readInt(v, 0, 65535, o.filter.minPly); },
     "skip positions before this ply (default 16)"},
};

template <typename Options, size_t N>
void printUsage(const char* command, const Flag<Options> (&flags)[N]) {
  printf("usage: vesk-train %s [flags]\n", command);
  for (const Flag<Options>& f : flags) {
    std::string head = std::string(f.name) + (f.value ? std::string(" ") + f.value : "");
    printf("  %-22s %s\n", head.c_str(), f.help);
  }
}

// True when every argument after the subcommand was understood.
template <typename Options, size_t N>
bool parseFlags(int argc, char** argv, const char* command, const Flag<Options> (&flags)[N], Options& o) {
  for (int i = 2; i < argc; ++i) {
    const Flag<Options>* found = nullptr;
    for (const Flag<Options>& f : flags)
      if (strcmp(argv[i], f.name) == 0) found = &f;
    if (!found) {
      printf("error: unknown flag %s\n", argv[i]);
      printUsage(command, flags);
      return false;
    }
    const char* value = nullptr;
    if (found->value) {
      if (i + 1 >= argc) {
        printf("error: %s needs a value (%s)\n", found->name, found->value);
        return false;
      }
      value = argv[++i];
    }
    if (!found->apply(o, value)) {
      printf("error: bad value for %s: %s\n", found->name, value ? value : "");
      return false;
    }
  }
  return true;
}

void printCommands() {
  printf("usage: vesk-train datagen|train|loss|export|tune|wdl [flags]   (vesk-train COMMAND -help lists the flags)\n");
}

// False, with the message, when a required file flag was not given.
bool given(const std::string& value, const char* flag) {
  if (!value.empty()) return true;
  printf("error: %s FILE is required\n", flag);
  return false;
}

int datagenCommand(int argc, char** argv) {
  DatagenOptions o;
  if (!parseFlags(argc, argv, "datagen", kDatagenFlags, o) || !given(o.outFile, "-out")) return 2;
  return runDatagen(o);
}

int trainCommand(int argc, char** argv) {
  TrainOptions o;
  if (!parseFlags(argc, argv, "train", kTrainFlags, o)) return 2;
  return runTraining(o);
}

int exportCommand(int argc, char** argv) {
  ExportOptions o;
  if (!parseFlags(argc, argv, "export", kExportFlags, o) || !given(o.checkpointFile, "-checkpoint")) return 2;
  return runExport(o.checkpointFile, o.outFile);
}

int lossCommand(int argc, char** argv) {
  LossReportOptions o;
  if (!parseFlags(argc, argv, "loss", kLossFlags, o) || (!o.useHce && !given(o.networkFile, "-net"))) return 2;
  return runLossReport(o);
}

int tuneCommand(int argc, char** argv) {
  TuneOptions o;
  if (!parseFlags(argc, argv, "tune", kTuneFlags, o)) return 2;
  if (o.dataFiles.empty() && o.epdFiles.empty()) {
    printf("error: -data FILE or -epd FILE is required\n");
    return 2;
  }
  return runTuning(o);
}

int wdlCommand(int argc, char** argv) {
  WdlFitOptions o;
  if (!parseFlags(argc, argv, "wdl", kWdlFlags, o)) return 2;
  if (o.dataFiles.empty()) {
    printf("error: -data FILE is required\n");
    return 2;
  }
  return runWdlFit(o);
}

bool asksForHelp(int argc, char** argv) {
  return argc == 3 && (strcmp(argv[2], "-help") == 0 || strcmp(argv[2], "--help") == 0);
}

int run(int argc, char** argv) {
  setvbuf(stdout, nullptr, _IOLBF, 0);
  if (argc < 2) {
    printCommands();
    return 2;
  }
  const std::string command = argv[1];
  const bool help = asksForHelp(argc, argv);
  if (command == "datagen") return help ? (printUsage("datagen", kDatagenFlags), 0) : datagenCommand(argc, argv);
  if (command == "train") return help ? (printUsage("train", kTrainFlags), 0) : trainCommand(argc, argv);
  if (command == "tune") return help ? (printUsage("tune", kTuneFlags), 0) : tuneCommand(argc, argv);
  if (command == "wdl") return help ? (printUsage("wdl", kWdlFlags), 0) : wdlCommand(argc, argv);
  if (command == "loss") return help ? (printUsage("loss", kLossFlags), 0) : lossCommand(argc, argv);
  if (command == "export") return help ? (printUsage("export", kExportFlags), 0) : exportCommand(argc, argv);
  printCommands();
  return 2;
}

}  // namespace

}  // namespace train

int main(int argc, char** argv) { return train::run(argc, argv); }
