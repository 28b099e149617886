#include "eval/nn.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>

#if defined(__AVX2__) && defined(__FMA__)
#include <immintrin.h>
#endif

#include "board/attacks.h"

namespace eval {

using namespace board;

NetworkSlot networks[2];
int network_count = 0;
uint64_t network_generation = 0;

namespace {

std::atomic<uint32_t> noiseSalt{0};

uint16_t readU16(const unsigned char* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

bool fail(std::string* why, const std::string& text) {
  if (why) *why = text;
  return false;
}

// Reads one network at the file's current position into slot.
bool readNetwork(FILE* f, uint64_t bytesLeft, NetworkSlot& slot, std::string* why) {
  unsigned char h[kNetworkHeaderBytes];
  if (bytesLeft < kNetworkHeaderBytes || fread(h, 1, kNetworkHeaderBytes, f) != kNetworkHeaderBytes)
    return fail(why, "file too short for a header");
  slot.netCount = readU16(h + 2) ? readU16(h + 2) : 1;
  slot.G = readU16(h + 4);
  slot.X = readU16(h + 6);
  slot.H1 = readU16(h + 8);
  slot.H2 = readU16(h + 10);
  slot.L = readU16(h + 12);
  if (slot.G != 896 && slot.G != 1792) return fail(why, "square inputs must be 896 or 1792");
  if (slot.X < 42) return fail(why, "fewer than 42 extra inputs");
  if (slot.H1 < 1 || slot.H1 > kMaxHidden1) return fail(why, "first layer size out of range");
  if (slot.H2 < 1 || slot.H2 > kMaxHidden2) return fail(why, "second layer size out of range");
  if (slot.L != 1 && slot.L != 2) return fail(why, "output count must be 1 or 2");
  const uint64_t inputs = static_cast<uint64_t>(slot.G) + slot.X;
  slot.floatCount = inputs * slot.H1 + static_cast<uint64_t>(slot.H1) * slot.H2 +
                    static_cast<uint64_t>(slot.H2) * slot.L + slot.L + kNetworkConstants;
  if (slot.floatCount * 4 > bytesLeft - kNetworkHeaderBytes) return fail(why, "file shorter than its header says");
  slot.data.assign(slot.floatCount, 0.0f);
  if (fread(slot.data.data(), 4, slot.floatCount, f) != slot.floatCount) return fail(why, "read error");
  const float* p = slot.data.data();
  slot.W1 = p;
  slot.W2 = slot.W1 + inputs * slot.H1;
  slot.W3 = slot.W2 + static_cast<uint64_t>(slot.H1) * slot.H2;
  slot.constants = slot.W3 + static_cast<uint64_t>(slot.H2) * slot.L + slot.L;
  slot.W2t.resize(static_cast<size_t>(slot.H1) * slot.H2);
  for (int k = 0; k < slot.H2; ++k)
    for (int i = 0; i < slot.H1; ++i) slot.W2t[static_cast<size_t>(i) * slot.H2 + k] = slot.W2[static_cast<size_t>(k) * slot.H1 + i];
  return true;
}

// x for x >= 0, x / 16 below: the larger of the two, which vectorises.
inline float activate(float x) { return std::max(x, x * kLeakySlope); }

inline float dot(const float* a, const float* b, int n) {
#if defined(__AVX2__) && defined(__FMA__)
  // Four independent accumulators hide the multiply-add latency.
  __m256 acc[4] = {_mm256_setzero_ps(), _mm256_setzero_ps(), _mm256_setzero_ps(), _mm256_setzero_ps()};
  int i = 0;
  for (; i + 32 <= n; i += 32)
    for (int k = 0; k < 4; ++k)
      acc[k] = _mm256_fmadd_ps(_mm256_loadu_ps(a + i + 8 * k), _mm256_loadu_ps(b + i + 8 * k), acc[k]);
  for (; i + 8 <= n; i += 8) acc[0] = _mm256_fmadd_ps(_mm256_loadu_ps(a + i), _mm256_loadu_ps(b + i), acc[0]);
  __m256 sum = _mm256_add_ps(_mm256_add_ps(acc[0], acc[1]), _mm256_add_ps(acc[2], acc[3]));
  __m128 lo = _mm_add_ps(_mm256_castps256_ps128(sum), _mm256_extractf128_ps(sum, 1));
  lo = _mm_add_ps(lo, _mm_movehl_ps(lo, lo));
  lo = _mm_add_ss(lo, _mm_shuffle_ps(lo, lo, 1));
  float s = _mm_cvtss_f32(lo);
  for (; i < n; ++i) s += a[i] * b[i];
  return s;
#else
  // Four running sums, as the vector version keeps lanes apart.
  float s[4] = {0, 0, 0, 0};
  int i = 0;
  for (; i + 4 <= n; i += 4)
    for (int k = 0; k < 4; ++k) s[k] += a[i + k] * b[i + k];
  float t = (s[0] + s[1]) + (s[2] + s[3]);
  for (; i < n; ++i) t += a[i] * b[i];
  return t;
#endif
}

inline void addRow(float* acc, const float* row, int n) {
  for (int i = 0; i < n; ++i) acc[i] += row[i];
}
inline void subRow(float* acc, const float* row, int n) {
  for (int i = 0; i < n; ++i) acc[i] -= row[i];
}

int pieceCount(int32_t sig) { return ((sig >> 4) & 15) + ((sig >> 8) & 15) + ((sig >> 12) & 15) + ((sig >> 16) & 15); }

}  // namespace

namespace {

// Reads the networks of an open stream of size bytes; closes it.
int loadFromStream(FILE* f, long size, std::string* why) {
  NetworkSlot slots[2];
  int loaded = 0;
  bool ok = true;
  // Networks follow one another while the index is below the last net_count read.
  for (int index = 0, count = 1; ok && index < count; ++index) {
    NetworkSlot slot;
    ok = readNetwork(f, static_cast<uint64_t>(size - ftell(f)), slot, why);
    if (!ok) break;
    count = slot.netCount;
    if (index > 0 && (slot.G > slots[0].G || slot.H1 > slots[0].H1 || slot.H2 > slots[0].H2 || slot.L > slots[0].L))
      ok = fail(why, "a later network is larger than the first");
    slots[index == 0 ? 0 : 1] = std::move(slot);
    loaded = index == 0 ? 1 : 2;
  }
  fclose(f);
  if (!ok) return 0;
  networks[0] = std::move(slots[0]);
  networks[1] = loaded > 1 ? std::move(slots[1]) : NetworkSlot{};
  network_count = loaded;
  ++network_generation;
  return 1;
}

}  // namespace

int load_network(const std::string& path, std::string* why) {
  FILE* f = fopen(path.c_str(), "rb");
  if (!f) return fail(why, "cannot open " + path), 0;
  fseek(f, 0, SEEK_END);
  long size = ftell(f);
  fseek(f, 0, SEEK_SET);
  return loadFromStream(f, size, why);
}

int load_embedded_network(std::string* why) {
  if (embedded_network_size == 0) return fail(why, "this build has no network built in"), 0;
  // The bytes stay read-only: the stream only reads them.
  FILE* f = fmemopen(const_cast<unsigned char*>(embedded_network), embedded_network_size, "rb");
  if (!f) return fail(why, "cannot read the built-in network"), 0;
  return loadFromStream(f, static_cast<long>(embedded_network_size), why);
}

void unloadNetworks() {
  networks[0] = NetworkSlot{};
  networks[1] = NetworkSlot{};
  network_count = 0;
  ++network_generation;
}

float networkPhase(const Position& pos) {
  return std::min(1.0f, 0.016f * static_cast<float>(pos.pieceMaterial[0] + pos.pieceMaterial[1]));
}

int chooseNetwork(const Position& pos, float& phase) {
  phase = networkPhase(pos);
  if (network_count < 2) return 0;
  int p = std::max(pieceCount(pos.materialSignature[0]), pieceCount(pos.materialSignature[1]));
  if (networks[1].L == 1 && p == 0) {
    phase = 0;
    return 1;
  }
  if (networks[1].L == 2 && p <= 1) {
    phase = static_cast<float>(p);
    return 1;
  }
  return 0;
}

namespace {

// Bitboard with every square s moved to s ^ 7 (files mirrored).
inline Bitboard mirrorFiles(Bitboard b) {
  b = ((b >> 1) & 0x5555555555555555ull) | ((b & 0x5555555555555555ull) << 1);
  b = ((b >> 2) & 0x3333333333333333ull) | ((b & 0x3333333333333333ull) << 2);
  return ((b >> 4) & 0x0F0F0F0F0F0F0F0Full) | ((b & 0x0F0F0F0F0F0F0F0Full) << 4);
}

// Moves every square s to s ^ transform (transform made of 7 and 56).
inline Bitboard transformSquares(Bitboard b, int transform) {
  if (transform & 56) b = __builtin_bswap64(b);
  if (transform & 7) b = mirrorFiles(b);
  return b;
}

}  // namespace

int buildFeatureList(const Position& pos, int squareInputs, uint16_t* out) {
  const int stm = pos.sideToMove;
  const bool queenSide[2] = {(pos.kingSquare[0] & 7) <= 3, (pos.kingSquare[1] & 7) <= 3};
  const int wingShift = (queenSide[0] != queenSide[1] && squareInputs >= 1792) ? 896 : 0;
  const Bitboard wp = pos.pieces[0][kPawn], bp = pos.pieces[1][kPawn];
  const Bitboard wSpan = frontSpan(wp, 0), bSpan = frontSpan(bp, 1);
  const Bitboard passed[2] = {wp & ~(bSpan | sideways(bSpan)), bp & ~(wSpan | sideways(wSpan))};
  // Side to move's block first, each piece set walked in transformed square
  // order: the list comes out sorted, which the accumulator update relies on.
  int n = 0;
  for (int c : {stm, stm ^ 1}) {
    const int base = (c == stm ? 0 : 448) + wingShift;
    const int transform = (queenSide[c] ? 7 : 0) ^ (stm == kBlack ? 56 : 0);
    out[n++] = static_cast<uint16_t>(base + (pos.kingSquare[c] ^ transform));
    for (int type = kPawn; type <= kQueen; ++type)
      for (Bitboard b = transformSquares(pos.pieces[c][type], transform); b && n < kMaxFeatures - 1;)
        out[n++] = static_cast<uint16_t>(base + 64 * type + popLowest(b));
    for (Bitboard b = transformSquares(passed[c], transform); b && n < kMaxFeatures - 1;)
      out[n++] = static_cast<uint16_t>(base + 384 + popLowest(b));
  }
  int diff = std::clamp(pos.pieceMaterial[stm] - pos.pieceMaterial[stm ^ 1], -19, 19);
  out[n++] = static_cast<uint16_t>(squareInputs + 22 + diff);
  return n;
}

namespace {

// out2 = W2 * out1 (before bias), walking the transposed rows so that every
// output neuron keeps its own running sum.
void secondLayer(const NetworkSlot& net, const float* out1, float* out2) {
  const int H1 = net.H1, H2 = net.H2;
  const float* w = net.W2t.data();
#if defined(__AVX512F__)
  if (H2 == 32) {
    // Two 16-lane halves per row, four rows in flight.
    __m512 a[8];
    for (auto& v : a) v = _mm512_setzero_ps();
    int i = 0;
    for (; i + 4 <= H1; i += 4) {
      const float* r = w + static_cast<size_t>(i) * 32;
      for (int k = 0; k < 4; ++k) {
        const __m512 x = _mm512_set1_ps(out1[i + k]);
        a[2 * k] = _mm512_fmadd_ps(_mm512_loadu_ps(r + 32 * k), x, a[2 * k]);
        a[2 * k + 1] = _mm512_fmadd_ps(_mm512_loadu_ps(r + 32 * k + 16), x, a[2 * k + 1]);
      }
    }
    for (; i < H1; ++i) {
      const __m512 x = _mm512_set1_ps(out1[i]);
      a[0] = _mm512_fmadd_ps(_mm512_loadu_ps(w + static_cast<size_t>(i) * 32), x, a[0]);
      a[1] = _mm512_fmadd_ps(_mm512_loadu_ps(w + static_cast<size_t>(i) * 32 + 16), x, a[1]);
    }
    _mm512_storeu_ps(out2, _mm512_add_ps(_mm512_add_ps(a[0], a[2]), _mm512_add_ps(a[4], a[6])));
    _mm512_storeu_ps(out2 + 16, _mm512_add_ps(_mm512_add_ps(a[1], a[3]), _mm512_add_ps(a[5], a[7])));
    return;
  }
#endif
#if defined(__AVX2__) && defined(__FMA__)
  if (H2 == 32) {
    __m256 a[8];
    for (auto& v : a) v = _mm256_setzero_ps();
    int i = 0;
    for (; i + 2 <= H1; i += 2) {
      const __m256 x0 = _mm256_broadcast_ss(out1 + i), x1 = _mm256_broadcast_ss(out1 + i + 1);
      const float* r0 = w + static_cast<size_t>(i) * 32;
      const float* r1 = r0 + 32;
      for (int k = 0; k < 4; ++k) {
        a[k] = _mm256_fmadd_ps(_mm256_loadu_ps(r0 + 8 * k), x0, a[k]);
        a[k + 4] = _mm256_fmadd_ps(_mm256_loadu_ps(r1 + 8 * k), x1, a[k + 4]);
      }
    }
    for (; i < H1; ++i) {
      const __m256 x0 = _mm256_broadcast_ss(out1 + i);
      for (int k = 0; k < 4; ++k)
        a[k] = _mm256_fmadd_ps(_mm256_loadu_ps(w + static_cast<size_t>(i) * 32 + 8 * k), x0, a[k]);
    }
    for (int k = 0; k < 4; ++k) _mm256_storeu_ps(out2 + 8 * k, _mm256_add_ps(a[k], a[k + 4]));
    return;
  }
#endif
  std::fill(out2, out2 + H2, 0.0f);
  for (int i = 0; i < H1; ++i) {
    const float x = out1[i];
    const float* row = w + static_cast<size_t>(i) * H2;
    for (int k = 0; k < H2; ++k) out2[k] += row[k] * x;
  }
}

}  // namespace

float forwardFromSums(const NetworkSlot& net, NetworkState& ns, const float* sums, float phase) {
  const float b1 = net.constants[kBias1Constant], b2 = net.constants[kBias2Constant];
  for (int i = 0; i < net.H1; ++i) ns.out1[i] = activate(sums[i] + b1);
  secondLayer(net, ns.out1, ns.out2);
  for (int k = 0; k < net.H2; ++k) ns.out2[k] = activate(ns.out2[k] + b2);
  for (int j = 0; j < net.L; ++j) ns.outputs[j] = dot(net.W3 + static_cast<size_t>(j) * net.H2, ns.out2, net.H2);
  return net.L == 1 ? ns.outputs[0] : phase * ns.outputs[0] + (1 - phase) * ns.outputs[1];
}

int scoreFromOutput(const Position& pos, float R) {
  const float P = 1.0f / (1.0f + std::exp(-R));
  int score;
  if (P < 0.0005f) score = -1266;
  else if (P > 0.9995f) score = 1266;
  else score = static_cast<int>(-166.66666521794266 * std::log(1.0 / P - 1.0));

  const auto& ps = pos.pieces;
  if (!((ps[0][kPawn] | ps[1][kPawn] | ps[0][kRook] | ps[1][kRook] | ps[0][kQueen] | ps[1][kQueen])) &&
      pos.pieceMaterial[0] <= 3 && pos.pieceMaterial[1] <= 3)
    score /= 4;
  return score;
}

int nn_evaluate(const Position& pos, EvalState& st, bool inCheck, bool noise) {
  ++st.counters.evaluations;
  if (inCheck) return kInCheckScore;
  const int ply = pos.owner ? pos.owner->ply : 1;
  if (!st.network) st.network = std::make_unique<NetworkState>();
  NetworkState& ns = *st.network;
  if (ns.generation != network_generation) {
    // A reloaded network invalidates what was computed with the old one.
    for (auto& s : ns.saved) s.net = -1;
    st.evalCache.fill(EvalCacheEntry{});
    ns.generation = network_generation;
  }
  EvalCacheEntry& slot = st.evalCache[pos.key & (kEvalCacheSize - 1)];
  if (ply > 1 && st.useCaches && slot.key == pos.key) {
    ++st.counters.cacheHits;
    return slot.score;
  }
  if (network_count == 0) return 0;
  if (noiseSalt.load(std::memory_order_relaxed) == 0) {
    uint32_t t = static_cast<uint32_t>(std::chrono::system_clock::now().time_since_epoch().count());
    noiseSalt.store(t | 1, std::memory_order_relaxed);
  }

  float phase;
  const int netIndex = chooseNetwork(pos, phase);
  const NetworkSlot& net = networks[netIndex];
  ns.count = buildFeatureList(pos, net.G, ns.features);
  SavedAccumulator& saved = ns.saved[pos.sideToMove];
  const int H1 = net.H1;
  if (saved.net == netIndex && saved.ply <= ply && saved.count > 6 && ns.count > 6) {
    // The difference of the two feature lists (both sorted).
    const float* removed[kMaxFeatures];
    const float* added[kMaxFeatures];
    int nr = 0, na = 0, i = 0, j = 0;
    while (i < saved.count || j < ns.count) {
      if (j >= ns.count || (i < saved.count && saved.features[i] < ns.features[j])) {
        removed[nr++] = net.W1 + static_cast<size_t>(saved.features[i++]) * H1;
      } else if (i >= saved.count || ns.features[j] < saved.features[i]) {
        added[na++] = net.W1 + static_cast<size_t>(ns.features[j++]) * H1;
      } else {
        ++i;
        ++j;
      }
    }
    for (int r = 0; r < nr; ++r) subRow(saved.sums, removed[r], H1);
    for (int r = 0; r < na; ++r) addRow(saved.sums, added[r], H1);
  } else {
    std::fill(saved.sums, saved.sums + H1, 0.0f);
    for (int j = 0; j < ns.count; ++j) addRow(saved.sums, net.W1 + static_cast<size_t>(ns.features[j]) * H1, H1);
  }
  std::copy(ns.features, ns.features + ns.count, saved.features);
  saved.count = ns.count;
  saved.ply = ply;
  saved.net = netIndex;
  ns.phase = phase;

  float R = forwardFromSums(net, ns, saved.sums, phase);
  if (noise) R += static_cast<float>(static_cast<int>((pos.key ^ noiseSalt.load()) & 0xFF) - 127) * 0.0001f;
  int score = scoreFromOutput(pos, R);
  const int contempt = contemptBonus(pos, st);
  score += pos.sideToMove == st.rootSide ? contempt : -contempt;
  slot.key = pos.key;
  slot.score = static_cast<int16_t>(score);
  return score;
}

}  // namespace eval
