// SPDX-License-Identifier: GPL-3.0-or-later
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

#include "audio/channel_mix.h"
#include "audio/riff.h"
#include "transfer/file_io.h"
#include "transfer/texts.h"

namespace rendax {
namespace {

// Frames decoded per step: small enough for constant memory with many channels, large enough
// that the per-call costs vanish.
constexpr sf_count_t kDecodeFrames = 8192;
// More channels than any real recording has; a header claiming more is damaged.
constexpr int kMaxChannels = 64;

// An open file as libsndfile reads it through virtual I/O: the path is opened by our own UTF-8
// aware code on every system. A WAV written to a pipe says 0 for its data size; `patch` puts
// the real size in its place, as the file would have said had it been finished.
struct VirtualFile {
  File file;
  int64_t size = 0;
  int64_t patchAt = -1;
  uint8_t patch[4] = {};
  int error = 0;  // the system's error of the last read that failed

  static sf_count_t Length(void* self) { return static_cast<VirtualFile*>(self)->size; }
  static sf_count_t Seek(sf_count_t offset, int whence, void* self) {
    auto* v = static_cast<VirtualFile*>(self);
    if (!rendax::Seek(v->file.get(), offset, whence)) return -1;
    return rendax::Tell(v->file.get());
  }
  static sf_count_t Read(void* ptr, sf_count_t count, void* self) {
    auto* v = static_cast<VirtualFile*>(self);
    const int64_t at = rendax::Tell(v->file.get());
    const size_t got = std::fread(ptr, 1, static_cast<size_t>(count), v->file.get());
    if (got < static_cast<size_t>(count) && std::ferror(v->file.get())) {
      v->error = errno;
      std::clearerr(v->file.get());
    }
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
  static sf_count_t Tell(void* self) {
    return rendax::Tell(static_cast<VirtualFile*>(self)->file.get());
  }
};

SF_VIRTUAL_IO kVirtualIo = {VirtualFile::Length, VirtualFile::Seek, VirtualFile::Read,
                            VirtualFile::Write, VirtualFile::Tell};

// A reason for a file that could not be read, with the system's own words.
std::string Unreadable(int error) {
  return std::string(kReasonFileUnreadable) + (error ? ": " + SystemReason(error) : "");
}

// Up to `n` bytes from `offset`; fewer at the end of the file, or on an error (errno set).
size_t ReadAt(std::FILE* f, int64_t offset, uint8_t* out, size_t n) {
  if (!Seek(f, offset)) return 0;
  return std::fread(out, 1, n, f);
}

// Walks the chunks of a RIFF, RF64 or Wave64 file, reading on where they lie. A WAV written to
// a pipe says 0 for its data size; the file is then patched to say the real size, as it would
// have said had it been finished.
RiffWalk WalkFile(VirtualFile& vf, const uint8_t* head, size_t n) {
  RiffWalk walk = WalkRiff(std::span(head, n), static_cast<uint64_t>(vf.size));
  std::vector<uint8_t> more(4096);
  while (walk.next != 0) {
    const uint64_t at = walk.next;
    const size_t got = ReadAt(vf.file.get(), static_cast<int64_t>(at), more.data(), more.size());
    ContinueRiffWalk(walk, std::span(more.data(), got), static_cast<uint64_t>(vf.size));
    if (walk.next == at) break;  // the header could not be read
  }
  const RiffChunk* data = walk.Find("data");
  if (walk.form == RiffForm::Riff && data && data->size32 == 0 &&
      static_cast<uint64_t>(vf.size) > data->bodyAt) {
    const uint64_t rest = std::min<uint64_t>(vf.size - data->bodyAt, 0xFFFFFFFEu);
    vf.patchAt = static_cast<int64_t>(data->headerAt + 4);
    PutLe32(vf.patch, static_cast<uint32_t>(rest));
  }
  return walk;
}

// Fills `info` from what libsndfile found; false, with the reason, for a file not taken.
bool DescribeOpened(SNDFILE* sf, const SF_INFO& in, const uint8_t* head, size_t n,
                    AudioFileInfo& info, std::string& reason) {
  const char* container = ContainerName(in.format, head, n);
  if (!container) {
    SF_FORMAT_INFO major{};
    major.format = in.format & SF_FORMAT_TYPEMASK;
    sf_command(sf, SFC_GET_FORMAT_INFO, &major, sizeof major);
    reason =
        std::string("this is a ") + (major.name ? major.name : "kind of") + " file" + kConvertFirst;
    return false;
  }
  if (in.channels < 1 || in.channels > kMaxChannels || in.samplerate < 1) {
    reason = kHeaderSays + std::to_string(in.channels) + " channels at " +
             std::to_string(in.samplerate) + " Hz";
    return false;
  }
  const Codec codec = CodecOf(in.format);
  info.container = container;
  info.codec = codec.text;
  info.rate = static_cast<uint32_t>(in.samplerate);
  info.bits = codec.bits;
  info.channels = static_cast<uint32_t>(in.channels);
  if (in.frames >= 0 && in.frames != SF_COUNT_MAX) info.frames = static_cast<uint64_t>(in.frames);
  return true;
}

// Opens `path` for libsndfile and fills `info`. On refusal `reason` says what the file is.
SNDFILE* OpenForDecoding(const std::string& path, VirtualFile& vf, SF_INFO& in, AudioFileInfo& info,
                         std::string& reason) {
  info = AudioFileInfo{};
  vf.file = IsFolder(path) ? File() : OpenFile(path, "rb");
  if (!vf.file) {
    reason = IsFolder(path) ? kReasonIsFolder : SystemReason(errno);
    return nullptr;
  }
  std::FILE* f = vf.file.get();
  errno = 0;
  if (!Seek(f, 0, SEEK_END) || (vf.size = Tell(f)) < 0) {
    reason = Unreadable(errno);
    return nullptr;
  }
  uint8_t head[4096] = {};
  errno = 0;
  const size_t n = ReadAt(f, 0, head, sizeof head);
  if (std::ferror(f)) {
    reason = Unreadable(errno);
    return nullptr;
  }
  if (NamedBeforeDecoding(head, n)) {
    reason = NameTheFile(head, n);
    return nullptr;
  }
  info.chunks = WalkFile(vf, head, n).Names();
  if (!Seek(f, 0)) {
    reason = Unreadable(errno);
    return nullptr;
  }
  in = SF_INFO{};
  SNDFILE* sf = sf_open_virtual(&kVirtualIo, SFM_READ, &in, &vf);
  if (!sf) {
    // What the file looks like, and libsndfile's own words for what stopped it.
    reason =
        vf.error ? Unreadable(vf.error) : NameTheFile(head, n) + " (" + sf_strerror(nullptr) + ")";
    return nullptr;
  }
  if (!DescribeOpened(sf, in, head, n, info, reason)) {
    sf_close(sf);
    return nullptr;
  }
  return sf;
}

// Where each channel of an open file plays: as the file says, else the usual order of its kind.
std::vector<Speaker> SpeakersOf(SNDFILE* sf, const SF_INFO& in) {
  std::vector<int> map(static_cast<size_t>(in.channels), 0);
  if (sf_command(sf, SFC_GET_CHANNEL_MAP_INFO, map.data(),
                 static_cast<int>(sizeof(int) * map.size())) != SF_TRUE) {
    const int major = in.format & SF_FORMAT_TYPEMASK;
    return DefaultSpeakers(in.channels, major == SF_FORMAT_OGG    ? ChannelOrder::Vorbis
                                        : major == SF_FORMAT_FLAC ? ChannelOrder::Flac
                                                                  : ChannelOrder::Wave);
  }
  static const std::pair<int, Speaker> kPlaces[] = {
      {SF_CHANNEL_MAP_LEFT, Speaker::Left},
      {SF_CHANNEL_MAP_FRONT_LEFT, Speaker::Left},
      {SF_CHANNEL_MAP_RIGHT, Speaker::Right},
      {SF_CHANNEL_MAP_FRONT_RIGHT, Speaker::Right},
      {SF_CHANNEL_MAP_FRONT_LEFT_OF_CENTER, Speaker::FrontLeftOfCentre},
      {SF_CHANNEL_MAP_FRONT_RIGHT_OF_CENTER, Speaker::FrontRightOfCentre},
      {SF_CHANNEL_MAP_REAR_LEFT, Speaker::RearLeft},
      {SF_CHANNEL_MAP_REAR_RIGHT, Speaker::RearRight},
      {SF_CHANNEL_MAP_SIDE_LEFT, Speaker::SideLeft},
      {SF_CHANNEL_MAP_SIDE_RIGHT, Speaker::SideRight},
      {SF_CHANNEL_MAP_TOP_FRONT_LEFT, Speaker::TopFrontLeft},
      {SF_CHANNEL_MAP_TOP_FRONT_RIGHT, Speaker::TopFrontRight},
      {SF_CHANNEL_MAP_TOP_REAR_LEFT, Speaker::TopRearLeft},
      {SF_CHANNEL_MAP_TOP_REAR_RIGHT, Speaker::TopRearRight},
      {SF_CHANNEL_MAP_LFE, Speaker::Lfe},
  };
  std::vector<Speaker> speakers;
  for (int position : map) {
    // Centres, and channels whose place is not known, mix as a centre does.
    Speaker s = Speaker::Centre;
    for (const auto& [code, speaker] : kPlaces) {
      if (code == position) s = speaker;
    }
    speakers.push_back(s);
  }
  return speakers;
}

class PlainSource : public AudioSource {
 public:
  PlainSource(File file, const WavFormat& wav, uint32_t audioBytes)
      : file_(std::move(file)), wav_(wav), remaining_(audioBytes), total_(audioBytes) {}
  const WavFormat& Format() const override { return wav_; }
  int64_t Read(uint8_t* buffer, uint32_t bytes) override {
    const uint32_t want = std::min(bytes, remaining_);
    errno = 0;
    const size_t got = std::fread(buffer, 1, want, file_.get());
    if (got < want && std::ferror(file_.get())) {
      reason_ = Unreadable(errno);
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
    identity_ = inChannels_ == static_cast<int>(outChannels_);
    if (!identity_) weights_ = MixWeights(SpeakersOf(sf_, in_), outChannels_, plan.rule);
    const uint32_t inRate = static_cast<uint32_t>(in_.samplerate);
    if (inRate != format_.sampleRate) {
      soxr_error_t error = nullptr;
      const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT64_I, SOXR_FLOAT64_I);
      const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_VHQ, 0);
      soxr_ = soxr_create(inRate, format_.sampleRate, outChannels_, &error, &io, &quality, nullptr);
      if (!soxr_ || error) {
        reason = std::string(kNotResampled) + ": " + (error ? error : "no resampler");
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
      Write24(staged_.data() + pendingAt_ * outChannels_, take * outChannels_,
              buffer + static_cast<size_t>(done) * frameBytes);
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
        reason_ = std::string(kNotDecoded) + ": " +
                  (vf_.error ? SystemReason(vf_.error) : std::string(sf_strerror(sf_)));
        return false;
      }
      if (n == 0) inputDone_ = true;
    }
    const double* frames = input_.data();
    if (!identity_ && n > 0) {
      MixFrames(weights_, inChannels_, outChannels_, input_.data(), mixed_.data(),
                static_cast<size_t>(n));
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
    reason_ = std::string(kNotResampled) + ": " + why;
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

std::unique_ptr<AudioSource> OpenPlainSource(const std::string& path, const WavFormat& wav,
                                             uint32_t audioOffset, uint32_t audioBytes,
                                             std::string& reason) {
  File file = OpenFile(path, "rb");
  if (!file) {
    reason = SystemReason(errno);
    return nullptr;
  }
  if (std::fseek(file.get(), static_cast<long>(audioOffset), SEEK_SET) != 0) {
    reason = Unreadable(errno);
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
