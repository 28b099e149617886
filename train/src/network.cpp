#include "network.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "records.h"
#include "selfplay.h"

namespace train {

namespace {

constexpr char kCheckpointMagic[8] = {'V', 'E', 'S', 'K', 'C', 'K', 'P', 'T'};
constexpr uint32_t kCheckpointVersion = 1;
constexpr int kSquareInputsNarrow = 896, kSquareInputsWide = 1792;
constexpr int kMinExtraInputs = 42;
// Initial weights: uniform in +-kW1Init for the sparse first layer, and
// +-sqrt(kDenseInitGain / fan-in) for the dense layers.
constexpr float kW1Init = 0.1f;
constexpr float kDenseInitGain = 3.0f;

inline float activate(float x) { return std::max(x, x * eval::kLeakySlope); }

// Eight running sums the compiler keeps in one vector register.
inline float dot(const float* a, const float* b, int n) {
  constexpr int kLanes = 8;
  float s[kLanes] = {};
  int i = 0;
  for (; i + kLanes <= n; i += kLanes)
    for (int k = 0; k < kLanes; ++k) s[k] += a[i + k] * b[i + k];
  float total = ((s[0] + s[1]) + (s[2] + s[3])) + ((s[4] + s[5]) + (s[6] + s[7]));
  for (; i < n; ++i) total += a[i] * b[i];
  return total;
}
inline float slopeAt(float z) { return z > 0 ? 1.0f : eval::kLeakySlope; }

float uniform(Rng& rng, float limit) {
  const double unit = static_cast<double>(rng.next() >> 11) * (1.0 / 9007199254740992.0);
  return static_cast<float>((2 * unit - 1) * limit);
}

// Writes bytes to path through path + ".tmp", renamed into place only when
// everything was written.
int writeFileAtomically(const std::string& path, const std::vector<uint8_t>& bytes, std::string& why) {
  const std::string temp = path + ".tmp";
  FILE* f = fopen(temp.c_str(), "wb");
  if (!f) {
    why = "cannot write " + temp;
    return -1;
  }
  const bool written = fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  const bool closed = fclose(f) == 0;
  if (!written || !closed || rename(temp.c_str(), path.c_str()) != 0) {
    remove(temp.c_str());
    why = "cannot write " + path;
    return -1;
  }
  return 0;
}

bool readWholeFile(const std::string& path, std::vector<uint8_t>& bytes) {
  FILE* f = fopen(path.c_str(), "rb");
  if (!f) return false;
  bytes.clear();
  uint8_t buffer[65536];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, f)) > 0) bytes.insert(bytes.end(), buffer, buffer + n);
  const bool ok = !ferror(f);
  fclose(f);
  return ok;
}

template <typename T>
void put(std::vector<uint8_t>& out, T value) {
  const auto* p = reinterpret_cast<const uint8_t*>(&value);
  out.insert(out.end(), p, p + sizeof value);
}

void putFloats(std::vector<uint8_t>& out, const std::vector<float>& values) {
  const auto* p = reinterpret_cast<const uint8_t*>(values.data());
  out.insert(out.end(), p, p + values.size() * sizeof(float));
}

// Reads from a byte block; every read checks the room left.
struct Reader {
  const std::vector<uint8_t>& bytes;
  size_t at = 0;
  template <typename T>
  bool get(T& value) {
    if (bytes.size() - at < sizeof value) return false;
    memcpy(&value, bytes.data() + at, sizeof value);
    at += sizeof value;
    return true;
  }
  bool getFloats(std::vector<float>& values, size_t count) {
    if ((bytes.size() - at) / sizeof(float) < count) return false;
    values.resize(count);
    memcpy(values.data(), bytes.data() + at, count * sizeof(float));
    at += count * sizeof(float);
    return true;
  }
};

std::string mismatchText(const Topology& file, const Topology& wanted) {
  return "it has topology " + topologyText(file) + " but training asks for " + topologyText(wanted);
}

}  // namespace

Layout layoutOf(const Topology& t) {
  Layout l{};
  l.w1 = 0;
  l.w2 = static_cast<size_t>(t.G + t.X) * t.H1;
  l.w3 = l.w2 + static_cast<size_t>(t.H1) * t.H2;
  l.outputs = l.w3 + static_cast<size_t>(t.H2) * t.L;
  l.constants = l.outputs + t.L;
  l.count = l.constants + eval::kNetworkConstants;
  return l;
}

std::string topologyProblem(const Topology& t) {
  if (t.G != kSquareInputsNarrow && t.G != kSquareInputsWide) return "square inputs must be 896 or 1792";
  if (t.X < kMinExtraInputs) return "at least 42 extra inputs are needed";
  if (t.H1 < 1 || t.H1 > eval::kMaxHidden1) return "the first layer must have 1 to 256 neurons";
  if (t.H2 < 1 || t.H2 > eval::kMaxHidden2) return "the second layer must have 1 to 1024 neurons";
  if (t.L != 1 && t.L != 2) return "there must be 1 or 2 outputs";
  return {};
}

std::string topologyText(const Topology& t) {
  char text[96];
  snprintf(text, sizeof text, "%d+%d inputs, %d x %d hidden, %d output%s", t.G, t.X, t.H1, t.H2, t.L,
           t.L == 1 ? "" : "s");
  return text;
}

bool sameTopology(const Topology& a, const Topology& b) {
  return a.G == b.G && a.X == b.X && a.H1 == b.H1 && a.H2 == b.H2 && a.L == b.L;
}

void initNetwork(Network& net, const Topology& t, uint64_t seed) {
  net.top = t;
  net.at = layoutOf(t);
  net.p.assign(net.at.count, 0.0f);
  Rng rng{seed};
  const float w2Limit = std::sqrt(kDenseInitGain / t.H1), w3Limit = std::sqrt(kDenseInitGain / t.H2);
  for (size_t i = net.at.w1; i < net.at.w2; ++i) net.p[i] = uniform(rng, kW1Init);
  for (size_t i = net.at.w2; i < net.at.w3; ++i) net.p[i] = uniform(rng, w2Limit);
  for (size_t i = net.at.w3; i < net.at.outputs; ++i) net.p[i] = uniform(rng, w3Limit);
}

float forward(const Network& net, const uint16_t* features, int count, float phase, Activations& a) {
  const Topology& t = net.top;
  const float* p = net.p.data();
  const float b1 = p[net.at.constants + eval::kBias1Constant], b2 = p[net.at.constants + eval::kBias2Constant];
  // The sums start from zero and take the bias last, as the engine's do.
  std::fill(a.z1, a.z1 + t.H1, 0.0f);
  for (int f = 0; f < count; ++f) {
    const float* row = p + net.at.w1 + static_cast<size_t>(features[f]) * t.H1;
    for (int i = 0; i < t.H1; ++i) a.z1[i] += row[i];
  }
  for (int i = 0; i < t.H1; ++i) {
    a.z1[i] += b1;
    a.a1[i] = activate(a.z1[i]);
  }
  for (int k = 0; k < t.H2; ++k) {
    a.z2[k] = dot(p + net.at.w2 + static_cast<size_t>(k) * t.H1, a.a1, t.H1) + b2;
    a.a2[k] = activate(a.z2[k]);
  }
  for (int j = 0; j < t.L; ++j) a.out[j] = dot(p + net.at.w3 + static_cast<size_t>(j) * t.H2, a.a2, t.H2);
  a.R = t.L == 1 ? a.out[0] : phase * a.out[0] + (1 - phase) * a.out[1];
  return a.R;
}

void backward(const Network& net, const uint16_t* features, int count, float phase, const Activations& a, float dR,
              float* grad) {
  const Topology& t = net.top;
  const float* p = net.p.data();
  const float dOut[2] = {t.L == 1 ? dR : phase * dR, (1 - phase) * dR};
  float dz2[eval::kMaxHidden2];
  for (int k = 0; k < t.H2; ++k) {
    float s = 0;
    for (int j = 0; j < t.L; ++j) {
      grad[net.at.w3 + static_cast<size_t>(j) * t.H2 + k] += dOut[j] * a.a2[k];
      s += dOut[j] * p[net.at.w3 + static_cast<size_t>(j) * t.H2 + k];
    }
    dz2[k] = s * slopeAt(a.z2[k]);
  }
  float dz1[eval::kMaxHidden1];
  std::fill(dz1, dz1 + t.H1, 0.0f);
  float db2 = 0;
  for (int k = 0; k < t.H2; ++k) {
    db2 += dz2[k];
    if (dz2[k] == 0) continue;
    const float* row = p + net.at.w2 + static_cast<size_t>(k) * t.H1;
    float* g = grad + net.at.w2 + static_cast<size_t>(k) * t.H1;
    for (int i = 0; i < t.H1; ++i) {
      g[i] += dz2[k] * a.a1[i];
      dz1[i] += dz2[k] * row[i];
    }
  }
  float db1 = 0;
  for (int i = 0; i < t.H1; ++i) {
    dz1[i] *= slopeAt(a.z1[i]);
    db1 += dz1[i];
  }
  for (int f = 0; f < count; ++f) {
    float* g = grad + net.at.w1 + static_cast<size_t>(features[f]) * t.H1;
    for (int i = 0; i < t.H1; ++i) g[i] += dz1[i];
  }
  grad[net.at.constants + eval::kBias1Constant] += db1;
  grad[net.at.constants + eval::kBias2Constant] += db2;
}

int writeNetworkFile(const std::string& path, const Network& net, std::string& why) {
  std::vector<uint8_t> bytes;
  const Topology& t = net.top;
  const uint16_t header[7] = {0, 1, static_cast<uint16_t>(t.G), static_cast<uint16_t>(t.X),
                              static_cast<uint16_t>(t.H1), static_cast<uint16_t>(t.H2), static_cast<uint16_t>(t.L)};
  for (uint16_t v : header) put(bytes, v);
  put(bytes, static_cast<uint32_t>(net.p.size()));  // the loader works the count out itself
  static_assert(7 * sizeof(uint16_t) + sizeof(uint32_t) == eval::kNetworkHeaderBytes);
  putFloats(bytes, net.p);
  return writeFileAtomically(path, bytes, why);
}

int readNetworkFile(const std::string& path, const Topology* expected, Network& net, std::string& why) {
  std::string reason;
  if (!eval::load_network(path, &reason)) {
    why = path + ": " + reason;
    return -1;
  }
  const eval::NetworkSlot& slot = eval::networks[0];
  const bool single = eval::network_count == 1;
  Topology t{slot.G, slot.X, slot.H1, slot.H2, slot.L};
  net.top = t;
  net.at = layoutOf(t);
  net.p.assign(slot.data.begin(), slot.data.end());
  eval::unloadNetworks();
  if (!single) {
    why = path + " holds two networks; training goes on from one";
    return -1;
  }
  if (expected && !sameTopology(t, *expected)) {
    why = path + ": " + mismatchText(t, *expected);
    return -1;
  }
  return 0;
}

int writeCheckpoint(const std::string& path, const Checkpoint& c, std::string& why) {
  std::vector<uint8_t> bytes(kCheckpointMagic, kCheckpointMagic + sizeof kCheckpointMagic);
  put(bytes, kCheckpointVersion);
  const Topology& t = c.net.top;
  for (int v : {t.G, t.X, t.H1, t.H2, t.L}) put(bytes, static_cast<uint32_t>(v));
  put(bytes, static_cast<uint32_t>(c.epoch));
  put(bytes, c.step);
  put(bytes, static_cast<uint64_t>(c.net.p.size()));
  putFloats(bytes, c.net.p);
  putFloats(bytes, c.m);
  putFloats(bytes, c.v);
  put(bytes, crc32(bytes.data(), bytes.size()));
  return writeFileAtomically(path, bytes, why);
}

bool isCheckpointFile(const std::string& path) {
  FILE* f = fopen(path.c_str(), "rb");
  if (!f) return false;
  char magic[sizeof kCheckpointMagic] = {};
  const bool read = fread(magic, 1, sizeof magic, f) == sizeof magic;
  fclose(f);
  return read && memcmp(magic, kCheckpointMagic, sizeof magic) == 0;
}

int readCheckpoint(const std::string& path, const Topology* expected, Checkpoint& c, std::string& why) {
  std::vector<uint8_t> bytes;
  if (!readWholeFile(path, bytes)) {
    why = "cannot open " + path;
    return -1;
  }
  uint32_t stored = 0;
  if (bytes.size() < sizeof kCheckpointMagic + sizeof stored || memcmp(bytes.data(), kCheckpointMagic, 8) != 0) {
    why = path + " is not a trainer checkpoint";
    return -1;
  }
  memcpy(&stored, bytes.data() + bytes.size() - sizeof stored, sizeof stored);
  if (crc32(bytes.data(), bytes.size() - sizeof stored) != stored) {
    why = path + " is damaged (checksum)";
    return -1;
  }
  Reader r{bytes, sizeof kCheckpointMagic};
  uint32_t version = 0, sizes[5] = {}, epoch = 0;
  uint64_t count = 0;
  bool ok = r.get(version) && version == kCheckpointVersion;
  for (uint32_t& s : sizes) ok = ok && r.get(s);
  ok = ok && r.get(epoch) && r.get(c.step) && r.get(count);
  Topology t{static_cast<int>(sizes[0]), static_cast<int>(sizes[1]), static_cast<int>(sizes[2]),
             static_cast<int>(sizes[3]), static_cast<int>(sizes[4])};
  ok = ok && topologyProblem(t).empty() && count == layoutOf(t).count;
  ok = ok && r.getFloats(c.net.p, count) && r.getFloats(c.m, count) && r.getFloats(c.v, count);
  if (!ok) {
    why = path + " is not a checkpoint this trainer reads";
    return -1;
  }
  if (expected && !sameTopology(t, *expected)) {
    why = path + ": " + mismatchText(t, *expected);
    return -1;
  }
  c.net.top = t;
  c.net.at = layoutOf(t);
  c.epoch = static_cast<int>(epoch);
  return 0;
}

}  // namespace train
