// SPDX-License-Identifier: GPL-3.0-or-later
#include "transfer/file_kind.h"

#include <sndfile.h>

#include <algorithm>
#include <cstring>

#include "audio/riff.h"
#include "audio/sample_pages.h"
#include "transfer/texts.h"

namespace rendax {
namespace {

constexpr uint32_t kDecodedRate = 48000;

bool TagIs(const uint8_t* p, const char* tag) {
  return std::memcmp(p, tag, 4) == 0;
}

std::string Unsupported(const char* what) {
  return std::string("this is ") + what + kConvertFirst;
}

// The width piece of a description: "24-bit", "32-bit float", "u-law"; empty for lossy codecs.
std::string DescribeWidth(const AudioFileInfo& info) {
  if (info.codec.rfind("PCM ", 0) == 0) return info.codec.substr(4);
  if (info.codec.find("float") != std::string::npos) return info.codec;
  if (info.bits == 0) return "";
  return info.codec;
}

std::string DescribeSource(const AudioFileInfo& info) {
  std::string s = info.container + kPartSeparator + DescribeRate(info.rate);
  const std::string width = DescribeWidth(info);
  if (!width.empty()) s += kPartSeparator + width;
  return s + kPartSeparator + DescribeChannels(info.channels);
}

// Samples the exact path would take as they are: integer PCM of 16 or 24 bits, in whatever
// container (extensible WAV, RF64, W64, AIFF, FLAC) they arrive.
bool PlainSamples(const AudioFileInfo& info) {
  return info.codec == "PCM 16-bit" || info.codec == "PCM 24-bit";
}

// The right side of a conversion line: only what changes for the pedal, or "" when nothing does.
std::string DescribeChanges(const AudioFileInfo& info, const ConversionPlan& plan,
                            uint32_t pedalChannels) {
  const WavFormat& f = plan.format;
  std::string parts;
  auto add = [&](const std::string& part) {
    if (!parts.empty()) parts += kPartSeparator;
    parts += part;
  };
  const bool formatChanges =
      plan.decoded && (plan.resampled || f.channels != info.channels || !PlainSamples(info));
  if (formatChanges) {
    // The channels the pedal gets: a one-channel pedal takes one of the converters' two.
    add(DescribeRate(f.sampleRate) + kPartSeparator + std::to_string(f.bitsPerSample) +
        kBitsSuffix + kPartSeparator +
        DescribeChannels(std::min<uint32_t>(f.channels, pedalChannels)));
  }
  if (plan.downmixed && pedalChannels == 1) {
    // What the one channel gets, not the stereo step on the way.
    add(plan.mixedToMono ? kAllMixedToMono : kLeftOfStereoMix);
  } else {
    if (plan.downmixed) add(kMixedToStereo);
    if (plan.mixedToMono) add(kMixedToMono);
    if (pedalChannels == 1 && info.channels >= 2 && plan.rule != ChannelRule::Sum) {
      add(kFirstChannelOnly);
    }
  }
  if (pedalChannels == 2 && info.channels == 1) {
    add(plan.rule == ChannelRule::Both ? kBothSides : kLeftSideOnly);
  }
  return parts;
}

}  // namespace

const char* ContainerName(int sfFormat, const uint8_t* head, std::size_t n) {
  const int sub = sfFormat & SF_FORMAT_SUBMASK;
  switch (sfFormat & SF_FORMAT_TYPEMASK) {
    case SF_FORMAT_WAV:
      return "WAV";
    case SF_FORMAT_WAVEX:
      return "WAV (extensible)";
    case SF_FORMAT_RF64:
      return "RF64";
    case SF_FORMAT_W64:
      return "W64";
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

Codec CodecOf(int sfFormat) {
  switch (sfFormat & SF_FORMAT_SUBMASK) {
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

bool NamedBeforeDecoding(const uint8_t* h, std::size_t n) {
  return n == 0 || (n >= 8 && TagIs(h + 4, "ftyp")) || (n >= 12 && TagIs(h + 8, "AVI ")) ||
         (n >= 4 && h[0] == 0x1A && h[1] == 0x45);
}

std::string NameTheFile(const uint8_t* h, std::size_t n) {
  if (n == 0) return kFileEmpty;
  if (n >= 8 && TagIs(h + 4, "ftyp")) return Unsupported("an MPEG-4/AAC file");
  if (n >= 4 && h[0] == 0x1A && h[1] == 0x45 && h[2] == 0xDF && h[3] == 0xA3) {
    return Unsupported("a Matroska/WebM file");
  }
  if (n >= 12 && TagIs(h, "RIFF") && TagIs(h + 8, "AVI ")) return Unsupported("an AVI video file");
  if (WalkRiff(std::span(h, n), n).form != RiffForm::None) return kDamagedWav;
  if (n >= 12 && TagIs(h, "FORM") && (TagIs(h + 8, "AIFF") || TagIs(h + 8, "AIFC"))) {
    return kDamagedAiff;
  }
  if (n >= 4 && TagIs(h, "fLaC")) return kDamagedFlac;
  if (n >= 4 && TagIs(h, "OggS")) return kDamagedOgg;
  if (n >= 3 && std::memcmp(h, "ID3", 3) == 0) return kId3NoAudio;
  if (n >= 2 && h[0] == 0xFF && (h[1] & 0xF6) == 0xF0) return Unsupported("an AAC file");
  if (n >= 4 && TagIs(h, "wvpk")) return Unsupported("a WavPack file");
  if (n >= 4 && TagIs(h, "MAC ")) return Unsupported("a Monkey's Audio file");
  if (n >= 4 && TagIs(h, "caff")) return Unsupported("a CAF file");
  const bool text = std::all_of(h, h + n, [](uint8_t b) {
    return b >= 0x20 ? b != 0x7F : (b == '\t' || b == '\n' || b == '\r' || b == '\f');
  });
  return text ? kIsText : kNotAudio;
}

ConversionPlan PlanConversion(const AudioFileInfo& info, bool plain, uint32_t pedalChannels,
                              bool mix, bool both) {
  ConversionPlan plan;
  if (mix && pedalChannels == 1) plan.rule = ChannelRule::Sum;
  if (both && pedalChannels == 2) plan.rule = ChannelRule::Both;
  if (plain) {
    plan.format = MakeWavFormat(info.channels, info.rate, info.bits);
  } else {
    plan.decoded = true;
    const bool native = info.rate == kPedalFrameRate;
    const uint32_t rate =
        native || info.rate == 44100 || info.rate == 48000 ? info.rate : kDecodedRate;
    plan.resampled = rate != info.rate;
    uint32_t channels = std::min<uint32_t>(info.channels, 2);
    plan.downmixed = info.channels > 2;
    if (native) {
      // The pedal's own rate goes in as it is, laid straight into pages: its channels must be
      // the pedal's.
      channels = pedalChannels;
    } else if (channels == 2 && pedalChannels == 1 && plan.rule == ChannelRule::Sum) {
      channels = 1;
    } else if (channels == 1 && pedalChannels == 2 && plan.rule == ChannelRule::Both) {
      channels = 2;
    }
    plan.mixedToMono = info.channels >= 2 && pedalChannels == 1 && plan.rule == ChannelRule::Sum;
    plan.format = MakeWavFormat(channels, rate, 24);
  }
  plan.description = DescribeSource(info);
  const std::string changes = DescribeChanges(info, plan, pedalChannels);
  plan.changes = !changes.empty();
  if (plan.changes) plan.description += kConvertsTo + changes;
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
  return GroupThousands(rate) + kHz;
}

std::string DescribeChannels(uint32_t channels) {
  return channels == 1   ? kMono
         : channels == 2 ? kStereo
                         : std::to_string(channels) + kChannelsSuffix;
}

}  // namespace rendax
