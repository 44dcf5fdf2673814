#include "transfer/decode.h"

#include <sndfile.h>
#include <soxr.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>
#include <vector>

#include "transfer/file_io.h"

namespace rendax {
namespace {

// Frames decoded per step: small enough for constant memory with many channels, large enough
// that the per-call costs vanish.
constexpr sf_count_t kDecodeFrames = 8192;
// More channels than any real recording has; a header claiming more is damaged.
constexpr int kMaxChannels = 64;
constexpr uint32_t kDecodedRate = 48000;

const char* const kConvertFirst = ", which is not supported; convert it to WAV or FLAC first";

int Seek64(std::FILE* f, int64_t offset, int whence) {
#ifdef _WIN32
  return _fseeki64(f, offset, whence);
#else
  return fseeko(f, static_cast<off_t>(offset), whence);
#endif
}

int64_t Tell64(std::FILE* f) {
#ifdef _WIN32
  return _ftelli64(f);
#else
  return ftello(f);
#endif
}

uint32_t Get32(const uint8_t* p) {
  return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24;
}

uint64_t Get64(const uint8_t* p) {
  return Get32(p) | static_cast<uint64_t>(Get32(p + 4)) << 32;
}

bool TagIs(const uint8_t* p, const char* tag) {
  return std::memcmp(p, tag, 4) == 0;
}

// An open file as libsndfile reads it through virtual I/O: the path is opened by our own UTF-8
// aware code on every system. A WAV written to a pipe says 0 for its data size; `patch` puts
// the real size in its place, as the file would have said had it been finished.
struct VirtualFile {
  File file;
  int64_t size = 0;
  int64_t patchAt = -1;
  uint8_t patch[4] = {};

  static sf_count_t Length(void* self) { return static_cast<VirtualFile*>(self)->size; }
  static sf_count_t Seek(sf_count_t offset, int whence, void* self) {
    auto* v = static_cast<VirtualFile*>(self);
    if (Seek64(v->file.get(), offset, whence) != 0) return -1;
    return Tell64(v->file.get());
  }
  static sf_count_t Read(void* ptr, sf_count_t count, void* self) {
    auto* v = static_cast<VirtualFile*>(self);
    const int64_t at = Tell64(v->file.get());
    const size_t got = std::fread(ptr, 1, static_cast<size_t>(count), v->file.get());
    if (v->patchAt >= 0 && at >= 0) {
      auto* bytes = static_cast<uint8_t*>(ptr);
      for (int i = 0; i < 4; ++i) {
        const int64_t k = v->patchAt + i - at;
        if (k >= 0 && k < static_cast<int64_t>(got)) bytes[k] = v->patch[i];
      }
    }
    return static_cast<sf_count_t>(got);
  }
  static sf_count_t Write(const void*, sf_count_t, void*) { return 0; }
  static sf_count_t Tell(void* self) { return Tell64(static_cast<VirtualFile*>(self)->file.get()); }
};

SF_VIRTUAL_IO kVirtualIo = {VirtualFile::Length, VirtualFile::Seek, VirtualFile::Read,
                            VirtualFile::Write, VirtualFile::Tell};

// The chunks of a RIFF/RF64 file, and where its data chunk's size is written.
struct RiffWalk {
  bool riff = false;  // "RIFF" or "RF64" ... "WAVE"
  bool rf64 = false;
  std::string chunks;
  int64_t dataSizeAt = -1;
  int64_t dataStart = -1;
  uint32_t dataSize = 0;
};

RiffWalk WalkRiff(std::FILE* f, int64_t fileSize) {
  RiffWalk w;
  uint8_t head[12];
  if (Seek64(f, 0, SEEK_SET) != 0 || std::fread(head, 1, 12, f) != 12) return w;
  if ((!TagIs(head, "RIFF") && !TagIs(head, "RF64")) || !TagIs(head + 8, "WAVE")) return w;
  w.riff = true;
  w.rf64 = TagIs(head, "RF64");
  uint64_t rf64Data = 0;
  int64_t at = 12;
  for (int n = 0; n < 256 && at + 8 <= fileSize; ++n) {
    uint8_t c[8];
    if (Seek64(f, at, SEEK_SET) != 0 || std::fread(c, 1, 8, f) != 8) break;
    std::string id(reinterpret_cast<const char*>(c), 4);
    for (char& ch : id) {
      if (ch < 0x20 || ch > 0x7E) ch = '?';
    }
    if (!w.chunks.empty()) w.chunks += ' ';
    w.chunks += id;
    uint64_t size = Get32(c + 4);
    if (TagIs(c, "ds64") && size >= 16) {
      uint8_t ds[16];
      if (std::fread(ds, 1, 16, f) == 16) rf64Data = Get64(ds + 8);
    }
    if (TagIs(c, "data")) {
      w.dataSizeAt = at + 4;
      w.dataStart = at + 8;
      w.dataSize = static_cast<uint32_t>(size);
      if (w.rf64 && size == 0xFFFFFFFFu) size = rf64Data;
      // A size the writer never filled in runs to the end of the file: nothing follows.
      if (!w.rf64 && (size == 0 || size == 0xFFFFFFFFu)) break;
    }
    at += 8 + static_cast<int64_t>(size) + static_cast<int64_t>(size & 1);
  }
  return w;
}

// What a file that libsndfile cannot read is, from its first bytes.
std::string NameTheFile(const uint8_t* h, size_t n) {
  if (n == 0) return "the file is empty";
  if (n >= 8 && TagIs(h + 4, "ftyp")) {
    return std::string("this is an MPEG-4/AAC file") + kConvertFirst;
  }
  if (n >= 4 && h[0] == 0x1A && h[1] == 0x45 && h[2] == 0xDF && h[3] == 0xA3) {
    return std::string("this is a Matroska/WebM file") + kConvertFirst;
  }
  if (n >= 12 && TagIs(h, "RIFF") && TagIs(h + 8, "AVI ")) {
    return std::string("this is an AVI video file") + kConvertFirst;
  }
  if (n >= 12 && (TagIs(h, "RIFF") || TagIs(h, "RF64")) && TagIs(h + 8, "WAVE")) {
    return "this WAV file is damaged or its audio is in a form that cannot be read";
  }
  if (n >= 12 && TagIs(h, "FORM") && (TagIs(h + 8, "AIFF") || TagIs(h + 8, "AIFC"))) {
    return "this AIFF file is damaged or its audio is in a form that cannot be read";
  }
  if (n >= 4 && TagIs(h, "fLaC")) return "this FLAC file is damaged";
  if (n >= 4 && TagIs(h, "OggS")) {
    return "this Ogg file holds neither Vorbis nor Opus audio, or it is damaged";
  }
  if (n >= 3 && std::memcmp(h, "ID3", 3) == 0) {
    return "this file has an ID3 tag but no MPEG audio that can be decoded";
  }
  if (n >= 2 && h[0] == 0xFF && (h[1] & 0xF6) == 0xF0) {
    return std::string("this is an AAC file") + kConvertFirst;
  }
  if (n >= 4 && TagIs(h, "wvpk")) return std::string("this is a WavPack file") + kConvertFirst;
  if (n >= 4 && TagIs(h, "MAC "))
    return std::string("this is a Monkey's Audio file") + kConvertFirst;
  if (n >= 4 && TagIs(h, "caff")) return std::string("this is a CAF file") + kConvertFirst;
  const bool text = std::all_of(h, h + n, [](uint8_t b) {
    return b >= 0x20 ? b != 0x7F : (b == '\t' || b == '\n' || b == '\r' || b == '\f');
  });
  if (text) return "this is a text file, not audio";
  return "this is not an audio file this program reads (WAV, AIFF, FLAC, Ogg Vorbis, Opus or "
         "MP3)";
}

// The containers the import takes, by libsndfile's major format.
const char* ContainerName(const SF_INFO& in, const uint8_t* head, size_t n) {
  const int sub = in.format & SF_FORMAT_SUBMASK;
  switch (in.format & SF_FORMAT_TYPEMASK) {
    case SF_FORMAT_WAV:
      return "WAV";
    case SF_FORMAT_WAVEX:
      return "WAV (extensible)";
    case SF_FORMAT_RF64:
      return "RF64";
    case SF_FORMAT_AIFF:
      return n >= 12 && TagIs(head + 8, "AIFC") ? "AIFF-C" : "AIFF";
    case SF_FORMAT_FLAC:
      return "FLAC";
    case SF_FORMAT_OGG:
      return sub == SF_FORMAT_VORBIS ? "Ogg Vorbis" : sub == SF_FORMAT_OPUS ? "Opus" : nullptr;
    case SF_FORMAT_MPEG:
      return sub == SF_FORMAT_MPEG_LAYER_III ? "MP3" : "MPEG audio";
    default:
      return nullptr;
  }
}

struct Codec {
  const char* text;
  uint32_t bits;
  bool lossy;
};

Codec CodecOf(int format) {
  switch (format & SF_FORMAT_SUBMASK) {
    case SF_FORMAT_PCM_S8:
    case SF_FORMAT_PCM_U8:
      return {"PCM 8-bit", 8, false};
    case SF_FORMAT_PCM_16:
      return {"PCM 16-bit", 16, false};
    case SF_FORMAT_PCM_24:
      return {"PCM 24-bit", 24, false};
    case SF_FORMAT_PCM_32:
      return {"PCM 32-bit", 32, false};
    case SF_FORMAT_FLOAT:
      return {"32-bit float", 32, false};
    case SF_FORMAT_DOUBLE:
      return {"64-bit float", 64, false};
    case SF_FORMAT_ULAW:
      return {"u-law", 8, false};
    case SF_FORMAT_ALAW:
      return {"A-law", 8, false};
    case SF_FORMAT_IMA_ADPCM:
      return {"IMA ADPCM", 4, false};
    case SF_FORMAT_MS_ADPCM:
      return {"MS ADPCM", 4, false};
    case SF_FORMAT_GSM610:
      return {"GSM 6.10", 0, true};
    case SF_FORMAT_VORBIS:
      return {"Vorbis", 0, true};
    case SF_FORMAT_OPUS:
      return {"Opus", 0, true};
    case SF_FORMAT_MPEG_LAYER_I:
      return {"MPEG layer I", 0, true};
    case SF_FORMAT_MPEG_LAYER_II:
      return {"MPEG layer II", 0, true};
    case SF_FORMAT_MPEG_LAYER_III:
      return {"MPEG layer III", 0, true};
    default:
      return {"compressed", 0, true};
  }
}

// Opens `path` for libsndfile and fills `info`. On refusal `reason` says what the file is.
SNDFILE* OpenForDecoding(const std::string& path, VirtualFile& vf, SF_INFO& in, AudioFileInfo& info,
                         std::string& reason) {
  info = AudioFileInfo{};
  vf.file = IsFolder(path) ? File() : OpenFile(path, "rb");
  if (!vf.file) {
    reason = IsFolder(path) ? "it is a folder" : SystemReason(errno);
    return nullptr;
  }
  std::FILE* f = vf.file.get();
  if (Seek64(f, 0, SEEK_END) != 0 || (vf.size = Tell64(f)) < 0) {
    reason = "the file could not be read";
    return nullptr;
  }
  uint8_t head[512] = {};
  const size_t n = Seek64(f, 0, SEEK_SET) == 0 ? std::fread(head, 1, sizeof head, f) : 0;
  // Kinds libsndfile might misjudge as a stream of MPEG frames are named before it looks.
  if (n == 0 || (n >= 8 && TagIs(head + 4, "ftyp")) || (n >= 12 && TagIs(head + 8, "AVI ")) ||
      (n >= 4 && head[0] == 0x1A && head[1] == 0x45)) {
    reason = NameTheFile(head, n);
    return nullptr;
  }
  const RiffWalk walk = WalkRiff(f, vf.size);
  info.chunks = walk.chunks;
  if (walk.riff && !walk.rf64 && walk.dataStart >= 0 && walk.dataSize == 0 &&
      vf.size > walk.dataStart) {
    const uint64_t rest = std::min<uint64_t>(vf.size - walk.dataStart, 0xFFFFFFFEu);
    vf.patchAt = walk.dataSizeAt;
    for (int i = 0; i < 4; ++i) vf.patch[i] = static_cast<uint8_t>(rest >> (8 * i));
  }
  if (Seek64(f, 0, SEEK_SET) != 0) {
    reason = "the file could not be read";
    return nullptr;
  }
  in = SF_INFO{};
  SNDFILE* sf = sf_open_virtual(&kVirtualIo, SFM_READ, &in, &vf);
  if (!sf) {
    reason = NameTheFile(head, n);
    return nullptr;
  }
  const char* container = ContainerName(in, head, n);
  if (!container) {
    SF_FORMAT_INFO major{};
    major.format = in.format & SF_FORMAT_TYPEMASK;
    sf_command(sf, SFC_GET_FORMAT_INFO, &major, sizeof major);
    reason =
        std::string("this is a ") + (major.name ? major.name : "kind of") + " file" + kConvertFirst;
    sf_close(sf);
    return nullptr;
  }
  if (in.channels < 1 || in.channels > kMaxChannels || in.samplerate < 1) {
    reason = "the file's header says " + std::to_string(in.channels) + " channels at " +
             std::to_string(in.samplerate) + " Hz";
    sf_close(sf);
    return nullptr;
  }
  const Codec codec = CodecOf(in.format);
  info.container = container;
  info.codec = codec.text;
  info.rate = static_cast<uint32_t>(in.samplerate);
  info.bits = codec.bits;
  info.channels = static_cast<uint32_t>(in.channels);
  if (in.frames >= 0 && in.frames != SF_COUNT_MAX) info.frames = static_cast<uint64_t>(in.frames);
  return sf;
}

// The width piece of a description: "24-bit", "32-bit float", "u-law"; empty for lossy codecs.
std::string DescribeWidth(const AudioFileInfo& info) {
  if (info.codec.rfind("PCM ", 0) == 0) return info.codec.substr(4);
  if (info.codec.find("float") != std::string::npos) return info.codec;
  if (info.bits == 0) return "";
  return info.codec;
}

std::string DescribeSource(const AudioFileInfo& info) {
  std::string s = info.container + ", " + DescribeRate(info.rate);
  const std::string width = DescribeWidth(info);
  if (!width.empty()) s += ", " + width;
  return s + ", " + DescribeChannels(info.channels);
}

// How much of each input channel goes left and right when 3 or more are mixed to stereo:
// fronts as they are, centre and surrounds at -3 dB, the LFE channel left out.
constexpr double kMinus3dB = 0.70710678118654752;

void StereoWeights(int position, double& left, double& right) {
  left = right = 0;
  switch (position) {
    case SF_CHANNEL_MAP_LEFT:
    case SF_CHANNEL_MAP_FRONT_LEFT:
    case SF_CHANNEL_MAP_FRONT_LEFT_OF_CENTER:
      left = 1;
      break;
    case SF_CHANNEL_MAP_RIGHT:
    case SF_CHANNEL_MAP_FRONT_RIGHT:
    case SF_CHANNEL_MAP_FRONT_RIGHT_OF_CENTER:
      right = 1;
      break;
    case SF_CHANNEL_MAP_REAR_LEFT:
    case SF_CHANNEL_MAP_SIDE_LEFT:
    case SF_CHANNEL_MAP_TOP_FRONT_LEFT:
    case SF_CHANNEL_MAP_TOP_REAR_LEFT:
      left = kMinus3dB;
      break;
    case SF_CHANNEL_MAP_REAR_RIGHT:
    case SF_CHANNEL_MAP_SIDE_RIGHT:
    case SF_CHANNEL_MAP_TOP_FRONT_RIGHT:
    case SF_CHANNEL_MAP_TOP_REAR_RIGHT:
      right = kMinus3dB;
      break;
    case SF_CHANNEL_MAP_LFE:
      break;
    default:  // centres, and channels whose place is not known
      left = right = kMinus3dB;
      break;
  }
}

// Where each channel sits when the file does not say: the usual order of its kind.
std::vector<int> DefaultPositions(int channels, bool xiphOrder, bool flacOrder) {
  using P = std::vector<int>;
  enum {
    L = SF_CHANNEL_MAP_LEFT,
    R = SF_CHANNEL_MAP_RIGHT,
    C = SF_CHANNEL_MAP_CENTER,
    LFE = SF_CHANNEL_MAP_LFE,
    BL = SF_CHANNEL_MAP_REAR_LEFT,
    BR = SF_CHANNEL_MAP_REAR_RIGHT,
    BC = SF_CHANNEL_MAP_REAR_CENTER,
    SL = SF_CHANNEL_MAP_SIDE_LEFT,
    SR = SF_CHANNEL_MAP_SIDE_RIGHT,
    FLC = SF_CHANNEL_MAP_FRONT_LEFT_OF_CENTER,
    FRC = SF_CHANNEL_MAP_FRONT_RIGHT_OF_CENTER,
  };
  P p;
  if (xiphOrder && channels <= 8) {
    static const P kXiph[9] = {{},
                               {C},
                               {L, R},
                               {L, C, R},
                               {L, R, BL, BR},
                               {L, C, R, BL, BR},
                               {L, C, R, BL, BR, LFE},
                               {L, C, R, SL, SR, BC, LFE},
                               {L, C, R, SL, SR, BL, BR, LFE}};
    p = kXiph[channels];
  } else if (flacOrder && channels <= 8) {
    static const P kFlac[9] = {{},
                               {C},
                               {L, R},
                               {L, R, C},
                               {L, R, BL, BR},
                               {L, R, C, BL, BR},
                               {L, R, C, LFE, BL, BR},
                               {L, R, C, LFE, BC, SL, SR},
                               {L, R, C, LFE, BL, BR, SL, SR}};
    p = kFlac[channels];
  } else {
    // WAVE's speaker order, as a channel mask would list them.
    static const P kWave = {L, R, C, LFE, BL, BR, FLC, FRC, BC, SL, SR};
    p.assign(kWave.begin(), kWave.begin() + std::min<size_t>(kWave.size(), channels));
  }
  p.resize(static_cast<size_t>(channels), SF_CHANNEL_MAP_INVALID);
  return p;
}

// A decoded sample to 24 bits as sox rounds it (to 32 bits, then to 24, each half away from
// or up from zero, clipped), so that the same file gives the same loop here and there.
int32_t To24(double v) {
  double x = v * 2147483648.0;
  int64_t s;
  if (!(x == x)) {
    s = 0;  // NaN
  } else if (x < 0) {
    s = x <= -2147483648.5 ? INT32_MIN : static_cast<int64_t>(x - 0.5);
  } else {
    s = x >= 2147483647.5 ? INT32_MAX : static_cast<int64_t>(x + 0.5);
  }
  const int64_t t = (s + 128) >> 8;
  return static_cast<int32_t>(std::clamp<int64_t>(t, -8388608, 8388607));
}

class PlainSource : public AudioSource {
 public:
  PlainSource(File file, const WavFormat& wav, uint32_t audioBytes)
      : file_(std::move(file)), wav_(wav), remaining_(audioBytes), total_(audioBytes) {}
  const WavFormat& Format() const override { return wav_; }
  int64_t Read(uint8_t* buffer, uint32_t bytes) override {
    const uint32_t want = std::min(bytes, remaining_);
    const size_t got = std::fread(buffer, 1, want, file_.get());
    if (got < want && std::ferror(file_.get())) {
      reason_ = "the file could not be read";
      return -1;
    }
    remaining_ -= static_cast<uint32_t>(got);
    return static_cast<int64_t>(got);
  }
  uint64_t ExpectedBytes() const override { return total_; }
  bool ExactLength() const override { return true; }
  const std::string& Reason() const override { return reason_; }

 private:
  File file_;
  WavFormat wav_;
  uint32_t remaining_;
  uint32_t total_;
  std::string reason_;
};

class DecodedSource : public AudioSource {
 public:
  ~DecodedSource() override {
    if (soxr_) soxr_delete(soxr_);
    if (sf_) sf_close(sf_);
  }

  bool Open(const std::string& path, const ConversionPlan& plan, std::string& reason) {
    AudioFileInfo info;
    sf_ = OpenForDecoding(path, vf_, in_, info, reason);
    if (!sf_) return false;
    format_ = plan.format;
    inChannels_ = in_.channels;
    outChannels_ = format_.channels;
    if (outChannels_ != 1 && outChannels_ != 2) {
      reason = "no conversion to " + DescribeChannels(outChannels_);
      return false;
    }
    // The mixing matrix: out[o] = sum over i of weight[o][i] * in[i].
    weights_.assign(static_cast<size_t>(outChannels_) * inChannels_, 0.0);
    identity_ = inChannels_ == static_cast<int>(outChannels_);
    if (!identity_) {
      std::vector<double> left(inChannels_, 0.0), right(inChannels_, 0.0);
      if (inChannels_ == 1) {
        left[0] = right[0] = 1;
      } else if (inChannels_ == 2) {
        left[0] = right[1] = 1;
      } else {
        std::vector<int> map(static_cast<size_t>(inChannels_), 0);
        const bool mapped = sf_command(sf_, SFC_GET_CHANNEL_MAP_INFO, map.data(),
                                       static_cast<int>(sizeof(int) * map.size())) == SF_TRUE;
        if (!mapped) {
          const int major = in_.format & SF_FORMAT_TYPEMASK;
          map = DefaultPositions(inChannels_, major == SF_FORMAT_OGG, major == SF_FORMAT_FLAC);
        }
        for (int i = 0; i < inChannels_; ++i) StereoWeights(map[i], left[i], right[i]);
      }
      for (int i = 0; i < inChannels_; ++i) {
        if (outChannels_ == 1) {
          weights_[i] = (left[i] + right[i]) / 2;  // (L+R)/2
        } else {
          weights_[i] = left[i];
          weights_[inChannels_ + i] = right[i];
        }
      }
    }
    const uint32_t inRate = static_cast<uint32_t>(in_.samplerate);
    if (inRate != format_.sampleRate) {
      soxr_error_t error = nullptr;
      const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT64_I, SOXR_FLOAT64_I);
      const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_VHQ, 0);
      soxr_ = soxr_create(inRate, format_.sampleRate, outChannels_, &error, &io, &quality, nullptr);
      if (!soxr_ || error) {
        reason = std::string("the resampler could not be set up: ") + (error ? error : "");
        return false;
      }
    }
    // Upsampling reads fewer frames per step, so that a step's output, and with it the memory,
    // stays near kDecodeFrames whatever the file's rate.
    step_ = inRate < format_.sampleRate
                ? std::max<sf_count_t>(1, kDecodeFrames * inRate / format_.sampleRate)
                : kDecodeFrames;
    input_.resize(static_cast<size_t>(kDecodeFrames) * inChannels_);
    mixed_.resize(static_cast<size_t>(kDecodeFrames) * outChannels_);
    const uint64_t frames = info.frames.value_or(0);
    expected_ = frames * format_.sampleRate / inRate * format_.blockAlign;
    return true;
  }

  const WavFormat& Format() const override { return format_; }
  uint64_t ExpectedBytes() const override { return expected_; }
  bool ExactLength() const override { return false; }
  const std::string& Reason() const override { return reason_; }

  int64_t Read(uint8_t* buffer, uint32_t bytes) override {
    const uint32_t frameBytes = format_.blockAlign;
    const uint32_t want = bytes / frameBytes;
    uint32_t done = 0;
    while (done < want) {
      if (pendingAt_ == pendingFrames_) {
        if (finished_) break;
        if (!Refill()) return -1;
        continue;
      }
      const size_t take = std::min<size_t>(want - done, pendingFrames_ - pendingAt_);
      const double* from = staged_.data() + pendingAt_ * outChannels_;
      uint8_t* to = buffer + static_cast<size_t>(done) * frameBytes;
      for (size_t i = 0; i < take * outChannels_; ++i) {
        const int32_t v = To24(from[i]);
        to[3 * i] = static_cast<uint8_t>(v);
        to[3 * i + 1] = static_cast<uint8_t>(v >> 8);
        to[3 * i + 2] = static_cast<uint8_t>(v >> 16);
      }
      pendingAt_ += take;
      done += static_cast<uint32_t>(take);
    }
    return static_cast<int64_t>(done) * frameBytes;
  }

 private:
  // Decodes the next step into `staged_`; sets finished_ at the end.
  bool Refill() {
    pendingAt_ = pendingFrames_ = 0;
    sf_count_t n = 0;
    if (!inputDone_) {
      n = sf_readf_double(sf_, input_.data(), step_);
      if (n < 0 || sf_error(sf_) != SF_ERR_NO_ERROR) {
        reason_ = std::string("the audio could not be decoded: ") + sf_strerror(sf_);
        return false;
      }
      if (n == 0) inputDone_ = true;
    }
    const double* frames = input_.data();
    if (!identity_ && n > 0) {
      for (sf_count_t k = 0; k < n; ++k) {
        const double* x = input_.data() + k * inChannels_;
        for (uint32_t o = 0; o < outChannels_; ++o) {
          const double* w = weights_.data() + o * inChannels_;
          double sum = 0;
          for (int i = 0; i < inChannels_; ++i) sum += w[i] * x[i];
          mixed_[k * outChannels_ + o] = sum;
        }
      }
      frames = mixed_.data();
    }
    if (!soxr_) {
      if (n == 0) {
        finished_ = true;
        return true;
      }
      // Without a rate change the step's frames are the output as they are.
      staged_.assign(frames, frames + n * outChannels_);
      pendingFrames_ = static_cast<size_t>(n);
      return true;
    }
    const double ratio = static_cast<double>(format_.sampleRate) / in_.samplerate;
    size_t room = static_cast<size_t>(std::ceil(static_cast<double>(step_) * ratio)) + 1024;
    if (staged_.size() < room * outChannels_) staged_.resize(room * outChannels_);
    room = staged_.size() / outChannels_;
    if (n == 0) {
      // The end of the input: what the resampler still holds comes out, step by step.
      size_t made = 0;
      const soxr_error_t error =
          soxr_process(soxr_, nullptr, 0, nullptr, staged_.data(), room, &made);
      if (error) return Failed(error);
      pendingFrames_ = made;
      finished_ = made == 0;
      return true;
    }
    for (size_t inAt = 0; inAt < static_cast<size_t>(n);) {
      if (pendingFrames_ == room) {
        room += room;
        staged_.resize(room * outChannels_);
      }
      size_t used = 0, made = 0;
      const soxr_error_t error = soxr_process(
          soxr_, frames + inAt * outChannels_, static_cast<size_t>(n) - inAt, &used,
          staged_.data() + pendingFrames_ * outChannels_, room - pendingFrames_, &made);
      if (error) return Failed(error);
      if (used == 0 && made == 0) return Failed("no progress");
      inAt += used;
      pendingFrames_ += made;
    }
    return true;
  }

  bool Failed(const char* why) {
    reason_ = std::string("the audio could not be resampled: ") + why;
    return false;
  }

  VirtualFile vf_;
  SNDFILE* sf_ = nullptr;
  SF_INFO in_{};
  soxr_t soxr_ = nullptr;
  WavFormat format_;
  int inChannels_ = 0;
  uint32_t outChannels_ = 0;
  bool identity_ = true;
  sf_count_t step_ = kDecodeFrames;
  std::vector<double> weights_, input_, mixed_, staged_;
  size_t pendingAt_ = 0, pendingFrames_ = 0;
  bool inputDone_ = false, finished_ = false;
  uint64_t expected_ = 0;
  std::string reason_;
};

}  // namespace

bool InspectAudioFile(const std::string& path, AudioFileInfo& info, std::string& reason) {
  VirtualFile vf;
  SF_INFO in{};
  SNDFILE* sf = OpenForDecoding(path, vf, in, info, reason);
  if (!sf) return false;
  sf_close(sf);
  return true;
}

ConversionPlan PlanConversion(const AudioFileInfo& info, bool plain, uint32_t pedalChannels,
                              bool mix) {
  ConversionPlan plan;
  WavFormat& f = plan.format;
  f.formatTag = 1;
  f.fmtSize = 16;
  if (plain) {
    f.channels = static_cast<uint16_t>(info.channels);
    f.sampleRate = info.rate;
    f.bitsPerSample = static_cast<uint16_t>(info.bits);
  } else {
    plan.converted = true;
    f.sampleRate = info.rate == 44100 || info.rate == 48000 ? info.rate : kDecodedRate;
    plan.resampled = f.sampleRate != info.rate;
    uint32_t channels = info.channels;
    if (channels > 2) {
      channels = 2;
      plan.downmixed = true;
    }
    if (channels == 2 && pedalChannels == 1 && mix) {
      channels = 1;
      plan.mixedToMono = true;
    }
    f.channels = static_cast<uint16_t>(channels);
    f.bitsPerSample = 24;
  }
  f.blockAlign = static_cast<uint16_t>(f.channels * f.bitsPerSample / 8);
  f.byteRate = f.sampleRate * f.blockAlign;
  plan.description = DescribeSource(info);
  if (plan.converted) {
    plan.description +=
        " -> " + DescribeRate(f.sampleRate) + ", 24-bit, " + DescribeChannels(f.channels);
    if (plan.downmixed) plan.description += ", mixed to stereo";
    if (plan.mixedToMono) plan.description += ", both channels mixed to mono";
  }
  return plan;
}

std::string GroupThousands(uint64_t v) {
  const std::string digits = std::to_string(v);
  std::string out;
  for (size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) out += ',';
    out += digits[i];
  }
  return out;
}

std::string DescribeRate(uint32_t rate) {
  return GroupThousands(rate) + " Hz";
}

std::string DescribeChannels(uint32_t channels) {
  return channels == 1 ? "mono" : channels == 2 ? "stereo" : std::to_string(channels) + " channels";
}

std::unique_ptr<AudioSource> OpenPlainSource(const std::string& path, const WavFormat& wav,
                                             uint32_t audioOffset, uint32_t audioBytes,
                                             std::string& reason) {
  File file = OpenFile(path, "rb");
  if (!file) {
    reason = SystemReason(errno);
    return nullptr;
  }
  if (std::fseek(file.get(), static_cast<long>(audioOffset), SEEK_SET) != 0) {
    reason = "the file could not be read";
    return nullptr;
  }
  return std::make_unique<PlainSource>(std::move(file), wav, audioBytes);
}

std::unique_ptr<AudioSource> OpenDecodedSource(const std::string& path, const ConversionPlan& plan,
                                               std::string& reason) {
  auto source = std::make_unique<DecodedSource>();
  if (!source->Open(path, plan, reason)) return nullptr;
  return source;
}

}  // namespace rendax
